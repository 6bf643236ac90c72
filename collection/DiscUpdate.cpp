#include "collection/DiscUpdate.h"

#include "collection/Fendrel.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

int64_t ReplaceDiscTree(TFendrel& target, uint32_t disc, const TFendrel& source, uint32_t from)
{
    target.DetachSubtree(target.GetNode(disc).Children);
    int64_t copied = 0;
    // Pairs of a node of source and the id of the node of target its copy goes under; children
    // are pushed last first, so that they are copied in order, each with everything below it.
    std::vector<std::pair<uint32_t, uint32_t>> pending;
    const TCollectionBranch& top = source.GetNode(from).Children;
    for (auto child = top.rbegin(); child != top.rend(); ++child)
        pending.emplace_back(*child, disc);
    while (!pending.empty()) {
        const auto [original, parent] = pending.back();
        pending.pop_back();
        const TCollectionNode& node = source.GetNode(original);
        TCollectionNode value;
        value.Name = node.Name;
        value.Flags = node.Flags & ~nfFilteredOut;
        value.WriteTimeLow = node.WriteTimeLow;
        value.WriteTimeHigh = node.WriteTimeHigh;
        value.Size = node.Size;
        value.ParentId = parent;
        const uint32_t id = target.AddNode(target.GetNode(parent).Children, value).Id;
        ++copied;
        if (const auto checksum = source.Checksums.find(original);
            checksum != source.Checksums.end())
            target.Checksums[id] = checksum->second;
        if (node.Is(nfFile))
            continue;
        for (auto child = node.Children.rbegin(); child != node.Children.rend(); ++child)
            pending.emplace_back(*child, id);
    }
    return copied;
}

uint32_t AppendDiscCopy(TFendrel& target, const TFendrel& source, uint32_t from)
{
    const TCollectionNode& original = source.GetNode(from);
    TCollectionNode value;
    value.Name = original.Name;
    value.Flags = original.Flags & ~nfFilteredOut;
    value.WriteTimeLow = original.WriteTimeLow;
    value.WriteTimeHigh = original.WriteTimeHigh;
    value.Size = original.Size;
    const uint32_t id = target.AddNode(target.Discs, value).Id;
    if (const auto record = source.DiscRecords.find(from); record != source.DiscRecords.end())
        target.DiscRecords[id] = record->second;
    ReplaceDiscTree(target, id, source, from);
    return id;
}

void CarryChecksums(const TFendrel& collection, uint32_t from, TFendrel& scan, uint32_t to)
{
    if (collection.Checksums.empty())
        return;
    std::vector<std::pair<uint32_t, uint32_t>> pending = {{from, to}};
    std::unordered_map<std::string_view, uint32_t> before;
    while (!pending.empty()) {
        const auto [old, now] = pending.back();
        pending.pop_back();
        before.clear();
        for (const uint32_t child : collection.GetNode(old).Children)
            before.emplace(collection.GetNode(child).Name.view(), child);
        for (const uint32_t child : scan.GetNode(now).Children) {
            const TCollectionNode& node = scan.GetNode(child);
            const auto found = before.find(node.Name.view());
            if (found == before.end())
                continue;
            const TCollectionNode& recorded = collection.GetNode(found->second);
            if (node.Is(nfFolder) && recorded.Is(nfFolder)) {
                pending.emplace_back(found->second, child);
            } else if (node.Is(nfFile) && recorded.Is(nfFile) &&
                       node.FullSize() == recorded.FullSize() &&
                       node.WriteTimeLow == recorded.WriteTimeLow &&
                       node.WriteTimeHigh == recorded.WriteTimeHigh) {
                if (const auto sum = collection.Checksums.find(found->second);
                    sum != collection.Checksums.end())
                    scan.Checksums.try_emplace(child, sum->second);
            }
        }
    }
}
