#include "collection/Fendrel.h"

#include "collection/FendrelError.h"
#include "collection/IdOrderPass.h"
#include "collection/ProgressLine.h"
#include "platform/AnsiText.h"

#include <algorithm>

TFendrel::TFendrel(TProgressLine* progress)
    : Progress_(progress)
{
}

TCollectionNode& TFendrel::AddNode(TCollectionBranch& list, const TCollectionNode& value)
{
    TCollectionNode& node = Nodes.Append();
    node = value;
    node.Id = ++LastId;
    list.push_back(node.Id);
    return node;
}

void TFendrel::ThrowNodeNotFound()
{
    throw EFendrelError("Node not found");
}

void TFendrel::DeleteDisc(uint32_t id)
{
    if (id == 0)
        return;
    if (!Checksums.empty()) {
        std::vector<uint32_t> pending{id};
        while (!pending.empty()) {
            const TCollectionNode& node = GetNode(pending.back());
            pending.pop_back();
            Checksums.erase(node.Id);
            pending.insert(pending.end(), node.Children.begin(), node.Children.end());
        }
    }
    DetachSubtree(GetNode(id).Children);
    DiscRecords.erase(id);
    if (const auto found = std::find(Discs.begin(), Discs.end(), id); found != Discs.end())
        Discs.erase(found);
}

// The walks below keep their own stack instead of recursing, so that a collection nested
// deeper than the thread's stack (only a hand-made file can be) cannot crash them.

void TFendrel::DetachSubtree(TCollectionBranch& list)
{
    std::vector<TCollectionBranch*> pending{&list};
    while (!pending.empty()) {
        TCollectionBranch* branch = pending.back();
        pending.pop_back();
        for (const uint32_t id : *branch)
            pending.push_back(&GetNode(id).Children);
        branch->clear();
        branch->shrink_to_fit();
    }
}

void TFendrel::SetFlagsDeep(const TCollectionBranch& list, uint32_t andMask, uint32_t orMask)
{
    // The masks give the same flags when applied twice, so a pass in id order that stops
    // part-way can be followed by the walk.
    std::vector<uint8_t> below;
    if (MarkStart(list, Nodes.size(), below, 1) &&
        PassInIdOrder(
            Nodes, below, [](const TCollectionNode&, uint8_t) -> uint8_t { return 1; },
            [=](TCollectionNode& node, uint8_t) { node.Flags = (node.Flags & andMask) | orMask; }))
        return;
    std::vector<const TCollectionBranch*> pending{&list};
    while (!pending.empty()) {
        const TCollectionBranch* branch = pending.back();
        pending.pop_back();
        for (const uint32_t id : *branch) {
            TCollectionNode& node = GetNode(id);
            node.Flags = (node.Flags & andMask) | orMask;
            if (!node.Children.empty())
                pending.push_back(&node.Children);
        }
    }
}

uint64_t TFendrel::SumFileSizes(const TCollectionNode& node) const
{
    uint64_t total = 0;
    std::vector<const TCollectionBranch*> pending{&node.Children};
    while (!pending.empty()) {
        const TCollectionBranch* branch = pending.back();
        pending.pop_back();
        for (const uint32_t id : *branch) {
            const TCollectionNode& child = GetNode(id);
            if (child.Is(nfFolder))
                pending.push_back(&child.Children);
            else if (child.Is(nfFile))
                total += child.FullSize();
        }
    }
    return total;
}

void TFendrel::BeginProgress(std::string format)
{
    ProgressCount = 0;
    StepsSinceClock_ = 0;
    ProgressFormat = std::move(format);
    StepProgress();
}

void TFendrel::StepProgress()
{
    if (!Progress_ || !Progress_->Due())
        return;
    std::string text = ProgressFormat;
    if (const size_t at = text.find("%d"); at != std::string::npos)
        text.replace(at, 2, std::to_string(ProgressCount));
    Progress_->Show(text);
}

void TFendrel::EndProgress()
{
    if (Progress_)
        Progress_->Show(Ansi(" Готово"));
}
