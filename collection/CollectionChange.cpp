#include "collection/CollectionChange.h"

#include "collection/DiscUpdate.h"
#include "collection/Fendrel.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace {

constexpr uint32_t kKinds = nfFile | nfFolder | nfDisc;

// A name as the collection file gives it back: without leading blanks, up to its first CR, at
// most 255 bytes.
std::string_view ReadBack(std::string_view name)
{
    const size_t first = name.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    name.remove_prefix(first);
    return name.substr(0, std::min(name.find('\r'), size_t{255}));
}

// The children the file holds for a node: a file's are never written.
const TCollectionBranch& WrittenChildren(const TCollectionNode& node)
{
    static const TCollectionBranch none;
    return node.Is(nfFile) ? none : node.Children;
}

// Calls visit(node) for the disc and everything below it in the order of the file, with a stack
// of its own: a hand-made file may nest deeper than the thread's stack.
template <typename TVisit> bool EachRecord(const TFendrel& collection, uint32_t disc, TVisit visit)
{
    std::vector<uint32_t> pending{disc};
    while (!pending.empty()) {
        const TCollectionNode& node = collection.GetNode(pending.back());
        pending.pop_back();
        if (!visit(node))
            return false;
        const TCollectionBranch& children = WrittenChildren(node);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return true;
}

} // namespace

TCollectionChange TCollectionChange::DiscsAppended(TCollectionBranch discs)
{
    TCollectionChange change;
    change.Appended_ = std::move(discs);
    return change;
}

std::vector<TCollectionChange::TRecord> TCollectionChange::RecordsOf(const TFendrel& collection,
                                                                     uint32_t disc)
{
    std::vector<TRecord> records;
    EachRecord(collection, disc, [&](const TCollectionNode& node) {
        records.push_back({node.Flags & kKinds, node.WriteTimeHigh, node.WriteTimeLow, node.Size,
                           TNodeName(ReadBack(node.Name)), WrittenChildren(node).size()});
        return true;
    });
    return records;
}

TCollectionChange TCollectionChange::DiscRemoved(const TFendrel& collection, uint32_t disc)
{
    TCollectionChange change;
    change.Removed_ = RecordsOf(collection, disc);
    return change;
}

TCollectionChange TCollectionChange::DiscRenamed(const TFendrel& collection, uint32_t disc,
                                                 TNodeName title)
{
    TCollectionChange change;
    change.Edited_ = RecordsOf(collection, disc);
    change.NewTitle_ = std::move(title);
    return change;
}

TCollectionChange TCollectionChange::NotesChanged(const TFendrel& collection, uint32_t disc,
                                                  std::string notes)
{
    TCollectionChange change;
    change.Edited_ = RecordsOf(collection, disc);
    change.NewNotes_ = std::move(notes);
    return change;
}

TCollectionChange TCollectionChange::DiscUpdated(const TFendrel& collection, uint32_t disc,
                                                 bool treeReplaced)
{
    TCollectionChange change;
    change.Updated_ = disc;
    change.TreeReplaced_ = treeReplaced;
    change.BeforeUpdate_ = RecordsOf(collection, disc);
    return change;
}

bool TCollectionChange::HasRecords(const std::vector<TRecord>& records, const TFendrel& collection,
                                   uint32_t disc, bool withTitle)
{
    size_t next = 0;
    return EachRecord(collection, disc,
                      [&](const TCollectionNode& node) {
                          if (next == records.size())
                              return false;
                          const bool title = next == 0 && !withTitle;
                          const TRecord& record = records[next++];
                          return record.Kind == (node.Flags & kKinds) &&
                                 record.WriteTimeHigh == node.WriteTimeHigh &&
                                 record.WriteTimeLow == node.WriteTimeLow &&
                                 record.Size == node.Size &&
                                 record.Children == WrittenChildren(node).size() &&
                                 (title || record.Name.view() == ReadBack(node.Name));
                      }) &&
           next == records.size();
}

bool TCollectionChange::IsRemovedDisc(const TFendrel& collection, uint32_t disc) const
{
    return HasRecords(Removed_, collection, disc, true);
}

void TCollectionChange::ApplyUpdate(const TFendrel& source, TFendrel& target) const
{
    // A disc the window has removed since it updated it is not brought back: its removal comes
    // next.
    if (std::find(source.Discs.begin(), source.Discs.end(), Updated_) == source.Discs.end())
        return;
    uint32_t found = 0;
    for (const bool withTitle : {true, false}) {
        for (const uint32_t disc : target.Discs)
            if (HasRecords(BeforeUpdate_, target, disc, withTitle)) {
                found = disc;
                break;
            }
        if (found)
            break;
    }
    // A disc added and then updated while both changes waited for one save was copied as it is
    // now by the first change: it is found by its new records and not added twice.
    bool current = false;
    if (found == 0) {
        const std::vector<TRecord> now = RecordsOf(source, Updated_);
        for (const uint32_t disc : target.Discs)
            if (HasRecords(now, target, disc, true)) {
                found = disc;
                current = true;
                break;
            }
    }
    const bool appended = found == 0;
    if (appended) {
        DiscsAppended({Updated_}).ApplyTo(source, target);
        found = target.Discs.back();
    } else if (TreeReplaced_ && !current) {
        ReplaceDiscTree(target, found, source, Updated_);
    }
    const auto updated = source.DiscRecords.find(Updated_);
    if (updated == source.DiscRecords.end())
        return;
    TDiscRecord& record = target.DiscRecords[found];
    if (appended) {
        record = updated->second;
        return;
    }
    // The update sets what was read from the medium; the other program's notes and dates stay.
    record.Facts = updated->second.Facts;
    record.Updated = updated->second.Updated;
}

void TCollectionChange::ApplyTo(const TFendrel& source, TFendrel& target) const
{
    if (Updated_ != 0)
        ApplyUpdate(source, target);
    if (!Removed_.empty()) {
        const auto found = std::find_if(target.Discs.begin(), target.Discs.end(),
                                        [&](uint32_t disc) { return IsRemovedDisc(target, disc); });
        if (found != target.Discs.end())
            target.DeleteDisc(*found);
    }

    if (!Edited_.empty()) {
        const auto found =
            std::find_if(target.Discs.begin(), target.Discs.end(),
                         [&](uint32_t disc) { return HasRecords(Edited_, target, disc, true); });
        if (found != target.Discs.end()) {
            if (NewTitle_)
                target.GetNode(*found).Name = *NewTitle_;
            if (NewNotes_)
                target.DiscRecords[*found].Notes = *NewNotes_;
        }
    }

    // A disc the window has removed again since it added it (both changes waiting for one save)
    // is no longer copied: its removal, replayed next, would find no copy as it was.
    const std::unordered_set<uint32_t> present =
        Appended_.empty() ? std::unordered_set<uint32_t>()
                          : std::unordered_set<uint32_t>(source.Discs.begin(), source.Discs.end());
    for (const uint32_t disc : Appended_) {
        if (!present.contains(disc))
            continue;
        // What the extension section keeps of the disc and its files goes with them.
        (void)AppendDiscCopy(target, source, disc);
    }
}
