#include "discs/UdfDisc.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <string_view>

// The records are read here rather than through libudf, which finds no root folder on discs with
// extended file entries (the default of UDF 2.01 and later) or a metadata partition (UDF 2.50 and
// later: every Blu-ray), and lists nothing in directories embedded in their entries (the default
// of mkudffs). Each descriptor is checked before it is used, every read is checked against the
// file's size, and every chain that a damaged disc could make endless (sequence pointers,
// indirect entries, continued allocation descriptors) is followed a bounded number of times.

namespace {

constexpr uint64_t kRecognitionStart = 32768;
constexpr uint64_t kRecognitionStep = 2048;
constexpr int kMostRecognitionDescriptors = 64;
constexpr uint32_t kMostSequenceBlocks = 512;
constexpr int kMostSequencePointers = 16;
constexpr uint32_t kMostPartitionMaps = 64;
constexpr uint32_t kMostFileSets = 64;
constexpr int kMostIndirections = 16;
constexpr int kMostContinuations = 1024; // blocks of allocation descriptors of one file
constexpr uint64_t kMostVatSearch = 16;  // the VAT's entry is among the last blocks written
constexpr uint64_t kMostVatRun = 1024;   // virtual blocks found one after another at a time

// File types of an entry's ICB tag.
constexpr uint8_t kTypeUnspecified = 0;
constexpr uint8_t kTypeVat = 248;
constexpr uint8_t kTypeMetadata = 250;
constexpr uint8_t kTypeMetadataMirror = 251;

// Forms of allocation descriptors, in the low bits of the ICB tag's flags.
constexpr int kShortForm = 0;
constexpr int kLongForm = 1;
constexpr int kExtendedForm = 2;
constexpr int kEmbedded = 3;

// Extent types, in the top two bits of an extent's length.
constexpr int kExtentNotAllocated = 2;
constexpr int kExtentContinued = 3;

constexpr uint32_t kUnmapped = 0xFFFFFFFF;

} // namespace

// Where a piece of a file's bytes lies.
struct TUdfDisc::TExtent {
    uint32_t Length = 0;
    TUdfAddress Start;
    int Type = 0; // 0 recorded, 1 allocated but not recorded (reads as zeros), 2 neither
};

// One partition of the logical volume, as its partition map describes it.
struct TUdfDisc::TPartition {
    enum class TKind { Unusable, Physical, Virtual, Metadata };
    TKind Kind = TKind::Unusable;
    uint16_t Number = 0;   // of the partition descriptor that places it
    uint64_t Start = 0;    // its first block in the image
    uint16_t Physical = 0; // virtual and metadata: the partition their blocks lie in
    // Sparable: packets of PacketLength blocks moved elsewhere in the image.
    uint32_t PacketLength = 0;
    std::vector<std::pair<uint32_t, uint32_t>> Spared;
    // Virtual: the physical partition's block for each virtual block.
    std::vector<uint32_t> Vat;
    // Metadata: its blocks in order, as runs of the physical partition's blocks.
    struct TRun {
        uint64_t First = 0;
        uint64_t Count = 0;
        uint32_t Block = 0;
    };
    std::vector<TRun> Runs;
    uint32_t MetadataFile = 0;
    uint32_t MirrorFile = 0;
};

// The volume descriptors that matter here, the latest of each kind.
struct TUdfVolumeDescriptors {
    struct TPlaced {
        uint32_t Sequence = 0;
        uint64_t Start = 0;
    };
    std::vector<uint8_t> Primary, Logical;
    uint32_t PrimarySequence = 0, LogicalSequence = 0;
    std::map<uint16_t, TPlaced> Partitions; // by partition number
};

