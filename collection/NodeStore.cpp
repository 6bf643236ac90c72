#include "collection/NodeStore.h"

#include "platform/LargeBuffer.h"

#include <memory>
#include <new>

namespace {

constexpr std::align_val_t kChunkAlignment{size_t{2} << 20};

} // namespace

TNodeStore::~TNodeStore()
{
    for (size_t index = 0; index < Count_; ++index)
        std::destroy_at(&Chunks_[index / ChunkSize][index % ChunkSize]);
}

TCollectionNode& TNodeStore::Append()
{
    if (Count_ == Chunks_.size() * ChunkSize)
        Chunks_.push_back(NewChunk(!Chunks_.empty()));
    TCollectionNode* node = std::construct_at(&Chunks_[Count_ / ChunkSize][Count_ % ChunkSize]);
    ++Count_;
    return *node;
}

TNodeStore::TChunk TNodeStore::NewChunk(bool large)
{
    static_assert(ChunkBytes == static_cast<size_t>(kChunkAlignment));
    void* memory = ::operator new(ChunkBytes, kChunkAlignment);
    // Only a collection past its first chunk asks for the whole of the next one at once: a small
    // one (most tests, every fuzzed input) touches only the pages its nodes take.
    if (large)
        PrefaultHugePages(memory, ChunkBytes);
    return TChunk(static_cast<TCollectionNode*>(memory));
}

void TNodeStore::TChunkDeleter::operator()(TCollectionNode* nodes) const
{
    ::operator delete(nodes, kChunkAlignment);
}
