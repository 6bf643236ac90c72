#include "platform/LargeBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// Blocks of any size start on a huge page, are zero and may be written to their last byte; the
// mapping given back is the one made, whatever the size asked for.
TEST(LargeBuffer, BlocksAreAlignedZeroAndWholeForEverySize)
{
    for (const size_t size :
         {size_t{1}, kHugePage - 1, kHugePage, kHugePage + 1, 5 * kHugePage + 3}) {
        TLargeBlock block = AllocateLarge(size);
        ASSERT_TRUE(block) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block.get()) % kHugePage, 0U) << size;
        EXPECT_EQ(LargeBlockSize(size) % kHugePage, 0U);
        EXPECT_GE(LargeBlockSize(size), size);
        auto* bytes = static_cast<unsigned char*>(block.get());
        const size_t mapped = LargeBlockSize(size);
        EXPECT_EQ(bytes[0], 0);
        EXPECT_EQ(bytes[mapped - 1], 0);
        bytes[0] = 1;
        bytes[mapped - 1] = 1;
    }
}

// A container that grows from small to many megabytes keeps what it holds as its memory moves
// from the allocator's to mappings of its own, and back when it is swapped for an empty one.
TEST(LargeBuffer, ContainersKeepTheirContentsAcrossTheThreshold)
{
    TLargeVector<uint32_t> numbers;
    TLargeString text;
    for (uint32_t i = 0; i < 3'000'000; ++i) {
        numbers.push_back(i);
        if (i % 3 == 0)
            text += static_cast<char>('a' + i % 26);
    }
    ASSERT_GE(numbers.capacity() * sizeof(uint32_t), TLargeAllocator<uint32_t>::kWorthy);
    const uint64_t sum = std::accumulate(numbers.begin(), numbers.end(), uint64_t{0});
    EXPECT_EQ(sum, uint64_t{2'999'999} * 3'000'000 / 2);
    EXPECT_EQ(text.size(), 1'000'000U);
    for (size_t i = 0; i < text.size(); i += 9973)
        ASSERT_EQ(text[i], static_cast<char>('a' + (i * 3) % 26)) << i;
    TLargeVector<uint32_t>().swap(numbers);
    EXPECT_EQ(numbers.capacity(), 0U);

    TLargeArray<uint64_t> array(1'000'000);
    EXPECT_EQ(array.size(), 1'000'000U);
    EXPECT_EQ(array[999'999], 0U);
    array[999'999] = 7;
    array = TLargeArray<uint64_t>(10);
    EXPECT_EQ(array[9], 0U);
}

} // namespace