namespace {

// True when the image's volume recognition sequence names a UDF volume (NSR02 or NSR03).
bool HasUdfRecognition(const TUdfImageFile& file)
{
    std::array<uint8_t, 6> head{};
    for (int i = 0; i < kMostRecognitionDescriptors; ++i) {
        if (!file.Read(kRecognitionStart + static_cast<uint64_t>(i) * kRecognitionStep, head))
            return false;
        const std::string_view id(reinterpret_cast<const char*>(head.data() + 1), 5);
        if (id == "NSR02" || id == "NSR03")
            return true;
        if (id == "TEA01")
            return false;
        const bool known = id == "BEA01" || id == "CD001" || id == "BOOT2" || id == "CDW02";
        // Blocks larger than a descriptor leave zeros between descriptors.
        if (!known && !std::ranges::all_of(head, [](uint8_t b) { return b == 0; }))
            return false;
    }
    return false;
}

struct TAnchor {
    uint32_t BlockSize = 0;
    uint32_t MainLength = 0, MainBlock = 0, ReserveLength = 0, ReserveBlock = 0;
};

// The anchor volume descriptor pointer: at block 256, 256 blocks before the end or in the last
// block, for the usual block sizes.
std::optional<TAnchor> FindAnchor(const TUdfImageFile& file)
{
    for (const uint32_t blockSize : {2048u, 512u, 1024u, 4096u}) {
        const uint64_t blocks = file.Size() / blockSize;
        std::vector<uint8_t> block(blockSize);
        for (const uint64_t at : {uint64_t{256}, blocks > 256 ? blocks - 256 : 0, blocks - 1}) {
            if (at == 0 || at >= blocks || !file.Read(at * blockSize, block) ||
                !IsUdfTag(block, kUdfAnchor) || UdfLe32(block, 12) != at)
                continue;
            return TAnchor{blockSize, UdfLe32(block, 16), UdfLe32(block, 20), UdfLe32(block, 24),
                           UdfLe32(block, 28)};
        }
    }
    return std::nullopt;
}

// Reads one volume descriptor sequence, following its pointers to where it goes on.
TUdfVolumeDescriptors ReadSequence(const TUdfImageFile& file, uint32_t blockSize, uint32_t length,
                                   uint32_t location)
{
    TUdfVolumeDescriptors found;
    std::vector<uint8_t> block(blockSize);
    uint64_t at = location;
    uint64_t end = at + std::max<uint32_t>(length / blockSize, 1);
    int pointers = 0;
    for (uint32_t read = 0; at < end && read < kMostSequenceBlocks; ++at, ++read) {
        if (!file.Read(at * blockSize, block))
            break;
        const uint16_t kind = UdfLe16(block, 0);
        if (kind == 0 || kind > 9 || !IsUdfTag(block, kind) || kind == kUdfTerminating)
            break;
        const uint32_t sequence = UdfLe32(block, 16);
        if (kind == kUdfVolumePointer) {
            if (++pointers > kMostSequencePointers)
                break;
            at = uint64_t{UdfLe32(block, 24)} - 1; // the loop steps on to it
            end = at + 1 + std::max<uint32_t>(UdfLe32(block, 20) / blockSize, 1);
        } else if (kind == kUdfPrimaryVolume &&
                   (found.Primary.empty() || sequence >= found.PrimarySequence)) {
            found.Primary = block;
            found.PrimarySequence = sequence;
        } else if (kind == kUdfLogicalVolume &&
                   (found.Logical.empty() || sequence >= found.LogicalSequence)) {
            found.Logical = block;
            found.LogicalSequence = sequence;
        } else if (kind == kUdfPartition) {
            const auto [place, added] = found.Partitions.try_emplace(UdfLe16(block, 22));
            if (added || sequence >= place->second.Sequence)
                place->second = {sequence, UdfLe32(block, 188)};
        }
    }
    return found;
}

} // namespace

