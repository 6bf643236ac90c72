#pragma once

#include "collection/CollectionNode.h"

#include <memory>
#include <vector>

// Every node of a collection, found by id. Ids are dense (1 to the last one given out), so nodes
// sit in fixed-size chunks indexed by id: a node never moves once stored, which keeps references
// valid while more nodes are added.
class TNodeStore {
public:
    // Stores a default node under the next id (size() + 1) and returns it.
    TCollectionNode& Append();
    [[nodiscard]] TCollectionNode* Find(uint32_t id);
    [[nodiscard]] const TCollectionNode* Find(uint32_t id) const;
    [[nodiscard]] size_t size() const { return Count_; }

private:
    static constexpr size_t ChunkSize = 4096;
    std::vector<std::unique_ptr<TCollectionNode[]>> Chunks_;
    size_t Count_ = 0;
};
