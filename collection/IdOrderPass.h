#pragma once

#include "collection/NodeStore.h"

#include <cstdint>
#include <vector>

// A walk through the lists of a collection done as one pass over its nodes in id order, which
// reads the store from front to back instead of jumping from list to list.
//
// It relies on every id in a node's Children being greater than the node's own id. AddNode
// guarantees that for every collection built through it, since a node can only be added below a
// node that is already there; so when the pass reaches a node, every list that holds it has been
// seen. A list that breaks the order (or names an id without a node) makes the pass stop and
// return false, and the caller walks the lists instead: a pass over a part of the nodes has then
// already visited some of them, so only work that gives the same result when done twice may
// use it.
//
// states: one byte per id (index 0 unused), holding on entry the bits of the nodes the walk starts
// from (the ids of its starting list) and nothing for the others. pass(node, state) gives the bits
// the node hands to its children, added to theirs. visit(node, state) runs once for
// each node whose state is not 0, in id order, after all its owners.
template <typename TPass, typename TVisit>
[[nodiscard]] bool PassInIdOrder(TNodeStore& nodes, std::vector<uint8_t>& states, TPass pass,
                                 TVisit visit)
{
    const auto last = static_cast<uint32_t>(nodes.size());
    if (states.size() <= last)
        states.resize(static_cast<size_t>(last) + 1, 0);
    for (uint32_t id = 1; id <= last; ++id) {
        const uint8_t state = states[id];
        if (state == 0)
            continue;
        TCollectionNode& node = *nodes.Find(id);
        visit(node, state);
        if (const uint8_t below = pass(node, state)) {
            for (const uint32_t child : node.Children) {
                if (child <= id || child > last)
                    return false;
                states[child] |= below;
            }
        }
    }
    return true;
}

// Marks the ids of list in states with bits; false when one names no node.
[[nodiscard]] inline bool MarkStart(const std::vector<uint32_t>& list, size_t nodeCount,
                                    std::vector<uint8_t>& states, uint8_t bits)
{
    if (states.size() <= nodeCount)
        states.resize(nodeCount + 1, 0);
    for (const uint32_t id : list) {
        if (id == 0 || id > nodeCount)
            return false;
        states[id] |= bits;
    }
    return true;
}