bool TUdfImageFile::ReadAhead(uint64_t offset, std::span<uint8_t> out)
{
    if (out.size() > ReadAheadBytes)
        return Read(offset, out);
    const uint64_t size = Size();
    if (offset < WindowStart_ || offset - WindowStart_ > Window_.size() ||
        out.size() > Window_.size() - (offset - WindowStart_)) {
        if (offset > size || out.size() > size - offset)
            return false;
        Window_.resize(std::min(ReadAheadBytes, size - offset));
        WindowStart_ = offset;
        if (!Read(offset, Window_)) {
            Window_.clear();
            return false;
        }
    }
    std::memcpy(out.data(), Window_.data() + (offset - WindowStart_), out.size());
    return true;
}

std::unique_ptr<TUdfDisc> TUdfDisc::Open(const std::string& path)
{
    std::optional<TImageFile> image = TImageFile::Open(path);
    if (!image)
        return nullptr;
    std::optional<TUdfImageFile> file(std::in_place, std::move(*image));
    if (!HasUdfRecognition(*file))
        return nullptr;
    const std::optional<TAnchor> anchor = FindAnchor(*file);
    if (!anchor)
        return nullptr;
    auto disc = std::make_unique<TUdfDisc>(std::move(*file), anchor->BlockSize);
    for (const auto& [length, block] : {std::pair{anchor->MainLength, anchor->MainBlock},
                                        {anchor->ReserveLength, anchor->ReserveBlock}}) {
        if (disc->Load(ReadSequence(disc->File_, anchor->BlockSize, length, block)))
            return disc;
    }
    return nullptr;
}

TUdfDisc::TUdfDisc(TUdfImageFile file, uint32_t blockSize)
    : File_(std::move(file))
    , BlockSize_(blockSize)
    , Blocks_(File_.Size() / blockSize)
{
}

TUdfDisc::~TUdfDisc() = default;

std::optional<uint64_t> TUdfDisc::ImageBlock(TUdfAddress address) const
{
    uint64_t run = 0;
    return Locate(address, run);
}

// The file entry at address, following indirect entries; without its allocation descriptors
// unless asked for.
std::optional<TUdfEntry> TUdfDisc::ReadEntry(TUdfAddress address, bool withDescriptors)
{
    for (int hop = 0; hop <= kMostIndirections; ++hop) {
        if (!ReadBlock(address, Block_))
            return std::nullopt;
        const TUdfBytes block = Block_;
        if (IsUdfTag(block, kUdfIndirect)) {
            address = UdfAddressAt(block, 40);
            continue;
        }
        const bool extended = IsUdfTag(block, kUdfExtendedFileEntry);
        if (!extended && !IsUdfTag(block, kUdfFileEntry))
            return std::nullopt;
        TUdfEntry entry;
        entry.FileType = block[27];
        entry.Form = UdfLe16(block, 34) & 7;
        entry.Size = UdfLe64(block, 56);
        entry.Time = FileTimeFromUdf(block.subspan(extended ? 92 : 84, 12));
        entry.Partition = address.Partition;
        if (withDescriptors) {
            const size_t head = extended ? 216 : 176;
            const uint64_t attributes = UdfLe32(block, head - 8);
            const uint64_t descriptors = UdfLe32(block, head - 4);
            if (head + attributes + descriptors > block.size())
                return std::nullopt;
            const auto first = block.begin() + static_cast<ptrdiff_t>(head + attributes);
            entry.Descriptors.assign(first, first + static_cast<ptrdiff_t>(descriptors));
        }
        return entry;
    }
    return std::nullopt;
}

