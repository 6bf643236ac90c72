#include "discs/FileContents.h"

#include "discs/Volume.h"

#include <memory>
#include <vector>
// The library picks the fastest code the processor has for the checksum when it runs.
#include <xxh_x86dispatch.h>
#include <xxhash.h>

namespace {

struct TStateDeleter {
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

// Where in [from, from + length) the first unit that cannot be read lies; from + length when the
// whole stretch reads now.
uint64_t FirstBadUnit(IFileContent& file, uint64_t from, size_t length,
                      std::vector<uint8_t>& buffer)
{
    const uint64_t end = from + length;
    for (uint64_t at = from; at < end; at += kFaultUnit) {
        const size_t unit = static_cast<size_t>(std::min<uint64_t>(kFaultUnit, end - at));
        const std::optional<size_t> got = file.Read(at, std::span(buffer.data(), unit));
        if (!got)
            return at;
        if (*got < unit)
            return at + *got;
    }
    return end;
}

void ReadOne(IVolume& volume, const TFileToRead& what, TFileReading& result,
             std::vector<uint8_t>& buffer, XXH3_state_t& state, TReadingProgress& progress)
{
    const std::unique_ptr<IFileContent> file = volume.OpenFile(what.Path, what.Where);
    if (!file) {
        result.Outcome = TFileReading::TOutcome::Unreadable;
        return;
    }
    if (!file->Ordinary()) {
        result.Outcome = TFileReading::TOutcome::NotOrdinary;
        return;
    }
    XXH3_128bits_reset(&state);
    uint64_t offset = 0;
    while (offset < what.Size) {
        if (progress.Cancel.load(std::memory_order_relaxed))
            return;
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), what.Size - offset));
        const std::optional<size_t> got = file->Read(offset, std::span(buffer.data(), want));
        if (!got || *got < want) {
            result.Outcome = TFileReading::TOutcome::Unreadable;
            result.BadOffset = got ? offset + *got : FirstBadUnit(*file, offset, want, buffer);
            return;
        }
        XXH3_128bits_update(&state, buffer.data(), want);
        offset += want;
        progress.Bytes.fetch_add(want, std::memory_order_relaxed);
    }
    const XXH128_hash_t hash = XXH3_128bits_digest(&state);
    result.Outcome = TFileReading::TOutcome::Read;
    result.Checksum = {hash.low64, hash.high64};
}

} // namespace

bool ReadFileContents(IVolume& volume, const std::vector<TFileToRead>& files,
                      std::vector<TFileReading>& results, TReadingProgress& progress)
{
    results.assign(files.size(), TFileReading{});
    std::vector<uint8_t> buffer(kContentBlock);
    const std::unique_ptr<XXH3_state_t, TStateDeleter> state(XXH3_createState());
    if (!state)
        throw std::bad_alloc();
    for (size_t i = 0; i < files.size(); ++i) {
        if (progress.Cancel.load(std::memory_order_relaxed))
            return false;
        ReadOne(volume, files[i], results[i], buffer, *state, progress);
        if (results[i].Outcome == TFileReading::TOutcome::NotRead)
            return false; // cancelled in the middle of the file
        progress.Files.fetch_add(1, std::memory_order_relaxed);
    }
    return true;
}

uint64_t TotalSize(const std::vector<TFileToRead>& files)
{
    uint64_t total = 0;
    for (const TFileToRead& file : files)
        total += file.Size;
    return total;
}
