#include "collection/NodeStore.h"

#include "platform/LargeBuffer.h"

#include <memory>
#include <new>

TCollectionNode& TNodeStore::Append()
{
    if (Count_ == Chunks_.size() * ChunkSize)
        Chunks_.push_back(NewChunk());
    TCollectionNode& node = Chunks_[Count_ / ChunkSize][Count_ % ChunkSize];
    ++Count_;
    return node;
}

TNodeStore::TChunk TNodeStore::NewChunk()
{
    // A load of ten million records fills three thousand chunks of fresh memory: mapping each
    // chunk's pages in one request, before its nodes are made, costs half of a fault per page.
    constexpr size_t bytes = ChunkSize * sizeof(TCollectionNode);
    void* memory = ::operator new(bytes);
    PrefaultLarge(memory, bytes);
    auto* nodes = static_cast<TCollectionNode*>(memory);
    std::uninitialized_value_construct_n(nodes, ChunkSize); // no node's constructor throws
    return TChunk(nodes);
}

void TNodeStore::TChunkDeleter::operator()(TCollectionNode* nodes) const
{
    std::destroy_n(nodes, ChunkSize);
    ::operator delete(nodes);
}