// Finds the partitions, the file set and the root folder from the volume descriptors.
bool TUdfDisc::Load(const TUdfVolumeDescriptors& descriptors)
{
    const TUdfBytes logical = descriptors.Logical;
    if (logical.size() < 440 || UdfLe32(logical, 212) != BlockSize_ ||
        !LoadPartitions(logical, descriptors))
        return false;
    std::string vatLabel;
    for (TPartition& partition : Partitions_) {
        if (partition.Kind == TPartition::TKind::Virtual && !LoadVat(partition, vatLabel))
            partition.Kind = TPartition::TKind::Unusable;
    }
    for (TPartition& partition : Partitions_) {
        if (partition.Kind == TPartition::TKind::Metadata && !LoadMetadata(partition))
            partition.Kind = TPartition::TKind::Unusable;
    }
    const std::optional<TUdfAddress> root = FindRoot(logical);
    if (!root || !ReadDirectory(*root, File_.Size()))
        return false;
    Root_ = *root;
    Label_ = !vatLabel.empty() ? vatLabel : Utf8FromDstring(logical.subspan(84, 128));
    if (Label_.empty() && descriptors.Primary.size() >= 56)
        Label_ = Utf8FromDstring(TUdfBytes(descriptors.Primary).subspan(24, 32));
    // The domain identifier's suffix holds the revision the file system follows, as BCD digits.
    const uint16_t revision = UdfLe16(logical, 240);
    Identity_.FileSystem = "UDF";
    if (revision != 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, " %x.%02x", revision >> 8, revision & 0xFF);
        Identity_.FileSystem += digits;
    }
    Identity_.LogicalVolumeId = Utf8FromDstring(logical.subspan(84, 128));
    if (descriptors.Primary.size() >= 388) {
        const TUdfBytes primary = descriptors.Primary;
        Identity_.VolumeSetId = Utf8FromDstring(primary.subspan(72, 128));
        Identity_.CreationTime = FileTimeFromUdf(primary.subspan(376, 12));
    }
    return true;
}

bool TUdfDisc::LoadPartitions(TUdfBytes logical, const TUdfVolumeDescriptors& descriptors)
{
    const uint32_t tableLength = UdfLe32(logical, 264);
    const uint32_t count = UdfLe32(logical, 268);
    if (tableLength > logical.size() - 440 || count > kMostPartitionMaps)
        return false;
    const TUdfBytes table = logical.subspan(440, tableLength);
    Partitions_.clear();
    for (size_t i = 0, at = 0; i < count; ++i) {
        if (at + 2 > table.size() || table[at + 1] < 2 || table[at + 1] > table.size() - at)
            return false;
        const TUdfBytes map = table.subspan(at, table[at + 1]);
        at += map.size();
        TPartition partition;
        if (map[0] == 1 && map.size() >= 6) {
            partition.Kind = TPartition::TKind::Physical;
            partition.Number = UdfLe16(map, 4);
        } else if (map[0] == 2 && map.size() >= 64) {
            std::string_view id(reinterpret_cast<const char*>(map.data() + 5), 23);
            id = id.substr(0, id.find('\0'));
            partition.Number = UdfLe16(map, 38);
            if (id == "*UDF Virtual Partition") {
                partition.Kind = TPartition::TKind::Virtual;
            } else if (id == "*UDF Metadata Partition") {
                partition.Kind = TPartition::TKind::Metadata;
                partition.MetadataFile = UdfLe32(map, 40);
                partition.MirrorFile = UdfLe32(map, 44);
            } else if (id == "*UDF Sparable Partition") {
                partition.Kind = TPartition::TKind::Physical;
                partition.PacketLength = UdfLe16(map, 40);
                for (size_t copy = 0; copy < std::min<size_t>(map[42], 4); ++copy)
                    if (LoadSparingTable(partition, UdfLe32(map, 48 + 4 * copy)))
                        break;
            }
        }
        const auto placed = descriptors.Partitions.find(partition.Number);
        if (placed == descriptors.Partitions.end())
            partition.Kind = TPartition::TKind::Unusable;
        else
            partition.Start = placed->second.Start;
        Partitions_.push_back(std::move(partition));
    }
    // Virtual and metadata partitions lie in the physical partition of the same number.
    for (TPartition& partition : Partitions_) {
        if (partition.Kind != TPartition::TKind::Virtual &&
            partition.Kind != TPartition::TKind::Metadata)
            continue;
        const auto physical = std::ranges::find_if(Partitions_, [&](const TPartition& p) {
            return p.Kind == TPartition::TKind::Physical && p.Number == partition.Number;
        });
        if (physical == Partitions_.end())
            partition.Kind = TPartition::TKind::Unusable;
        else
            partition.Physical = static_cast<uint16_t>(physical - Partitions_.begin());
    }
    return !Partitions_.empty();
}

