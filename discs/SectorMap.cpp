#include "discs/SectorMap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <sys/stat.h>

namespace {

constexpr uint32_t kBlockSize = 2048;
// Raw sectors read with one call: enough to keep the calls few, little enough to stay in cache.
constexpr uint64_t kRawSectorsAtOnce = 32;

uint64_t FileSize(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 && status.st_size > 0 ? static_cast<uint64_t>(status.st_size)
                                                           : 0;
}

} // namespace

bool ReadWhole(int fd, uint64_t offset, std::span<uint8_t> out)
{
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

TSectorMap::TSectorMap(std::vector<TUniqueFd> files, std::vector<TSectorRun> runs,
                       uint32_t sessionStart)
    : Files_(std::move(files))
    , SessionStart_(sessionStart)
{
    std::vector<uint64_t> sizes(Files_.size());
    std::ranges::transform(Files_, sizes.begin(),
                           [](const TUniqueFd& file) { return FileSize(file.Get()); });
    for (TSectorRun run : runs) {
        if (run.File >= Files_.size() || run.SectorSize < kBlockSize ||
            run.DataOffset > run.SectorSize - kBlockSize || run.Offset >= sizes[run.File])
            continue;
        // A file cut short holds the sectors it still has.
        const uint64_t held = (sizes[run.File] - run.Offset) / run.SectorSize;
        run.Count = static_cast<uint32_t>(std::min<uint64_t>(run.Count, held));
        if (run.Count > 0 && uint64_t{run.First} + run.Count <= UINT32_MAX)
            Runs_.push_back(run);
    }
    std::ranges::sort(Runs_, {}, &TSectorRun::First);
    std::vector<TSectorRun> kept;
    std::ranges::copy_if(Runs_, std::back_inserter(kept), [&kept](const TSectorRun& run) {
        return kept.empty() ||
               static_cast<uint64_t>(kept.back().First) + kept.back().Count <= run.First;
    });
    Runs_ = std::move(kept);
    if (!Runs_.empty())
        Size_ = (uint64_t{Runs_.back().First} + Runs_.back().Count) * kBlockSize;
}

const TSectorRun* TSectorMap::RunOf(uint64_t block) const
{
    auto after = std::ranges::upper_bound(
        Runs_, block, {}, [](const TSectorRun& run) { return uint64_t{run.First}; });
    if (after == Runs_.begin())
        return nullptr;
    const TSectorRun& run = *std::prev(after);
    return block < uint64_t{run.First} + run.Count ? &run : nullptr;
}

bool TSectorMap::Read(uint64_t offset, std::span<uint8_t> out) const
{
    if (offset > Size_ || out.size() > Size_ - offset)
        return false;
    size_t done = 0;
    while (done < out.size()) {
        const uint64_t at = offset + done;
        const uint64_t block = at / kBlockSize;
        const auto within = static_cast<uint32_t>(at % kBlockSize);
        const TSectorRun* run = RunOf(block);
        if (!run)
            return false;
        const uint64_t index = block - run->First;
        const uint64_t left = run->Count - index; // sectors of the run from block on
        const int fd = Files_[run->File].Get();
        const size_t wanted = out.size() - done;
        if (run->SectorSize == kBlockSize) {
            const size_t part =
                static_cast<size_t>(std::min<uint64_t>(wanted, left * kBlockSize - within));
            if (!ReadWhole(fd, run->Offset + index * kBlockSize + within, out.subspan(done, part)))
                return false;
            done += part;
            continue;
        }
        const uint64_t sectors =
            std::min({left, kRawSectorsAtOnce, (within + wanted + kBlockSize - 1) / kBlockSize});
        Raw_.resize(sectors * run->SectorSize);
        if (!ReadWhole(fd, run->Offset + index * run->SectorSize, Raw_))
            return false;
        for (uint64_t sector = 0; sector < sectors && done < out.size(); ++sector) {
            const uint32_t from = sector == 0 ? within : 0;
            const size_t part = std::min<size_t>(kBlockSize - from, out.size() - done);
            std::memcpy(out.data() + done,
                        Raw_.data() + sector * run->SectorSize + run->DataOffset + from, part);
            done += part;
        }
    }
    return true;
}
