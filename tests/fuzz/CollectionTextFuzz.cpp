// Loads arbitrary bytes as a collection file. Whatever the bytes, the reader must not crash or
// read outside the text, and whatever it kept must save to a text that loads back to itself,
// read to its end. A copy of what it kept, and the removal of its first disc, made again on the
// reloaded collection, must give the same collection. The extension section's data (disc records,
// whole sizes, checksums) goes along every way, and a reader of the record lines alone still
// reads every record. Read with its second half on a thread of its own, the text must give
// what it gives on one thread.
#include "collection/CollectionChange.h"
#include "collection/Fendrel.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TFendrel loaded;
    size_t readTo = 0;
    TFendrel::SetTwoThreadLoadBytes(SIZE_MAX);
    const bool read = loaded.LoadFromText(text, readTo);
    if (readTo > text.size())
        std::abort();
    {
        TFendrel::SetTwoThreadLoadBytes(0);
        TFendrel split;
        size_t splitTo = 0;
        const bool splitRead = split.LoadFromText(text, splitTo);
        TFendrel::SetTwoThreadLoadBytes(SIZE_MAX);
        if (splitRead != read || splitTo != readTo || split.LastId != loaded.LastId ||
            split.Discs != loaded.Discs || split.SaveToText() != loaded.SaveToText())
            std::abort();
    }
    // Every node read is reachable, also after a failure part-way.
    const std::string saved = loaded.SaveToText();

    TFendrel reloaded;
    if (!reloaded.LoadFromText(saved, readTo) || readTo != saved.size() ||
        reloaded.LastId != loaded.LastId || reloaded.SaveToText() != saved)
        std::abort();
    // A reader of the record lines alone gets every record of the saved text, and nothing else.
    TFendrel recordsOnly;
    recordsOnly.ReadsExtensionSection = false;
    if (!recordsOnly.LoadFromText(saved) || recordsOnly.LastId != loaded.LastId ||
        !recordsOnly.DiscRecords.empty() || !recordsOnly.Checksums.empty())
        std::abort();

    TFendrel copied;
    TCollectionChange::DiscsAppended(loaded.Discs).ApplyTo(loaded, copied);
    if (copied.SaveToText() != saved)
        std::abort();
    if (!loaded.Discs.empty()) {
        const size_t discs = reloaded.Discs.size();
        TCollectionChange::DiscRemoved(loaded, loaded.Discs.front()).ApplyTo(loaded, reloaded);
        if (reloaded.Discs.size() != discs - 1)
            std::abort();
    }
    return 0;
}