// The packets a rewritable disc moved away from its defects, from the sparing table at block.
bool TUdfDisc::LoadSparingTable(TPartition& partition, uint32_t block)
{
    std::vector<uint8_t> head(BlockSize_);
    if (partition.PacketLength == 0 || !File_.Read(uint64_t{block} * BlockSize_, head))
        return false;
    if (std::memcmp(head.data() + 17, "*UDF Sparing Table", 18) != 0)
        return false;
    const uint64_t entries = UdfLe16(head, 48);
    if (uint64_t{block} * BlockSize_ + 56 + entries * 8 > File_.Size())
        return false;
    std::vector<uint8_t> table(56 + entries * 8);
    if (!File_.Read(uint64_t{block} * BlockSize_, table))
        return false;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint32_t original = UdfLe32(table, 56 + i * 8);
        if (original < 0xFFFFFFF0)
            partition.Spared.emplace_back(original, UdfLe32(table, 60 + i * 8));
    }
    return true;
}

// The virtual allocation table of a disc written once, track by track: its entry is the last
// thing written, in one of the last blocks.
bool TUdfDisc::LoadVat(TPartition& partition, std::string& label)
{
    const TPartition& physical = Partitions_[partition.Physical];
    for (uint64_t back = 1; back <= kMostVatSearch && back <= Blocks_; ++back) {
        const uint64_t block = Blocks_ - back;
        if (block < physical.Start || block - physical.Start > UINT32_MAX)
            break;
        const TUdfAddress address{static_cast<uint32_t>(block - physical.Start),
                                  partition.Physical};
        const std::optional<TUdfEntry> entry = ReadEntry(address, true);
        if (!entry || (entry->FileType != kTypeVat && entry->FileType != kTypeUnspecified))
            continue;
        const std::optional<std::vector<uint8_t>> bytes = ReadContent(*entry, File_.Size());
        if (!bytes)
            continue;
        const TUdfBytes vat = *bytes;
        size_t first = 0;
        size_t end = vat.size();
        if (entry->FileType == kTypeVat) {
            if (vat.size() < 152 || UdfLe16(vat, 0) < 152 || UdfLe16(vat, 0) > vat.size())
                continue;
            first = UdfLe16(vat, 0);
            label = Utf8FromDstring(vat.subspan(4, 128));
        } else {
            // The older form: the table, then an identifier and the previous table's place.
            if (vat.size() < 36 ||
                std::memcmp(vat.data() + vat.size() - 35, "*UDF Virtual Alloc Tbl", 22) != 0)
                continue;
            end = vat.size() - 36;
        }
        partition.Vat.clear();
        for (size_t at = first; at + 4 <= end; at += 4)
            partition.Vat.push_back(UdfLe32(vat, at));
        return true;
    }
    return false;
}

// Where the blocks of a metadata partition lie: the extents of its metadata file, or of the
// file's mirror when the file cannot be read.
bool TUdfDisc::LoadMetadata(TPartition& partition)
{
    for (const uint32_t file : {partition.MetadataFile, partition.MirrorFile}) {
        const std::optional<TUdfEntry> entry = ReadEntry({file, partition.Physical}, true);
        if (!entry || (entry->FileType != kTypeMetadata && entry->FileType != kTypeMetadataMirror))
            continue;
        const std::optional<std::vector<TExtent>> extents =
            Extents(*entry, std::min(entry->Size, File_.Size()));
        if (!extents)
            continue;
        partition.Runs.clear();
        uint64_t first = 0;
        for (const TExtent& extent : *extents) {
            const uint64_t count = (uint64_t{extent.Length} + BlockSize_ - 1) / BlockSize_;
            if (extent.Type != kExtentNotAllocated && extent.Start.Partition == partition.Physical)
                partition.Runs.push_back({first, count, extent.Start.Block});
            first += count;
        }
        if (!partition.Runs.empty())
            return true;
    }
    return false;
}

