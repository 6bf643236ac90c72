#include "collection/Fendrel.h"

#include "collection/IdOrderPass.h"
#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include <future>
#include <system_error>
#include <vector>

// What a node is to a filter, for its passes over the nodes in id order.
namespace {
constexpr uint8_t kReached = 1;  // below the discs: shown only if one of the others holds
constexpr uint8_t kBelowHit = 2; // below a hit
constexpr uint8_t kHit = 4;
constexpr uint8_t kAboveHit = 8; // a hit, or above one through ParentId
} // namespace

int32_t TFendrel::FindNodes(const std::string& filter, TCollectionBranch& hits)
{
    hits.clear();
    BeginProgress(Ansi("Просмотр коллекции: просмотрено %d каталогов"));
    std::vector<uint8_t>& states = SearchStates_;
    const bool inIdOrder = SearchInIdOrder(filter, hits, states);
    if (!inIdOrder) {
        // Lists that the pass cannot take: the walk through them, counted from the start again.
        hits.clear();
        ProgressCount = 0;
        StepsSinceClock_ = 0;
        SearchList(Discs, filter, hits);
    }
    EndProgress();
    // The marks change only once the whole collection has been searched, and not at all when
    // nothing matched: the filter shown before stays.
    if (!hits.empty() && !(inIdOrder && MarkFound(hits, states)))
        ApplyFilter(hits);
    return static_cast<int32_t>(hits.size());
}

void TFendrel::SetTwoThreadSearchNodes(size_t nodes)
{
    TwoThreadSearchNodes_ = nodes;
}

void TFendrel::SearchList(const TCollectionBranch& list, const std::string& filter,
                          TCollectionBranch& hits)
{
    // Depth-first pre-order with an explicit stack: each frame is an id list and the position
    // of the next id to visit in it. A list counts one progress step when it is done, so the
    // count ends at one more than the number of nodes reached (each node's Children is a list,
    // a file's empty one too).
    struct TFrame {
        const TCollectionBranch* List;
        size_t Next;
    };
    std::vector<TFrame> pending{{&list, 0}};
    while (!pending.empty()) {
        TFrame& top = pending.back();
        if (top.Next == top.List->size()) {
            pending.pop_back();
            CountProgress();
            continue;
        }
        const uint32_t id = (*top.List)[top.Next++];
        const TCollectionNode& node = GetNode(id);
        // A disc's title is never searched: a disc shows only for what it holds.
        if (!node.Is(nfDisc) && FoldedNodeNameContains(node.Name, filter))
            hits.push_back(id);
        if (node.Children.empty()) {
            CountProgress();
        } else {
            pending.push_back({&node.Children, 0});
        }
    }
}

// The ids of a collection read from its file come in the walk's pre-order: every list holds ids in
// increasing order, and the whole branch of each node lies between it and its next sibling (or
// the end of its parent's branch). The pass checks exactly that as it goes, noting for each node
// reached where its branch must end, so that visiting the reached nodes in id order is visiting
// them in pre-order, each once, and the hits come in the walk's order.
bool TFendrel::SearchInIdOrder(const std::string& filter, TCollectionBranch& hits,
                               std::vector<uint8_t>& states)
{
    const auto last = static_cast<uint32_t>(Nodes.size());
    std::vector<uint32_t>& ends = SearchEnds_;
    ends.assign(static_cast<size_t>(last) + 1, 0); // 0: not reached
    states.assign(static_cast<size_t>(last) + 1, 0);
    // Notes the ids of list, which lies after the id after and before end.
    const auto enter = [&](const TCollectionBranch& list, uint32_t after, uint32_t end,
                           uint8_t state) {
        for (size_t i = 0; i < list.size(); ++i) {
            const uint32_t id = list[i];
            if (id <= after || id >= end || ends[id] != 0)
                return false;
            ends[id] = i + 1 < list.size() ? list[i + 1] : end;
            states[id] = state;
            after = id;
        }
        return true;
    };
    if (!enter(Discs, 0, last + 1, kReached))
        return false;
    // A disc's title is never searched: a disc shows only for what it holds.
    const auto matches = [&filter](const TCollectionNode& node) {
        return !node.Is(nfDisc) && FoldedNodeNameContains(node.Name, filter);
    };
    // In a large collection the names of the upper half of the ids are tested on a second thread
    // while this one passes the lower half; the pass then takes the answers from there.
    uint32_t half = last >= TwoThreadSearchNodes_ ? last / 2 : last;
    std::vector<uint8_t>& upper = SearchMatches_;
    std::future<void> upperTested;
    if (half < last) {
        upper.assign(last - half, 0);
        try {
            upperTested = std::async(std::launch::async, [this, &upper, &matches, half, last] {
                for (uint32_t id = half + 1; id <= last; ++id)
                    upper[id - half - 1] = matches(*Nodes.Find(id)) ? 1 : 0;
            });
        } catch (const std::system_error&) {
            half = last; // no thread to be had: this one tests every name
        }
    }
    for (uint32_t id = 1; id <= last; ++id) {
        if (id == half + 1)
            upperTested.get();
        if (ends[id] == 0)
            continue;
        const TCollectionNode& node = *Nodes.Find(id);
        if (id <= half ? matches(node) : upper[id - half - 1] != 0) {
            hits.push_back(id);
            states[id] |= kHit;
        }
        CountProgress();
        const uint8_t below = (states[id] & (kHit | kBelowHit)) ? kBelowHit : 0;
        if (!enter(node.Children, id, ends[id], kReached | below))
            return false;
    }
    CountProgress(); // the list of the discs, as the walk counts it
    return true;
}

