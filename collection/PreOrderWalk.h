#pragma once

#include "collection/Fendrel.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Visits every disc, folder and file reachable from the collection's discs in depth-first
// pre-order, the order of the filter's hits. visit(node, mark) gets the mark its parent's visit
// gave (top for a disc), sets the mark for the node's own children, and returns false to stop
// the walk; the walk returns false when it was stopped. An explicit stack of (list, next
// position, mark) keeps a collection nested deeper than the thread's stack from crashing it.
// With prefetchNames, names too long to sit in their nodes are asked for some turns ahead too.
template <bool prefetchNames = false, typename TVisit>
bool WalkInPreOrder(const TFendrel& collection, uint32_t top, TVisit&& visit)
{
    struct TFrame {
        const TCollectionBranch* List;
        size_t Next;
        uint32_t Mark;
    };
    std::vector<TFrame> pending{{&collection.Discs, 0, top}};
    while (!pending.empty()) {
        TFrame& frame = pending.back();
        if (frame.Next == frame.List->size()) {
            pending.pop_back();
            continue;
        }
        // Waiting for each node in turn would take most of the time of a walk through millions.
        constexpr size_t kNodesAhead = 8;
        constexpr size_t kNamesAhead = 4;
        if (frame.Next + kNodesAhead < frame.List->size())
            __builtin_prefetch(collection.Nodes.Find((*frame.List)[frame.Next + kNodesAhead]));
        if (prefetchNames && frame.Next + kNamesAhead < frame.List->size())
            __builtin_prefetch(
                collection.GetNode((*frame.List)[frame.Next + kNamesAhead]).Name.view().data());
        const TCollectionNode& node = collection.GetNode((*frame.List)[frame.Next++]);
        uint32_t mark = 0;
        if (!visit(node, frame.Mark, mark))
            return false;
        if (!node.Children.empty())
            pending.push_back({&node.Children, 0, mark}); // frame is not used after this
    }
    return true;
}