// The root folder of the file set the logical volume points at (the latest of its file set
// descriptors).
std::optional<TUdfAddress> TUdfDisc::FindRoot(TUdfBytes logical)
{
    const uint64_t length = UdfLe32(logical, 248);
    TUdfAddress at = UdfAddressAt(logical, 252);
    const uint64_t blocks =
        std::clamp<uint64_t>((length + BlockSize_ - 1) / BlockSize_, 1, kMostFileSets);
    std::optional<TUdfAddress> root;
    uint32_t number = 0;
    std::vector<uint8_t> block;
    for (uint64_t i = 0; i < blocks; ++i, ++at.Block) {
        if (!ReadBlock(at, block) || !IsUdfTag(block, kUdfFileSet))
            break;
        if (!root || UdfLe32(block, 40) >= number) {
            root = UdfAddressAt(block, 404);
            number = UdfLe32(block, 40);
        }
    }
    return root;
}

// The image block of a partition's block, and how many blocks follow it there in order.
std::optional<uint64_t> TUdfDisc::Locate(TUdfAddress address, uint64_t& run) const
{
    if (address.Partition >= Partitions_.size())
        return std::nullopt;
    const TPartition& partition = Partitions_[address.Partition];
    switch (partition.Kind) {
    case TPartition::TKind::Physical:
        return LocatePhysical(partition, address.Block, run);
    case TPartition::TKind::Virtual: {
        if (address.Block >= partition.Vat.size() || partition.Vat[address.Block] == kUnmapped)
            return std::nullopt;
        const uint32_t physical = partition.Vat[address.Block];
        const std::optional<uint64_t> block =
            LocatePhysical(Partitions_[partition.Physical], physical, run);
        // Only the virtual blocks that the table maps one after another are read at once.
        const uint64_t most = std::min({run, kMostVatRun, partition.Vat.size() - address.Block});
        uint64_t following = 1;
        while (following < most &&
               partition.Vat[address.Block + following] == uint64_t{physical} + following)
            ++following;
        run = following;
        return block;
    }
    case TPartition::TKind::Metadata: {
        const auto after =
            std::ranges::upper_bound(partition.Runs, uint64_t{address.Block}, {},
                                     [](const TPartition::TRun& r) { return r.First; });
        if (after == partition.Runs.begin())
            return std::nullopt;
        const TPartition::TRun& within = *(after - 1);
        const uint64_t offset = address.Block - within.First;
        if (offset >= within.Count || within.Block + offset > UINT32_MAX)
            return std::nullopt;
        const std::optional<uint64_t> block = LocatePhysical(
            Partitions_[partition.Physical], static_cast<uint32_t>(within.Block + offset), run);
        run = std::min(run, within.Count - offset);
        return block;
    }
    case TPartition::TKind::Unusable:
        break;
    }
    return std::nullopt;
}

std::optional<uint64_t> TUdfDisc::LocatePhysical(const TPartition& partition, uint32_t block,
                                                 uint64_t& run) const
{
    uint64_t at = partition.Start + block;
    uint64_t most = UINT64_MAX;
    if (partition.PacketLength != 0) {
        const uint32_t offset = block % partition.PacketLength;
        most = partition.PacketLength - offset;
        for (const auto& [original, moved] : partition.Spared) {
            if (original == block - offset) {
                at = uint64_t{moved} + offset;
                break;
            }
        }
    }
    if (at >= Blocks_)
        return std::nullopt;
    run = std::min(most, Blocks_ - at);
    return at;
}

