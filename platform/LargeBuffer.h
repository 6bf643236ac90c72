#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// Reserves room for size bytes in text. The pages of a block of many megabytes, such as the text
// of a large collection file, are all mapped in one request instead of one page fault each, which
// would take longer than filling them. Nothing else changes where the system cannot do that.
void ReserveLarge(std::string& text, size_t size);
// The same for a block of memory not yet written: its whole pages are mapped in one request. For
// blocks of a few hundred kilobytes and more, such as the chunks of a collection's nodes.
void PrefaultLarge(void* block, size_t size);
// The same for a block aligned to a huge page and a whole number of them long: it is mapped in
// huge pages where the system allows them for the asking (a mapping of 2 MiB instead of 512 of 4
// KiB costs a third of the time on the machines measured), in small ones otherwise.
void PrefaultHugePages(void* block, size_t size);

// Memory of at least size bytes, zero, in huge pages where the system gives them and all mapped in
// one request; null when the system has none to give. For arrays of tens of megabytes and more,
// filled once and dropped whole.
struct TLargeBlockDeleter {
    size_t Size = 0;
    void operator()(void* block) const;
};
using TLargeBlock = std::unique_ptr<void, TLargeBlockDeleter>;
[[nodiscard]] TLargeBlock AllocateLarge(size_t size);
// The size of the mapping AllocateLarge makes for size bytes.
[[nodiscard]] size_t LargeBlockSize(size_t size);

// count values of T in such memory, each zero at first. Throws std::bad_alloc when there is no
// memory for them.
template <typename T> class TLargeArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    explicit TLargeArray(size_t count)
        : Block_(AllocateLarge(std::max<size_t>(count, 1) * sizeof(T)))
        , Count_(count)
    {
        if (!Block_)
            throw std::bad_alloc();
    }
    [[nodiscard]] T* data() const { return static_cast<T*>(Block_.get()); }
    [[nodiscard]] size_t size() const { return Count_; }
    T& operator[](size_t index) const { return data()[index]; }

private:
    TLargeBlock Block_;
    size_t Count_;
};

// An allocator for containers that may grow to many megabytes: blocks of kWorthy bytes and more
// come from AllocateLarge, in huge pages, the others from operator new. Fresh small pages cost
// more than the work done in them on some machines (a page fault each, three times the time of
// a huge page's on the virtual machines measured).
template <typename T> class TLargeAllocator {
public:
    using value_type = T;
    static constexpr size_t kWorthy = size_t{1} << 20;

    TLargeAllocator() = default;
    // cppcheck-suppress noExplicitConstructor
    template <typename U> TLargeAllocator(const TLargeAllocator<U>&) noexcept {} // NOLINT

    [[nodiscard]] T* allocate(size_t count)
    {
        const size_t size = count * sizeof(T);
        if (size < kWorthy)
            return static_cast<T*>(::operator new(size));
        TLargeBlock block = AllocateLarge(size);
        if (!block)
            throw std::bad_alloc();
        return static_cast<T*>(block.release());
    }
    void deallocate(T* block, size_t count) noexcept
    {
        const size_t size = count * sizeof(T);
        if (size < kWorthy)
            ::operator delete(block);
        else
            TLargeBlock(block, TLargeBlockDeleter{LargeBlockSize(size)});
    }
    template <typename U> bool operator==(const TLargeAllocator<U>&) const noexcept { return true; }
};

template <typename T> using TLargeVector = std::vector<T, TLargeAllocator<T>>;
using TLargeString = std::basic_string<char, std::char_traits<char>, TLargeAllocator<char>>;
