#pragma once

// The small pieces of a UDF file system's records: little-endian fields, descriptor tags, names
// and labels in OSTA compressed unicode, and timestamps.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

using TUdfBytes = std::span<const uint8_t>;

// Little-endian fields; the caller has checked that they lie inside bytes.
[[nodiscard]] inline uint16_t UdfLe16(TUdfBytes bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
[[nodiscard]] inline uint32_t UdfLe32(TUdfBytes bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}
[[nodiscard]] inline uint64_t UdfLe64(TUdfBytes bytes, size_t at)
{
    return UdfLe32(bytes, at) | uint64_t{UdfLe32(bytes, at + 4)} << 32;
}

// Descriptor kinds, as their tags name them.
enum TUdfTag : uint16_t {
    kUdfPrimaryVolume = 1,
    kUdfAnchor = 2,
    kUdfVolumePointer = 3,
    kUdfPartition = 5,
    kUdfLogicalVolume = 6,
    kUdfTerminating = 8,
    kUdfFileSet = 256,
    kUdfFileIdentifier = 257,
    kUdfAllocationExtent = 258,
    kUdfIndirect = 259,
    kUdfFileEntry = 261,
    kUdfExtendedFileEntry = 266,
};

// True when descriptor starts with a tag of that kind whose checksum is right.
[[nodiscard]] bool IsUdfTag(TUdfBytes descriptor, uint16_t kind);

// Characters in OSTA compressed unicode (a compression byte, 8 for one byte a character and 16
// for big-endian UTF-16, then the characters) as UTF-8. A lone surrogate becomes U+FFFD, and an
// odd byte left after 16-bit characters is dropped.
[[nodiscard]] std::string Utf8FromCs0(TUdfBytes characters);
// A fixed field whose last byte tells how many of its bytes hold characters, as UTF-8, up to
// the first NUL.
[[nodiscard]] std::string Utf8FromDstring(TUdfBytes field);

// A 12-byte timestamp as a FILETIME (UTC). A local time is moved by its offset from UTC; a time
// with no offset, or one out of range, is taken as UTC.
[[nodiscard]] uint64_t FileTimeFromUdf(TUdfBytes timestamp);

// A block of a partition, named by its place in the logical volume's list of partitions.
struct TUdfAddress {
    uint32_t Block = 0;
    uint16_t Partition = 0;
};
[[nodiscard]] inline TUdfAddress UdfAddressAt(TUdfBytes bytes, size_t at)
{
    return {UdfLe32(bytes, at), UdfLe16(bytes, at + 4)};
}

// One file identifier of a directory.
struct TUdfIdentifier {
    uint8_t Characteristics = 0;
    // Read through std::optional, where cppcheck does not see it used.
    // cppcheck-suppress unusedStructMember
    TUdfAddress Entry;
    TUdfBytes Name;
};

// The file identifiers of a directory, one at a time. They follow one another without regard
// to block boundaries, each padded to four bytes.
class TUdfIdentifierCursor {
public:
    explicit TUdfIdentifierCursor(TUdfBytes directory)
        : Bytes_(directory)
    {
    }
    // The next identifier; nothing at the end, and when one is damaged (Damaged() then tells).
    std::optional<TUdfIdentifier> Next();
    [[nodiscard]] bool Damaged() const { return Damaged_; }

private:
    TUdfBytes Bytes_;
    size_t At_ = 0;
    bool Damaged_ = false;
};

// True for an identifier of a folder.
[[nodiscard]] bool IsUdfFolder(const TUdfIdentifier& identifier);
// False for the identifiers that name no entry of the folder: the parent, deleted files and
// named streams.
[[nodiscard]] bool IsUdfListed(const TUdfIdentifier& identifier);
// The name of an identifier in UTF-8, with no "/" (which separates the names of a path) and
// no NUL; empty for an identifier that names nothing.
[[nodiscard]] std::string UdfRawName(const TUdfIdentifier& identifier);