// Reads out.size() bytes from offset bytes past the start of a partition's block, across as
// many blocks as they take.
bool TUdfDisc::ReadPartition(TUdfAddress address, uint64_t offset, std::span<uint8_t> out)
{
    uint64_t block = address.Block + offset / BlockSize_;
    uint64_t within = offset % BlockSize_;
    for (size_t done = 0; done < out.size();) {
        uint64_t run = 0;
        const std::optional<uint64_t> at =
            block > UINT32_MAX ? std::nullopt
                               : Locate({static_cast<uint32_t>(block), address.Partition}, run);
        if (!at)
            return false;
        const size_t bytes =
            static_cast<size_t>(std::min<uint64_t>(run * BlockSize_ - within, out.size() - done));
        if (!File_.Read(*at * BlockSize_ + within, out.subspan(done, bytes)))
            return false;
        done += bytes;
        block += run;
        within = 0;
    }
    return true;
}

bool TUdfDisc::ReadBlock(TUdfAddress address, std::vector<uint8_t>& out)
{
    uint64_t run = 0;
    const std::optional<uint64_t> at = Locate(address, run);
    out.resize(BlockSize_);
    return at && File_.ReadAhead(*at * BlockSize_, out);
}

// The extents of a file up to wanted bytes, following continued allocation descriptors.
std::optional<std::vector<TUdfDisc::TExtent>> TUdfDisc::Extents(const TUdfEntry& entry,
                                                                uint64_t wanted)
{
    const size_t step = entry.Form == kShortForm      ? 8
                        : entry.Form == kLongForm     ? 16
                        : entry.Form == kExtendedForm ? 20
                                                      : 0;
    if (step == 0)
        return std::nullopt;
    std::vector<TExtent> extents;
    std::vector<uint8_t> continuation;
    TUdfBytes descriptors = entry.Descriptors;
    uint64_t total = 0;
    for (int continued = 0;;) {
        std::optional<TUdfAddress> next;
        for (size_t at = 0; at + step <= descriptors.size() && total < wanted; at += step) {
            const uint32_t length = UdfLe32(descriptors, at) & 0x3FFFFFFF;
            const int type = static_cast<int>(UdfLe32(descriptors, at) >> 30);
            if (length == 0)
                break;
            const TUdfAddress start =
                entry.Form == kShortForm
                    ? TUdfAddress{UdfLe32(descriptors, at + 4), entry.Partition}
                : entry.Form == kLongForm ? UdfAddressAt(descriptors, at + 4)
                                          : UdfAddressAt(descriptors, at + 12);
            if (type == kExtentContinued) {
                next = start;
                break;
            }
            extents.push_back({length, start, type});
            total += length;
        }
        if (!next || total >= wanted)
            return extents;
        if (++continued > kMostContinuations || !ReadBlock(*next, continuation) ||
            !IsUdfTag(continuation, kUdfAllocationExtent) ||
            24 + uint64_t{UdfLe32(continuation, 20)} > continuation.size())
            return std::nullopt;
        descriptors = TUdfBytes(continuation).subspan(24, UdfLe32(continuation, 20));
    }
}

// A file's bytes, at most limit of them: what its extents hold, zeros where they were never
// recorded, cut short where its extents end.
std::optional<std::vector<uint8_t>> TUdfDisc::ReadContent(const TUdfEntry& entry, uint64_t limit)
{
    uint64_t size = std::min(entry.Size, limit);
    if (entry.Form == kEmbedded) {
        size = std::min<uint64_t>(size, entry.Descriptors.size());
        return std::vector<uint8_t>(entry.Descriptors.begin(),
                                    entry.Descriptors.begin() + static_cast<ptrdiff_t>(size));
    }
    const std::optional<std::vector<TExtent>> extents = Extents(entry, size);
    if (!extents)
        return std::nullopt;
    const uint64_t covered =
        std::accumulate(extents->begin(), extents->end(), uint64_t{0},
                        [](uint64_t sum, const TExtent& extent) { return sum + extent.Length; });
    std::vector<uint8_t> bytes(std::min(size, covered));
    uint64_t at = 0;
    for (const TExtent& extent : *extents) {
        if (at >= bytes.size())
            break;
        const uint64_t length = std::min<uint64_t>(extent.Length, bytes.size() - at);
        if (extent.Type == 0 &&
            !ReadPartition(extent.Start, 0, std::span(bytes).subspan(at, length)))
            return std::nullopt;
        at += length;
    }
    return bytes;
}

