#include "collection/NodeStore.h"

TCollectionNode& TNodeStore::Append()
{
    if (Count_ == Chunks_.size() * ChunkSize)
        Chunks_.push_back(std::make_unique<TCollectionNode[]>(ChunkSize));
    TCollectionNode& node = Chunks_[Count_ / ChunkSize][Count_ % ChunkSize];
    ++Count_;
    return node;
}

TCollectionNode* TNodeStore::Find(uint32_t id)
{
    if (id == 0 || id > Count_)
        return nullptr;
    const size_t index = id - 1;
    return &Chunks_[index / ChunkSize][index % ChunkSize];
}

const TCollectionNode* TNodeStore::Find(uint32_t id) const
{
    return const_cast<TNodeStore*>(this)->Find(id);
}
