#include "collection/DiscTreeDiff.h"

#include "collection/Fendrel.h"
#include "collection/NameOrder.h"

#include <algorithm>

namespace {

[[nodiscard]] uint64_t WriteTime(const TCollectionNode& node)
{
    return (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
}

// The tree's order of names, made total by the bytes of names equal but for letter case.
[[nodiscard]] int CompareNames(const TCollectionNode& a, const TCollectionNode& b)
{
    if (const int order = CompareNamesIC(a.Name, b.Name); order != 0)
        return order;
    return a.Name.view().compare(b.Name.view());
}

// A folder's children (files have none) sorted by name.
[[nodiscard]] std::vector<const TCollectionNode*> SortedChildren(const TFendrel& collection,
                                                                 const TCollectionNode* node)
{
    std::vector<const TCollectionNode*> children;
    if (!node || node->Is(nfFile))
        return children;
    children.reserve(node->Children.size());
    for (const uint32_t id : node->Children)
        children.push_back(&collection.GetNode(id));
    std::sort(children.begin(), children.end(),
              [](const TCollectionNode* a, const TCollectionNode* b) {
                  return CompareNames(*a, *b) < 0;
              });
    return children;
}

// One folder being merged: its sorted children on either side (one side is empty below an added
// or removed folder) and how far the merge has come.
struct TMergeFrame {
    std::vector<const TCollectionNode*> Old;
    std::vector<const TCollectionNode*> New;
    size_t NextOld = 0;
    size_t NextNew = 0;
    size_t PathLength = 0; // of the folder's path, with its trailing "\"
};

class TTreeComparer {
public:
    TTreeComparer(const TFendrel& oldCollection, const TFendrel& newCollection)
        : Old_(oldCollection)
        , New_(newCollection)
    {
    }

    TDiscTreeDiff Run(const TCollectionNode& before, const TCollectionNode& after)
    {
        Enter(&before, &after);
        // One step of the innermost folder's merge at a time, so that a folder's contents follow
        // it in the lists, without recursion: a disc may nest deeper than the thread's stack.
        while (!Frames_.empty()) {
            TMergeFrame& frame = Frames_.back();
            const bool oldLeft = frame.NextOld < frame.Old.size();
            const bool newLeft = frame.NextNew < frame.New.size();
            if (!oldLeft && !newLeft) {
                Frames_.pop_back();
                continue;
            }
            const TCollectionNode* oldNode = oldLeft ? frame.Old[frame.NextOld] : nullptr;
            const TCollectionNode* newNode = newLeft ? frame.New[frame.NextNew] : nullptr;
            const size_t pathLength = frame.PathLength;
            if (oldNode && newNode) {
                const int order = CompareNames(*oldNode, *newNode);
                if (order < 0)
                    newNode = nullptr;
                else if (order > 0)
                    oldNode = nullptr;
                else if (oldNode->Is(nfFolder) != newNode->Is(nfFolder))
                    newNode = nullptr; // the old entry goes now, the new one at the next step
            }
            if (oldNode)
                ++frame.NextOld;
            if (newNode)
                ++frame.NextNew;
            // frame may move from here on, as Visit enters folders.
            Path_.resize(pathLength);
            Path_ += (oldNode ? oldNode->Name : newNode->Name).view();
            Visit(oldNode, newNode);
        }
        return std::move(Diff_);
    }

private:
    void Enter(const TCollectionNode* before, const TCollectionNode* after)
    {
        TMergeFrame frame;
        frame.Old = SortedChildren(Old_, before);
        frame.New = SortedChildren(New_, after);
        if (frame.Old.empty() && frame.New.empty())
            return;
        frame.PathLength = Path_.size();
        Frames_.push_back(std::move(frame));
    }

    void Visit(const TCollectionNode* before, const TCollectionNode* after)
    {
        const TCollectionNode& node = after ? *after : *before;
        const bool folder = !node.Is(nfFile);
        TTreeChange change;
        change.Folder = folder;
        if (before) {
            change.OldSize = folder ? 0 : before->FullSize();
            change.OldTime = WriteTime(*before);
        }
        if (after) {
            change.NewSize = folder ? 0 : after->FullSize();
            change.NewTime = WriteTime(*after);
        }
        if (before && after) {
            if (change.OldSize != change.NewSize || change.OldTime != change.NewTime) {
                if (change.NewSize > change.OldSize)
                    Diff_.BytesAdded += change.NewSize - change.OldSize;
                else
                    Diff_.BytesRemoved += change.OldSize - change.NewSize;
                change.Path = Path_;
                Diff_.Changed.push_back(std::move(change));
            }
        } else {
            Diff_.BytesAdded += change.NewSize;
            Diff_.BytesRemoved += change.OldSize;
            change.Path = Path_;
            (after ? Diff_.Added : Diff_.Removed).push_back(std::move(change));
        }
        if (folder) {
            Path_ += '\\';
            Enter(before, after);
        }
    }

    const TFendrel& Old_;
    const TFendrel& New_;
    std::vector<TMergeFrame> Frames_;
    std::string Path_;
    TDiscTreeDiff Diff_;
};

} // namespace

TDiscTreeDiff CompareDiscTrees(const TFendrel& oldCollection, const TCollectionNode& before,
                               const TFendrel& newCollection, const TCollectionNode& after)
{
    return TTreeComparer(oldCollection, newCollection).Run(before, after);
}