// The identifiers of the directory whose entry is at address; nothing when the directory is
// too large, cannot be read or is damaged.
std::optional<std::vector<uint8_t>> TUdfDisc::ReadDirectory(TUdfAddress address, uint64_t room)
{
    const std::optional<TUdfEntry> entry = ReadEntry(address, true);
    if (!entry || entry->Size > room)
        return std::nullopt;
    std::optional<std::vector<uint8_t>> bytes = ReadContent(*entry, room);
    if (!bytes)
        return std::nullopt;
    TUdfIdentifierCursor check(*bytes);
    while (check.Next()) {
    }
    if (check.Damaged())
        return std::nullopt;
    return bytes;
}

// A file's bytes, read through its extents when asked for: zeros where an extent was never
// recorded, and the file ends early where its extents end before its size.
class TUdfDisc::TFile final : public IFileContent {
public:
    TFile(TUdfDisc& disc, TUdfEntry entry, std::vector<TExtent> extents)
        : Disc_(disc)
        , Entry_(std::move(entry))
        , Extents_(std::move(extents))
    {
        uint64_t start = 0;
        for (const TExtent& extent : Extents_) {
            Starts_.push_back(start);
            start += extent.Length;
        }
        Covered_ = Entry_.Form == kEmbedded ? Entry_.Descriptors.size() : start;
    }

    [[nodiscard]] std::optional<size_t> Read(uint64_t offset, std::span<uint8_t> out) override
    {
        const uint64_t end = std::min(Entry_.Size, Covered_);
        if (offset >= end || !Ordinary())
            return 0;
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(out.size(), end - offset));
        if (Entry_.Form == kEmbedded) {
            std::memcpy(out.data(), Entry_.Descriptors.data() + offset, wanted);
            return wanted;
        }
        for (size_t done = 0; done < wanted;) {
            const uint64_t at = offset + done;
            const size_t index =
                static_cast<size_t>(std::ranges::upper_bound(Starts_, at) - Starts_.begin()) - 1;
            const TExtent& extent = Extents_[index];
            const uint64_t within = at - Starts_[index];
            const size_t part =
                static_cast<size_t>(std::min<uint64_t>(wanted - done, extent.Length - within));
            const std::span<uint8_t> piece = out.subspan(done, part);
            if (extent.Type != 0)
                std::ranges::fill(piece, uint8_t{0});
            else if (!Disc_.ReadPartition(extent.Start, within, piece))
                return std::nullopt;
            done += part;
        }
        return wanted;
    }

    // Devices, pipes, sockets and symbolic links hold no content of their own.
    [[nodiscard]] bool Ordinary() const override
    {
        switch (Entry_.FileType) {
        case 6:  // block device
        case 7:  // character device
        case 9:  // FIFO
        case 10: // socket
        case 12: // symbolic link
            return false;
        default:
            return true;
        }
    }

private:
    TUdfDisc& Disc_;
    TUdfEntry Entry_;
    std::vector<TExtent> Extents_;
    std::vector<uint64_t> Starts_; // each extent's first byte in the file
    uint64_t Covered_ = 0;
};

std::unique_ptr<IFileContent> TUdfDisc::OpenFile(TUdfAddress address)
{
    std::optional<TUdfEntry> entry = ReadEntry(address, true);
    if (!entry)
        return nullptr;
    std::vector<TExtent> extents;
    if (entry->Form != kEmbedded) {
        std::optional<std::vector<TExtent>> found = Extents(*entry, entry->Size);
        if (!found)
            return nullptr;
        extents = std::move(*found);
    }
    return std::make_unique<TFile>(*this, std::move(*entry), std::move(extents));
}
