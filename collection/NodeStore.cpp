#include "collection/NodeStore.h"

#include "platform/LargeBuffer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

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

void TNodeStore::Join(TTail&& tail)
{
    if (tail.Count_ == 0)
        return;
    if (tail.First_ != Count_)
        throw std::logic_error("a tail joined out of order");
    // When the store's last chunk is partly filled, the tail's first chunk holds the rest of it:
    // those nodes move, and that chunk goes with the tail.
    const size_t moved =
        Count_ % ChunkSize == 0 ? 0 : std::min(tail.Count_, ChunkSize - Count_ % ChunkSize);
    const size_t firstWhole = moved == 0 ? 0 : 1;
    Chunks_.reserve(Chunks_.size() + tail.Chunks_.size() - firstWhole);
    for (size_t index = Count_; index < Count_ + moved; ++index) {
        TCollectionNode& from = tail.At(index);
        std::construct_at(&Chunks_.back()[index % ChunkSize], std::move(from));
        std::destroy_at(&from);
    }
    for (size_t chunk = firstWhole; chunk < tail.Chunks_.size(); ++chunk)
        Chunks_.push_back(std::move(tail.Chunks_[chunk]));
    Count_ += tail.Count_;
    tail.Chunks_.clear();
    tail.Count_ = 0;
}

TNodeStore::TTail::TTail(uint32_t firstId)
    : First_(firstId == 0 ? 0 : firstId - size_t{1})
{
}

TNodeStore::TTail::~TTail()
{
    for (size_t index = First_; index < First_ + Count_; ++index)
        std::destroy_at(&At(index));
}

TCollectionNode& TNodeStore::TTail::Append()
{
    const size_t index = First_ + Count_;
    if (index / ChunkSize - First_ / ChunkSize == Chunks_.size())
        Chunks_.push_back(NewChunk(!Chunks_.empty()));
    TCollectionNode* node = std::construct_at(&At(index));
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
