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