namespace {

// Notes kAboveHit on every hit and every node above one, each path walked once. False when a
// node on the way is missing.
bool MarkAboveHits(const TNodeStore& nodes, const TCollectionBranch& hits,
                   std::vector<uint8_t>& states)
{
    for (const uint32_t hit : hits) {
        for (uint32_t id = hit; id != 0 && !(states[id] & kAboveHit);) {
            const TCollectionNode* node = nodes.Find(id);
            if (!node)
                return false;
            states[id] |= kAboveHit;
            id = node->ParentId;
        }
    }
    return true;
}

} // namespace

// The marks of ApplyFilter(hits), given the states of the search in id order: its reached
// nodes, hits and nodes below hits. False, with no mark changed, when a node above a hit is
// missing.
bool TFendrel::MarkFound(const TCollectionBranch& hits, std::vector<uint8_t>& states)
{
    if (!MarkAboveHits(Nodes, hits, states))
        return false;
    for (uint32_t id = 1; id < states.size(); ++id) {
        const uint8_t state = states[id];
        if (state == 0)
            continue;
        TCollectionNode& node = *Nodes.Find(id);
        if (state & (kAboveHit | kBelowHit))
            node.Flags &= ~nfFilteredOut;
        else
            node.Flags |= nfFilteredOut; // only reached
    }
    return true;
}

void TFendrel::ApplyFilter(const TCollectionBranch& hits)
{
    if (hits.empty()) {
        SetFlagsDeep(Discs, ~nfFilteredOut, 0);
        return;
    }
    if (ApplyFilterInIdOrder(hits))
        return;

    // The walk through the lists, for collections whose lists the pass cannot take. It gives the
    // same marks whatever a pass that stopped part-way has set, since it sets every mark it
    // decides on.
    SetFlagsDeep(Discs, 0xFFFFFFFF, nfFilteredOut);

    // Unmark every hit with the nodes above and below it. Hits share paths and nest (a hit
    // folder holding hit files), so each node is walked through at most once per direction;
    // otherwise the time would grow with hits times depth.
    constexpr uint8_t upDone = 1;   // the node and every node above it are unmarked
    constexpr uint8_t downDone = 2; // every node below the node is unmarked
    std::vector<uint8_t> done(static_cast<size_t>(LastId) + 1, 0);

    for (const uint32_t hit : hits) {
        for (uint32_t id = hit; id != 0;) {
            TCollectionNode& node = GetNode(id); // only ids up to LastId are found
            if (done[id] & upDone)
                break;
            done[id] |= upDone;
            node.Flags &= ~nfFilteredOut;
            id = node.ParentId;
        }
    }

    std::vector<const TCollectionBranch*> pending;
    for (const uint32_t hit : hits) {
        const TCollectionNode& node = GetNode(hit);
        if (done[hit] & downDone)
            continue;
        done[hit] |= downDone;
        pending.push_back(&node.Children);
        while (!pending.empty()) {
            const TCollectionBranch* branch = pending.back();
            pending.pop_back();
            for (const uint32_t id : *branch) {
                TCollectionNode& child = GetNode(id);
                child.Flags &= ~nfFilteredOut;
                if (!(done[id] & downDone)) {
                    done[id] |= downDone;
                    if (!child.Children.empty())
                        pending.push_back(&child.Children);
                }
            }
        }
    }
}

// The marks of ApplyFilter in one pass over the nodes: every node below the discs is marked,
// except the hits, the nodes above them (through ParentId, whether below the discs or not) and
// the nodes below them. False when the pass cannot take the collection's lists; some marks may
// then have been set already.
bool TFendrel::ApplyFilterInIdOrder(const TCollectionBranch& hits)
{
    std::vector<uint8_t>& states = SearchStates_;
    states.assign(Nodes.size() + 1, 0);
    if (!MarkStart(Discs, Nodes.size(), states, kReached) ||
        !MarkStart(hits, Nodes.size(), states, kHit))
        return false;
    if (!MarkAboveHits(Nodes, hits, states))
        return false;
    return PassInIdOrder(
        Nodes, states,
        [](const TCollectionNode&, uint8_t state) -> uint8_t {
            return (state & kReached) | ((state & (kHit | kBelowHit)) ? kBelowHit : 0);
        },
        [](TCollectionNode& node, uint8_t state) {
            if (state & (kAboveHit | kBelowHit))
                node.Flags &= ~nfFilteredOut;
            else
                node.Flags |= nfFilteredOut; // only reached
        });
}
