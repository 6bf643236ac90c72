#include "collection/NodeStore.h"

TCollectionNode& TNodeStore::Append()
{
    if (Count_ == Chunks_.size() * ChunkSize)
        Chunks_.push_back(std::make_unique<TCollectionNode[]>(ChunkSize));
    TCollectionNode& node = Chunks_[Count_ / ChunkSize][Count_ % ChunkSize];
    ++Count_;
    return node;
}
