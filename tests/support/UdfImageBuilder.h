#pragma once

// UDF images of a folder tree, written in memory without mounting anything: no tool in Debian
// writes files into a UDF file system without a loop device. Files get sizes but no contents
// (their extents are unallocated holes), so images of huge files stay small. The builder also
// tells where each entry and directory lies, for tests that damage them.

#include "support/DiscTrees.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct TUdfImageOptions {
    // A disc of UDF 2.50 like a Blu-ray: extended file entries, and the file set, the entries and
    // the directories in a metadata partition whose file lies in two pieces. Otherwise UDF 1.02:
    // file entries in the physical partition.
    bool Metadata = false;
    bool Embedded = false;        // directories that fit are kept inside their entries
    bool LongDescriptors = false; // long allocation descriptors instead of short ones
    uint32_t ExtentBlocks = 0;    // most blocks of one directory extent; 0: one extent
    // Most allocation descriptors in an entry; the rest go on in allocation extent blocks.
    uint32_t DescriptorsInEntry = 0;
    int ZoneMinutes = 0;          // times are recorded as local times at this offset from UTC
    bool SixteenBitNames = false; // names in 16 bits even when 8 would do
    std::string Label = "UDFDISC";
    std::string VolumeLabel; // of the primary volume descriptor; empty: Label
    bool EndAnchor = true;   // a second anchor in the last block
    // The bytes of some files, recorded after the file set in the physical partition, cut into
    // extents of ExtentBlocks (or kept in their entries when Embedded and they fit); a file
    // without them is an unallocated hole, read as zeros. Their sizes must match the tree's.
    std::map<std::string, std::string> Contents;
};

// An image and where its parts lie: byte offsets of each path's entry and of each folder's
// directory bytes ("" is the root; embedded directories lie inside their entries).
struct TUdfImage {
    std::string Bytes;
    std::map<std::string, size_t> Entry, Directory;
};

