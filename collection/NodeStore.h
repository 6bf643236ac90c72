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
    // Inline: every walk over the collection looks up each node it visits.
    [[nodiscard]] TCollectionNode* Find(uint32_t id)
    {
        if (id == 0 || id > Count_)
            return nullptr;
        const size_t index = id - 1;
        return &Chunks_[index / ChunkSize][index % ChunkSize];
    }
    [[nodiscard]] const TCollectionNode* Find(uint32_t id) const
    {
        return const_cast<TNodeStore*>(this)->Find(id);
    }
    [[nodiscard]] size_t size() const { return Count_; }

private:
    static constexpr size_t ChunkSize = 4096;
    // A chunk's nodes are destroyed and its memory freed as it was allocated, by NewChunk.
    struct TChunkDeleter {
        void operator()(TCollectionNode* nodes) const;
    };
    using TChunk = std::unique_ptr<TCollectionNode[], TChunkDeleter>;
    [[nodiscard]] static TChunk NewChunk();

    std::vector<TChunk> Chunks_;
    size_t Count_ = 0;
};
