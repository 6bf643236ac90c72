#include "platform/LargeBuffer.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14
#endif

namespace {

// Below this the few faults saved are not worth a system call.
constexpr size_t kPrefaultWorthy = size_t{4} << 20;

} // namespace

void ReserveLarge(std::string& text, size_t size)
{
    text.reserve(size);
    if (text.capacity() >= kPrefaultWorthy)
        PrefaultLarge(text.data(), text.capacity());
}

void PrefaultLarge(void* block, size_t size)
{
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + page - 1) & ~(page - 1);
    const uintptr_t end = (begin + size) & ~(page - 1);
    // Advice only: where it is refused (kernels before 5.14), the pages come one fault at a time.
    // Pages already mapped (memory the allocator hands out again) are left as they are.
    if (end > first)
        (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

void PrefaultHugePages(void* block, size_t size)
{
    // Where huge pages are not given for the asking, or none is free, this maps small ones.
    (void)::madvise(block, size, MADV_HUGEPAGE);
    PrefaultLarge(block, size);
}

void TLargeBlockDeleter::operator()(void* block) const
{
    ::munmap(block, Size);
}

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

} // namespace

size_t LargeBlockSize(size_t size)
{
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

TLargeBlock AllocateLarge(size_t size)
{
    // A mapping of its own: zero from the system, aligned to a huge page by trimming what lies
    // before the first one and after the last, and given back whole.
    const size_t rounded = LargeBlockSize(size);
    void* mapped = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return TLargeBlock(nullptr, TLargeBlockDeleter{});
    const auto begin = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (begin + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > begin)
        ::munmap(mapped, aligned - begin);
    if (const uintptr_t after = begin + rounded + kHugePage - (aligned + rounded); after > 0)
        ::munmap(reinterpret_cast<void*>(aligned + rounded), after);
    void* block = reinterpret_cast<void*>(aligned);
    PrefaultHugePages(block, rounded);
    return TLargeBlock(block, TLargeBlockDeleter{rounded});
}