namespace udf_builder_detail {

constexpr size_t kBlock = 2048;
constexpr uint32_t kPartitionStart = 272; // the physical partition, after the anchor at 256
constexpr uint32_t kContinuationBlocks = 8;
constexpr uint32_t kIntegrityBlock = 64;

inline void Put16(std::string& b, size_t at, uint32_t v)
{
    b.at(at) = static_cast<char>(v);
    b.at(at + 1) = static_cast<char>(v >> 8);
}
inline void Put32(std::string& b, size_t at, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<char>(v >> (8 * i));
}
inline void Put64(std::string& b, size_t at, uint64_t v)
{
    Put32(b, at, static_cast<uint32_t>(v));
    Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

inline uint16_t Crc(const std::string& b, size_t at, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(static_cast<unsigned char>(b[at + i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Writes the tag of the descriptor of length bytes at offset at, once its body is written.
inline void Tag(std::string& b, size_t at, uint16_t kind, uint32_t location, size_t length,
                uint16_t version)
{
    Put16(b, at, kind);
    Put16(b, at + 2, version);
    Put16(b, at + 6, 1);
    Put16(b, at + 8, Crc(b, at + 16, length - 16));
    Put16(b, at + 10, static_cast<uint32_t>(length - 16));
    Put32(b, at + 12, location);
    uint8_t sum = 0;
    for (size_t i = 0; i < 16; ++i)
        sum = static_cast<uint8_t>(sum + (i == 4 ? 0 : static_cast<unsigned char>(b[at + i])));
    b.at(at + 4) = static_cast<char>(sum);
}

inline std::u32string Decode(const std::string& utf8)
{
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t code = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; k < n && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += code;
        i += n;
    }
    return out;
}

// A name in compressed unicode: 8 bits a character when every character fits.
inline std::string Cs0(const std::string& utf8, bool sixteen)
{
    const std::u32string text = Decode(utf8);
    for (const char32_t c : text)
        sixteen = sixteen || c > 0xFF;
    std::string out(1, static_cast<char>(sixteen ? 16 : 8));
    for (char32_t c : text) {
        if (!sixteen) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            const char32_t high = 0xD800 + (c >> 10), low = 0xDC00 + (c & 0x3FF);
            out += {static_cast<char>(high >> 8), static_cast<char>(high),
                    static_cast<char>(low >> 8), static_cast<char>(low)};
        } else {
            out += {static_cast<char>(c >> 8), static_cast<char>(c)};
        }
    }
    return out;
}

inline void Dstring(std::string& b, size_t at, size_t size, const std::string& utf8)
{
    const std::string chars = Cs0(utf8, false).substr(0, size - 1);
    b.replace(at, chars.size(), chars);
    b.at(at + size - 1) = static_cast<char>(chars.size());
}

inline void Timestamp(std::string& b, size_t at, int64_t utc, int zoneMinutes)
{
    const time_t local = static_cast<time_t>(utc + zoneMinutes * 60);
    std::tm t{};
    ::gmtime_r(&local, &t);
    Put16(b, at, (1u << 12) | (static_cast<uint32_t>(zoneMinutes) & 0x0FFF));
    Put16(b, at + 2, static_cast<uint32_t>(t.tm_year + 1900));
    const int fields[] = {t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
    for (size_t i = 0; i < 5; ++i)
        b.at(at + 4 + i) = static_cast<char>(fields[i]);
}

inline void Regid(std::string& b, size_t at, const std::string& id)
{
    b.replace(at + 1, id.size(), id);
}

class TBuilder {
public:
    TBuilder(const std::vector<TTreeEntry>& tree, const TUdfImageOptions& options)
        : Tree_(tree)
        , O_(options)
    {
    }

    TUdfImage Build()
    {
        // Folders first learn their children, then every node gets its entry's block.
        Nodes_.push_back({"", true, 0, 0, {}, 0, 0, 0, 0, {}});
        Indexes_[""] = 0;
        for (const TTreeEntry& e : Tree_) {
            Nodes_.push_back({e.Path, e.Folder, e.Time, e.Size, {}, 0, 0, 0, 0, {}});
            Nodes_.at(Index(ParentOf(e.Path))).Children.push_back(Nodes_.size() - 1);
            Indexes_[e.Path] = Nodes_.size() - 1;
        }
        // File-set blocks: 0 file set descriptor, 1 terminating descriptor, then entries.
        uint32_t next = 2;
        for (TNode& n : Nodes_)
            n.EntryBlock = next++;
        for (TNode& n : Nodes_) {
            if (n.Folder) {
                n.Directory = DirectoryBytes(n);
                if (!Embedded(n)) {
                    n.DirectoryBlock = next;
                    next += static_cast<uint32_t>((n.Directory.size() + kBlock - 1) / kBlock);
                }
            }
            if (O_.DescriptorsInEntry != 0) {
                n.Continuation = next;
                next += kContinuationBlocks;
            }
        }
        SetBlocks_ = next;
        // Physical partition: with a metadata partition, blocks 0 and 1 hold the metadata file's
        // entry and its mirror's, then its first piece, a gap of two blocks and its second.
        FirstPiece_ = (SetBlocks_ + 1) / 2;
        uint32_t partitionBlocks = O_.Metadata ? 2 + SetBlocks_ + 2 : SetBlocks_;
        for (TNode& n : Nodes_) {
            const auto content = O_.Contents.find(n.Path);
            if (n.Folder || content == O_.Contents.end() || EmbeddedContent(n))
                continue;
            n.DataBlock = partitionBlocks;
            partitionBlocks +=
                static_cast<uint32_t>((content->second.size() + kBlock - 1) / kBlock);
        }
        const uint64_t total = kPartitionStart + partitionBlocks + 1;
        Image_.Bytes.assign(total * kBlock, '\0');

        WriteRecognition();
        PartitionBlocks_ = partitionBlocks;
        for (const uint32_t at : {32u, 48u})
            WriteSequence(at, partitionBlocks);
        WriteIntegrity(O_.Metadata ? 2 : 1);
        WriteAnchor(256);
        if (O_.EndAnchor)
            WriteAnchor(static_cast<uint32_t>(total - 1));
        if (O_.Metadata) {
            WriteMetadataFile(0, 250);
            WriteMetadataFile(1, 251);
        }
        WriteFileSet();
        for (TNode& n : Nodes_)
            WriteNode(n);
        return std::move(Image_);
    }

private:
    struct TNode {
        std::string Path;
        bool Folder;
        int64_t Time;
        uint64_t Size;
        std::vector<size_t> Children;
        uint32_t EntryBlock = 0, DirectoryBlock = 0, Continuation = 0, DataBlock = 0;
        std::string Directory;
    };

    static std::string ParentOf(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? "" : path.substr(0, slash);
    }
    size_t Index(const std::string& path) const
    {
        const auto found = Indexes_.find(path);
        if (found == Indexes_.end())
            throw std::runtime_error("no folder " + path);
        return found->second;
    }
    uint16_t Version() const { return O_.Metadata ? 3 : 2; }
    uint16_t SetPartition() const { return O_.Metadata ? 1 : 0; }
    size_t EntryHead() const { return O_.Metadata ? 216 : 176; }
    bool Embedded(const TNode& n) const
    {
        return O_.Embedded && EntryHead() + n.Directory.size() <= kBlock;
    }
    bool EmbeddedContent(const TNode& n) const
    {
        const auto content = O_.Contents.find(n.Path);
        return O_.Embedded && content != O_.Contents.end() &&
               EntryHead() + content->second.size() <= kBlock;
    }

    // The image offset of a block of the file set (physical or metadata partition).
    size_t SetOffset(uint32_t block) const
    {
        if (!O_.Metadata)
            return (kPartitionStart + block) * kBlock;
        const uint32_t physical = block < FirstPiece_ ? 2 + block : 2 + block + 2;
        return (kPartitionStart + physical) * kBlock;
    }

    void WriteRecognition()
    {
        const std::string ids[] = {"BEA01", O_.Metadata ? "NSR03" : "NSR02", "TEA01"};
        for (size_t i = 0; i < 3; ++i) {
            Image_.Bytes.at((16 + i) * kBlock + 6) = 1;
            Image_.Bytes.replace((16 + i) * kBlock + 1, 5, ids[i]);
        }
    }

    void WriteSequence(uint32_t at, uint32_t partitionBlocks)
    {
        std::string& b = Image_.Bytes;
        size_t d = at * kBlock; // primary volume descriptor
        Put32(b, d + 16, 1);
        Dstring(b, d + 24, 32, O_.VolumeLabel.empty() ? O_.Label : O_.VolumeLabel);
        Put16(b, d + 56, 1);
        Put16(b, d + 58, 1);
        Put16(b, d + 60, 2);
        Put16(b, d + 62, 3);
        Put32(b, d + 64, 1);
        Put32(b, d + 68, 1);
        Dstring(b, d + 72, 128, "0123456789ABCDEF" + O_.Label);
        Regid(b, d + 200, "OSTA Compressed Unicode");
        Regid(b, d + 264, "OSTA Compressed Unicode");
        Tag(b, d, 1, at, 512, Version());

        d = (at + 1) * kBlock; // partition descriptor
        Put32(b, d + 16, 2);
        Put16(b, d + 20, 1);
        Regid(b, d + 24, O_.Metadata ? "+NSR03" : "+NSR02");
        Put32(b, d + 184, 1); // read only
        Put32(b, d + 188, kPartitionStart);
        Put32(b, d + 192, partitionBlocks);
        Tag(b, d, 5, at + 1, 512, Version());

        d = (at + 2) * kBlock; // logical volume descriptor
        Put32(b, d + 16, 3);
        b.at(d + 20) = 0; // CS0
        Regid(b, d + 20, "OSTA Compressed Unicode");
        Dstring(b, d + 84, 128, O_.Label);
        Put32(b, d + 212, kBlock);
        Regid(b, d + 216, "*OSTA UDF Compliant");
        Put16(b, d + 216 + 24, O_.Metadata ? 0x0250 : 0x0102);
        Put32(b, d + 248, kBlock); // the file set descriptor
        Put32(b, d + 252, 0);
        Put16(b, d + 256, SetPartition());
        const size_t maps = d + 440;
        b.at(maps) = 1;
        b.at(maps + 1) = 6;
        Put16(b, maps + 2, 1);
        Put16(b, maps + 4, 0);
        size_t tableLength = 6;
        if (O_.Metadata) {
            const size_t m = maps + 6;
            b.at(m) = 2;
            b.at(m + 1) = 64;
            Regid(b, m + 4, "*UDF Metadata Partition");
            Put16(b, m + 28, 0x0250);
            Put16(b, m + 36, 1);
            Put16(b, m + 38, 0);
            Put32(b, m + 40, 0);
            Put32(b, m + 44, 1);
            Put32(b, m + 48, 0xFFFFFFFF);
            Put32(b, m + 52, 32);
            Put16(b, m + 56, 1);
            tableLength += 64;
        }
        Put32(b, d + 264, static_cast<uint32_t>(tableLength));
        Put32(b, d + 268, O_.Metadata ? 2 : 1);
        Put32(b, d + 432, 16 * kBlock); // the integrity sequence
        Put32(b, d + 436, kIntegrityBlock);
        Tag(b, d, 6, at + 2, 440 + tableLength, Version());

        d = (at + 3) * kBlock; // implementation use volume descriptor
        Put32(b, d + 16, 4);
        Regid(b, d + 20, "*UDF LV Info");
        Regid(b, d + 52, "OSTA Compressed Unicode");
        Dstring(b, d + 116, 128, O_.Label);
        Tag(b, d, 4, at + 3, 512, Version());

        d = (at + 4) * kBlock; // unallocated space descriptor
        Put32(b, d + 16, 5);
        Tag(b, d, 7, at + 4, 24, Version());

        d = (at + 5) * kBlock;
        Tag(b, d, 8, at + 5, 512, Version());
    }

    void WriteIntegrity(uint32_t partitions)
    {
        std::string& b = Image_.Bytes;
        const size_t d = kIntegrityBlock * kBlock;
        Timestamp(b, d + 16, 0, 0);
        Put32(b, d + 28, 1); // closed
        Put64(b, d + 40, Nodes_.size() + 16);
        Put32(b, d + 72, partitions);
        Put32(b, d + 76, 46);
        size_t at = d + 80;
        for (uint32_t i = 0; i < partitions; ++i, at += 4)
            Put32(b, at, 0);
        for (uint32_t i = 0; i < partitions; ++i, at += 4)
            Put32(b, at, PartitionBlocks_);
        Regid(b, at, "*Fendrel tests");
        uint32_t folders = 0;
        for (const TNode& n : Nodes_)
            folders += n.Folder ? 1 : 0;
        Put32(b, at + 32, static_cast<uint32_t>(Nodes_.size()) - folders);
        Put32(b, at + 36, folders);
        const uint32_t revision = O_.Metadata ? 0x0250 : 0x0102;
        Put16(b, at + 40, revision);
        Put16(b, at + 42, revision);
        Put16(b, at + 44, revision);
        Tag(b, d, 9, kIntegrityBlock, at + 46 - d, Version());
        Tag(b, d + kBlock, 8, kIntegrityBlock + 1, 512, Version());
    }

    void WriteAnchor(uint32_t at)
    {
        std::string& b = Image_.Bytes;
        const size_t d = size_t{at} * kBlock;
        Put32(b, d + 16, 16 * kBlock);
        Put32(b, d + 20, 32);
        Put32(b, d + 24, 16 * kBlock);
        Put32(b, d + 28, 48);
        Tag(b, d, 2, at, 512, Version());
    }

    void WriteMetadataFile(uint32_t block, uint8_t type)
    {
        std::string& b = Image_.Bytes;
        const size_t d = (kPartitionStart + block) * kBlock;
        const size_t head = 216;
        Put16(b, d + 16 + 4, 4);
        Put16(b, d + 16 + 8, 1);
        b.at(d + 16 + 11) = static_cast<char>(type);
        Put16(b, d + 16 + 18, 0); // short descriptors
        Put16(b, d + 48, 1);
        Put64(b, d + 56, uint64_t{SetBlocks_} * kBlock);
        Put64(b, d + 64, uint64_t{SetBlocks_} * kBlock);
        Put64(b, d + 72, SetBlocks_);
        Put32(b, d + 212, 16);
        Put32(b, d + head, FirstPiece_ * kBlock);
        Put32(b, d + head + 4, 2);
        Put32(b, d + head + 8, (SetBlocks_ - FirstPiece_) * kBlock);
        Put32(b, d + head + 12, 2 + FirstPiece_ + 2);
        Tag(b, d, 266, block, head + 16, Version());
    }

    void WriteFileSet()
    {
        std::string& b = Image_.Bytes;
        size_t d = SetOffset(0);
        Timestamp(b, d + 16, 0, 0);
        Put16(b, d + 28, 3);
        Put16(b, d + 30, 3);
        Put32(b, d + 32, 1);
        Put32(b, d + 36, 1);
        Regid(b, d + 48, "OSTA Compressed Unicode");
        Dstring(b, d + 112, 128, O_.Label);
        Regid(b, d + 240, "OSTA Compressed Unicode");
        Dstring(b, d + 304, 32, O_.Label);
        Put32(b, d + 400, kBlock);
        Put32(b, d + 404, Nodes_[0].EntryBlock);
        Put16(b, d + 408, SetPartition());
        Regid(b, d + 416, "*OSTA UDF Compliant");
        Put16(b, d + 416 + 24, O_.Metadata ? 0x0250 : 0x0102);
        Tag(b, d, 256, 0, 512, Version());
        d = SetOffset(1);
        Tag(b, d, 8, 1, 512, Version());
    }

    std::string Identifier(uint8_t characteristics, const std::string& name, uint32_t entry) const
    {
        std::string f(38, '\0');
        Put16(f, 16, 1);
        f[18] = static_cast<char>(characteristics);
        f[19] = static_cast<char>(name.size());
        Put32(f, 20, kBlock);
        Put32(f, 24, entry);
        Put16(f, 28, SetPartition());
        f += name;
        f.resize((f.size() + 3) & ~size_t{3}, '\0');
        return f;
    }

    std::string DirectoryBytes(const TNode& folder) const
    {
        const size_t parent = folder.Path.empty() ? 0 : Index(ParentOf(folder.Path));
        std::string bytes = Identifier(0x0A, "", Nodes_[parent].EntryBlock);
        for (const size_t child : folder.Children) {
            const TNode& n = Nodes_[child];
            const std::string leaf = n.Path.substr(n.Path.rfind('/') + 1);
            bytes +=
                Identifier(n.Folder ? 0x02 : 0x00, Cs0(leaf, O_.SixteenBitNames), n.EntryBlock);
        }
        return bytes;
    }

    // The tags of the identifiers, once the directory's place is known.
    void TagIdentifiers(TNode& n, uint32_t firstBlock)
    {
        for (size_t at = 0; at < n.Directory.size();) {
            const size_t length = (38 + static_cast<unsigned char>(n.Directory[at + 19]) + 3) & ~3u;
            Tag(n.Directory, at, 257, firstBlock + static_cast<uint32_t>(at / kBlock),
                38 + static_cast<unsigned char>(n.Directory[at + 19]), Version());
            at += length;
        }
    }

    // Allocation descriptors of extents (length, block, type), the later ones in allocation
    // extent blocks when the entry may hold only a few.
    // Long descriptors name their partition; data always lies in the physical one.
    std::string Descriptors(const std::vector<std::array<uint64_t, 3>>& extents, TNode& n,
                            bool longForm, uint16_t partition)
    {
        const size_t step = longForm ? 16 : 8;
        const auto one = [&](uint64_t length, uint64_t block, uint64_t type) {
            std::string d(step, '\0');
            Put32(d, 0, static_cast<uint32_t>(length | type << 30));
            Put32(d, 4, static_cast<uint32_t>(block));
            if (longForm)
                Put16(d, 8, type == 3 ? SetPartition() : partition);
            return d;
        };
        const size_t most = O_.DescriptorsInEntry ? O_.DescriptorsInEntry : extents.size();
        std::string inEntry;
        size_t i = 0;
        for (; i < extents.size() && i < most; ++i)
            inEntry += one(extents[i][0], extents[i][1], extents[i][2]);
        if (i < extents.size())
            inEntry += one(kBlock, n.Continuation, 3);
        for (uint32_t block = n.Continuation; i < extents.size(); ++block) {
            if (block >= n.Continuation + kContinuationBlocks)
                throw std::runtime_error("too many allocation extents for " + n.Path);
            std::string& b = Image_.Bytes;
            const size_t d = SetOffset(block);
            std::string more;
            for (size_t k = 0; k < most && i < extents.size(); ++k, ++i)
                more += one(extents[i][0], extents[i][1], extents[i][2]);
            if (i < extents.size())
                more += one(kBlock, block + 1, 3);
            b.replace(d + 24, more.size(), more);
            Put32(b, d + 20, static_cast<uint32_t>(more.size()));
            Tag(b, d, 258, block, 24 + more.size(), Version());
        }
        return inEntry;
    }

    void WriteNode(TNode& n)
    {
        std::string& b = Image_.Bytes;
        const size_t d = SetOffset(n.EntryBlock);
        Image_.Entry[n.Path] = d;
        std::string data; // embedded bytes or allocation descriptors
        int form = O_.LongDescriptors ? 1 : 0;
        if (n.Folder && Embedded(n)) {
            form = 3;
            TagIdentifiers(n, n.EntryBlock);
            data = n.Directory;
            Image_.Directory[n.Path] = d + EntryHead();
        } else if (n.Folder) {
            TagIdentifiers(n, n.DirectoryBlock);
            const uint64_t blocks = (n.Directory.size() + kBlock - 1) / kBlock;
            const uint64_t per = O_.ExtentBlocks ? O_.ExtentBlocks : blocks;
            std::vector<std::array<uint64_t, 3>> extents;
            for (uint64_t first = 0; first < blocks; first += per) {
                const uint64_t length =
                    std::min<uint64_t>(per * kBlock, n.Directory.size() - first * kBlock);
                extents.push_back({length, n.DirectoryBlock + first, 0});
            }
            data = Descriptors(extents, n, O_.LongDescriptors, SetPartition());
            for (uint64_t k = 0; k < blocks; ++k)
                b.replace(SetOffset(static_cast<uint32_t>(n.DirectoryBlock + k)),
                          std::min<size_t>(kBlock, n.Directory.size() - k * kBlock),
                          n.Directory.substr(k * kBlock, kBlock));
            Image_.Directory[n.Path] = SetOffset(n.DirectoryBlock);
        } else if (EmbeddedContent(n)) {
            form = 3;
            data = O_.Contents.at(n.Path);
        } else if (const auto content = O_.Contents.find(n.Path); content != O_.Contents.end()) {
            const std::string& bytes = content->second;
            const uint64_t per = (O_.ExtentBlocks ? O_.ExtentBlocks : 1024) * kBlock;
            std::vector<std::array<uint64_t, 3>> extents;
            for (uint64_t at = 0; at < bytes.size(); at += per)
                extents.push_back(
                    {std::min<uint64_t>(per, bytes.size() - at), n.DataBlock + at / kBlock, 0});
            b.replace((kPartitionStart + n.DataBlock) * kBlock, bytes.size(), bytes);
            // Entries in a metadata partition point at their data with long descriptors.
            form = O_.LongDescriptors || O_.Metadata ? 1 : 0;
            data = Descriptors(extents, n, form == 1, 0);
        } else {
            std::vector<std::array<uint64_t, 3>> holes;
            for (uint64_t left = n.Size; left > 0;) {
                const uint64_t piece = std::min<uint64_t>(left, 0x3FFFF800);
                holes.push_back({piece, 0, 2});
                left -= piece;
            }
            data = Descriptors(holes, n, O_.LongDescriptors, SetPartition());
        }
        const bool extended = O_.Metadata;
        const size_t head = EntryHead();
        if (head + data.size() > kBlock)
            throw std::runtime_error("the entry of " + n.Path + " does not fit its block");
        Put16(b, d + 16 + 4, 4);
        Put16(b, d + 16 + 8, 1);
        b.at(d + 16 + 11) = static_cast<char>(n.Folder ? 4 : 5);
        Put16(b, d + 16 + 18, static_cast<uint32_t>(form));
        Put32(b, d + 44, 0x14A5);
        Put16(b, d + 48, 1);
        const uint64_t size = n.Folder ? n.Directory.size() : n.Size;
        Put64(b, d + 56, size);
        if (extended)
            Put64(b, d + 64, size);
        const size_t times = extended ? 80 : 72;
        for (size_t k = 0; k < (extended ? 4u : 3u); ++k)
            Timestamp(b, d + times + 12 * k, n.Time, O_.ZoneMinutes);
        Put32(b, d + head - 4, static_cast<uint32_t>(data.size()));
        b.replace(d + head, data.size(), data);
        Tag(b, d, extended ? 266 : 261, n.EntryBlock, head + data.size(), Version());
    }

    const std::vector<TTreeEntry>& Tree_;
    TUdfImageOptions O_;
    std::vector<TNode> Nodes_;
    std::map<std::string, size_t> Indexes_;
    uint32_t SetBlocks_ = 0, FirstPiece_ = 0, PartitionBlocks_ = 0;
    TUdfImage Image_;
};

} // namespace udf_builder_detail

// A UDF image of tree, entries listed parents first; directories list their entries in the
// tree's order.
inline TUdfImage MakeUdfImage(const std::vector<TTreeEntry>& tree,
                              const TUdfImageOptions& options = {})
{
    return udf_builder_detail::TBuilder(tree, options).Build();
}

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
