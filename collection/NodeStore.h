#pragma once

#include "collection/CollectionNode.h"

#include <memory>
#include <vector>

// Every node of a collection, found by id. Ids are dense (1 to the last one given out), so nodes
// sit in fixed-size chunks indexed by id: a node never moves once stored, which keeps references
// valid while more nodes are added. A chunk is one huge page of memory (2 MiB), so that ten million
// nodes take a few hundred huge pages instead of hundreds of thousands of small ones.
class TNodeStore {
public:
    TNodeStore() = default;
    ~TNodeStore();
    TNodeStore(const TNodeStore&) = delete;
    TNodeStore& operator=(const TNodeStore&) = delete;

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

    static constexpr size_t ChunkBytes = size_t{2} << 20;
    static constexpr size_t ChunkSize = ChunkBytes / sizeof(TCollectionNode); // nodes a chunk

    class TTail;
    // Takes every node of tail, whose first id must be size() + 1. The nodes keep their ids; at
    // most one chunk's nodes move, the others are handed over whole.
    void Join(TTail&& tail);

private:
    // A chunk's memory, freed as NewChunk allocated it; its nodes are made by Append one by one
    // and destroyed by the store.
    struct TChunkDeleter {
        void operator()(TCollectionNode* nodes) const;
    };
    using TChunk = std::unique_ptr<TCollectionNode[], TChunkDeleter>;
    // large: the collection has filled a chunk already, so it is worth mapping the next one
    // whole at once.
    [[nodiscard]] static TChunk NewChunk(bool large);

    std::vector<TChunk> Chunks_;
    size_t Count_ = 0;
};

// Nodes stored apart from a store, with the ids from a given one on, until they are joined to the
// store once it holds every id before them: a part of a collection file is so read on a thread of
// its own while the store takes the part before it. The chunks line up with the store's, so that
// a chunk of the tail is a chunk of the store after the join.
class TNodeStore::TTail {
public:
    explicit TTail(uint32_t firstId);
    ~TTail();
    TTail(const TTail&) = delete;
    TTail& operator=(const TTail&) = delete;

    // Stores a default node under the next id (FirstId() + size()) and returns it.
    TCollectionNode& Append();
    [[nodiscard]] uint32_t FirstId() const { return static_cast<uint32_t>(First_ + 1); }
    [[nodiscard]] size_t size() const { return Count_; }

private:
    friend class TNodeStore;
    [[nodiscard]] TCollectionNode& At(size_t index)
    {
        return Chunks_[index / ChunkSize - First_ / ChunkSize][index % ChunkSize];
    }

    size_t First_; // the index of the first node, one less than its id
    // Chunks_[0] stands where the store's chunk of the first node stands; its slots before the
    // first node are never used.
    std::vector<TChunk> Chunks_;
    size_t Count_ = 0;
};
