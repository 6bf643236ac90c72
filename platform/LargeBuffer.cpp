#include "platform/LargeBuffer.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Below this the few faults saved are not worth a system call.
constexpr size_t kHugePageWorthy = size_t{4} << 20;

} // namespace

void ReserveLarge(std::string& text, size_t size)
{
    text.reserve(size);
    if (text.capacity() < kHugePageWorthy)
        return;
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(text.data());
    const uintptr_t first = (begin + page - 1) & ~(page - 1);
    const uintptr_t end = (begin + text.capacity()) & ~(page - 1);
    // Advice only: where it is refused, the block stays as it is.
    if (end > first)
        (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}
