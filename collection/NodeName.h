#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

// A node's name: 8-bit text with value semantics, like std::string, but names of up to 30 bytes
// (most file names) live inside its 32 bytes, so a collection of a million nodes does not pay a
// heap block per name. Read it as a std::string_view; use std::string(name) to build on it.
class TNodeName {
public:
    static constexpr size_t InlineCapacity = 30;

    TNodeName() noexcept { SetInline(0); }
    TNodeName(std::string_view text) { Init(text); }   // NOLINT: converts like std::string
    TNodeName(const std::string& text) { Init(text); } // NOLINT
    TNodeName(const char* text) { Init(std::string_view(text)); } // NOLINT
    TNodeName(const TNodeName& other) { Init(other.view()); }
    TNodeName(TNodeName&& other) noexcept
    {
        std::memcpy(Bytes_, other.Bytes_, sizeof Bytes_);
        other.SetInline(0);
    }
    ~TNodeName() { Release(); }

    TNodeName& operator=(const TNodeName& other)
    {
        if (this != &other)
            Reassign(other.view());
        return *this;
    }
    TNodeName& operator=(TNodeName&& other) noexcept
    {
        if (this != &other) {
            Release();
            std::memcpy(Bytes_, other.Bytes_, sizeof Bytes_);
            other.SetInline(0);
        }
        return *this;
    }
    TNodeName& operator=(std::string_view text) { return Reassign(text); }
    TNodeName& operator=(const std::string& text) { return Reassign(text); }
    TNodeName& operator=(const char* text) { return Reassign(std::string_view(text)); }

    [[nodiscard]] size_t size() const noexcept { return IsHeap() ? HeapSize() : Bytes_[Tag]; }
    [[nodiscard]] bool empty() const noexcept { return size() == 0; }
    [[nodiscard]] const char* data() const noexcept
    {
        return IsHeap() ? HeapPointer() : reinterpret_cast<const char*>(Bytes_);
    }
    [[nodiscard]] std::string_view view() const noexcept { return {data(), size()}; }
    // A name kept inline starts a block of PaddedSize bytes that may all be read, those after the
    // name holding anything; this is that block, or null for a longer name. A scan can then read
    // whole blocks instead of stopping at the name's end.
    static constexpr size_t PaddedSize = 32;
    [[nodiscard]] const char* PaddedData() const noexcept
    {
        return IsHeap() ? nullptr : reinterpret_cast<const char*>(Bytes_);
    }
    operator std::string_view() const noexcept { return view(); } // NOLINT: reads like a string
    [[nodiscard]] std::string str() const { return std::string(view()); }

    friend bool operator==(const TNodeName& a, const TNodeName& b) { return a.view() == b.view(); }
    friend bool operator==(const TNodeName& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const TNodeName& a, const char* b) { return a.view() == b; }
    friend std::ostream& operator<<(std::ostream& out, const TNodeName& name)
    {
        return out << name.view();
    }

private:
    static constexpr size_t Tag = 31; // inline: the size; heap: HeapTag
    static constexpr uint8_t HeapTag = 0xFF;

    [[nodiscard]] bool IsHeap() const noexcept { return Bytes_[Tag] == HeapTag; }
    void SetInline(size_t size) noexcept
    {
        Bytes_[size] = 0;
        Bytes_[Tag] = static_cast<uint8_t>(size);
    }
    [[nodiscard]] char* HeapPointer() const noexcept
    {
        char* pointer;
        std::memcpy(&pointer, Bytes_, sizeof pointer);
        return pointer;
    }
    [[nodiscard]] size_t HeapSize() const noexcept
    {
        uint64_t size;
        std::memcpy(&size, Bytes_ + 8, sizeof size);
        return static_cast<size_t>(size);
    }
    // Copies up to InlineCapacity bytes with two fixed-size copies that overlap in the middle:
    // the compiler turns a copy of a variable length into a string instruction whose start-up
    // costs more than copying a short name, and a load of a million names copies each once.
    static void CopyShort(uint8_t* to, const char* from, size_t size) noexcept
    {
        if (size >= 16) {
            std::memcpy(to, from, 16);
            std::memcpy(to + size - 16, from + size - 16, 16);
        } else if (size >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + size - 8, from + size - 8, 8);
        } else if (size >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + size - 4, from + size - 4, 4);
        } else if (size > 0) {
            to[0] = static_cast<uint8_t>(from[0]);
            to[size / 2] = static_cast<uint8_t>(from[size / 2]);
            to[size - 1] = static_cast<uint8_t>(from[size - 1]);
        }
    }
    void Init(std::string_view text)
    {
        if (text.size() <= InlineCapacity) {
            CopyShort(Bytes_, text.data(), text.size());
            SetInline(text.size());
            return;
        }
        char* pointer = new char[text.size() + 1];
        std::memcpy(pointer, text.data(), text.size());
        pointer[text.size()] = 0;
        const uint64_t size = text.size();
        std::memcpy(Bytes_, &pointer, sizeof pointer);
        std::memcpy(Bytes_ + 8, &size, sizeof size);
        Bytes_[Tag] = HeapTag;
        // The block is owned through the pointer copied into Bytes_ and freed by Release().
        // cppcheck-suppress memleak
    }
    TNodeName& Reassign(std::string_view text)
    {
        const std::less_equal<const char*> atOrBefore;
        const char* mine = data();
        if (atOrBefore(mine, text.data()) && atOrBefore(text.data(), mine + size())) {
            TNodeName copy(text); // text points into this name
            *this = std::move(copy);
            return *this;
        }
        if (text.size() <= InlineCapacity) { // nothing to allocate, so nothing can fail
            Release();
            Init(text);
            return *this;
        }
        TNodeName copy(text);
        *this = std::move(copy);
        return *this;
    }
    void Release() noexcept
    {
        if (IsHeap())
            delete[] HeapPointer();
    }

    // Every byte is set from the start, so that the whole block can be read whatever the name.
    uint8_t Bytes_[PaddedSize] = {};
};
