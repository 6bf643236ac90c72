#include "search/FindSnapshot.h"

#include "collection/Fendrel.h"
#include "collection/PreOrderWalk.h"
#include "platform/LargeBuffer.h"

#include <algorithm>

TFindSnapshot::TFindSnapshot(const TFendrel& collection)
{
    Entries_.reserve(collection.LastId); // every node ever added: enough for those reachable
    PrefaultLarge(Entries_.data(), Entries_.capacity() * sizeof(TEntry));
    ReserveLarge(Names_, size_t{collection.LastId} * 24);
    WalkInPreOrder<true>(collection, NoParent,
                         [this](const TCollectionNode& node, uint32_t parent, uint32_t& index) {
                             index = static_cast<uint32_t>(Entries_.size());
                             TEntry& entry = Entries_.emplace_back();
                             entry.Id = node.Id;
                             entry.Parent = parent;
                             entry.Flags = node.Flags & 0xFF;
                             entry.NameStart = Names_.size();
                             entry.NameSize = static_cast<uint32_t>(node.Name.size());
                             entry.Size = node.FullSize();
                             entry.Time = (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
                             Names_.append(node.Name.view());
                             return true;
                         });

    // A folder's size is the total of the files at any depth below it, as the list shows it:
    // children come after their parent, so one backward pass adds each total into its parent.
    for (TEntry& entry : Entries_)
        if (!(entry.Flags & nfFile))
            entry.Size = 0;
    for (size_t i = Entries_.size(); i-- > 0;) {
        const TEntry& entry = Entries_[i];
        // A file's own size stands, whatever a hand-made file put below it.
        if (entry.Parent == NoParent || (Entries_[entry.Parent].Flags & nfFile))
            continue;
        if (entry.Flags & (nfFolder | nfFile))
            Entries_[entry.Parent].Size += entry.Size;
    }
}

size_t TFindSnapshot::DiscOf(size_t index) const
{
    while (Entries_[index].Parent != NoParent)
        index = Entries_[index].Parent;
    return index;
}

std::string TFindSnapshot::Path(size_t index, char separator) const
{
    std::vector<size_t> chain; // from the entry up to just below the disc
    for (size_t at = index; Entries_[at].Parent != NoParent; at = Entries_[at].Parent)
        chain.push_back(at);
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        path += separator;
        path += Name(*at);
    }
    return path;
}

bool FindInSnapshot(const TFindSnapshot& snapshot, TFindQuery& query, std::vector<uint32_t>& hits,
                    const TFindCheckpoint& checkpoint)
{
    constexpr size_t kCheckInterval = 8192;
    const size_t count = snapshot.size();
    for (size_t start = 0; start < count; start += kCheckInterval) {
        const size_t end = std::min(count, start + kCheckInterval);
        for (size_t i = start; i < end; ++i) {
            const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
            if (entry.Flags & nfDisc)
                continue;
            const TFindCandidate candidate{snapshot.Name(i), (entry.Flags & nfFolder) != 0,
                                           entry.Size, entry.Time};
            if (query.Matches(candidate))
                hits.push_back(static_cast<uint32_t>(i));
        }
        if (checkpoint && !checkpoint(hits))
            return false;
        if (!query.Trouble().empty())
            return false;
    }
    if (count == 0 && checkpoint)
        return checkpoint(hits);
    return true;
}
