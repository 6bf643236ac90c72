#include "discs/IsoVolume.h"

#include "discs/ImageFile.h"
#include "platform/AnsiText.h"
#include "platform/UniqueFd.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/memory.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <span>
#include <sys/stat.h>
#include <vector>

// libiso9660 recognises the file system and reads the volume label. The directories are read
// here, each straight from where its parent's record says it lies: the library finds a folder by
// walking its path from the root each time, which makes a scan slow on wide discs. Knowing where
// each directory lies also lets a walk notice a damaged disc whose folders lead back to their
// ancestors, or share their blocks: the directories a walk holds then never add up to more than
// the image itself.

namespace {

constexpr uint32_t kBlockSize = 2048;
constexpr uint32_t kFirstDescriptor = 16;
constexpr uint32_t kMostDescriptors = 64;
// A directory this large holds far more entries than any disc has; a record claiming more is
// damaged, and is not read into memory.
constexpr uint32_t kLargestDirectory = 64u << 20;
constexpr int kMostContinuations = 32; // Rock Ridge continuation areas followed for one record
// Files the library looks at for Rock Ridge entries before it gives up: a disc that has them has
// them everywhere.

// Directory record fields (offsets into a record).
constexpr size_t kRecordAttributes = 1; // blocks of extended attributes before a file's bytes
constexpr size_t kRecordExtent = 2;     // first block, little-endian half of a both-endian pair
constexpr size_t kRecordSize = 10;      // data length
constexpr size_t kRecordTime = 18;      // 7 bytes: years since 1900, month, day, h, m, s, offset
constexpr size_t kRecordFlags = 25;
constexpr size_t kRecordUnitSize = 26; // interleaved files: blocks of a unit, then of a gap
constexpr size_t kRecordGapSize = 27;
constexpr size_t kRecordNameLength = 32;
constexpr size_t kRecordName = 33;
constexpr size_t kSmallestRecord = 34;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagAssociated = 0x04;
constexpr uint8_t kFlagMultiExtent = 0x80;

void IgnoreLibraryMessage(cdio_log_level_t, const char*) {}

// The library reports a missing disc or a damaged image on stderr; Fendrel shows its own message.
void SilenceLibrary()
{
    static const bool silenced = [] {
        cdio_log_set_handler(IgnoreLibraryMessage);
        return true;
    }();
    (void)silenced;
}

struct TIsoCloser {
    void operator()(iso9660_t* iso) const { iso9660_close(iso); }
};
using TIsoImage = std::unique_ptr<iso9660_t, TIsoCloser>;

using TBytes = std::span<const uint8_t>;

uint32_t Le32(TBytes bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Where a directory's records lie. Size 0: as the directory's own "." record says.
struct TExtent {
    uint32_t Block = 0;
    uint32_t Size = 0;
};

// A record's recording time, local to the writer at the recorded offset from UTC (in quarter
// hours); an offset out of the allowed range is taken as UTC.
uint64_t RecordTime(TBytes time)
{
    const int64_t days = DaysFromCivil(1900 + time[0], time[1], time[2]);
    int offset = static_cast<int8_t>(time[6]);
    if (offset < -48 || offset > 52)
        offset = 0;
    const int64_t seconds = days * 86400 + time[3] * 3600 + time[4] * 60 + time[5];
    return FileTimeFromUnix(seconds - offset * 15 * 60);
}

// "NAME.EXT;1" as "NAME.EXT", and "NAME.;1" as "NAME".
std::string_view WithoutVersion(std::string_view name)
{
    const size_t semicolon = name.rfind(';');
    if (semicolon == std::string_view::npos || semicolon + 1 == name.size())
        return name;
    for (size_t i = semicolon + 1; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return name;
    name = name.substr(0, semicolon);
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    return name;
}

// The records of a directory, one at a time. A zero length ends the records of a block, and so
// does a record that would run over the block's end (the next one starts on the next block).
class TRecordCursor {
public:
    explicit TRecordCursor(TBytes directory, size_t at = 0)
        : Bytes_(directory)
        , At_(at)
    {
    }

    // The next record; empty at the end, and when a record is damaged (Damaged() then tells).
    TBytes Next()
    {
        while (At_ < Bytes_.size() && !Damaged_) {
            const size_t length = Bytes_[At_];
            const size_t blockEnd =
                std::min<size_t>((At_ / kBlockSize + 1) * kBlockSize, Bytes_.size());
            if (length == 0 || At_ + length > blockEnd) {
                At_ = blockEnd;
                continue;
            }
            if (length < kSmallestRecord ||
                kRecordName + Bytes_[At_ + kRecordNameLength] > length) {
                Damaged_ = true;
                break;
            }
            const TBytes record = Bytes_.subspan(At_, length);
            At_ += length;
            return record;
        }
        return {};
    }
    [[nodiscard]] bool Damaged() const { return Damaged_; }
    // Where a record the cursor gave begins in the directory.
    [[nodiscard]] size_t OffsetOf(TBytes record) const
    {
        return static_cast<size_t>(record.data() - Bytes_.data());
    }

private:
    TBytes Bytes_;
    size_t At_ = 0;
    bool Damaged_ = false;
};

// Where the directory at extent lies, with its size from its "." record when the extent does not
// give it; nullopt when it does not lie whole inside the image, or is larger than any directory.
std::optional<TExtent> LocateDirectory(const TImageFile& file, TExtent extent)
{
    const uint64_t offset = uint64_t{extent.Block} * kBlockSize;
    if (extent.Size == 0) { // a relocated folder: its "." record gives the size
        std::vector<uint8_t> first(kBlockSize);
        if (!file.Read(offset, first))
            return std::nullopt;
        TRecordCursor cursor(first);
        const TBytes dot = cursor.Next();
        if (dot.empty() || Le32(dot, kRecordExtent) != extent.Block)
            return std::nullopt;
        extent.Size = Le32(dot, kRecordSize);
    }
    if (extent.Size == 0 || extent.Size > kLargestDirectory || offset > file.Size() ||
        extent.Size > file.Size() - offset)
        return std::nullopt;
    return extent;
}

// The records of the directory that LocateDirectory found at extent; nullopt when they cannot be
// read or are damaged.
std::optional<std::vector<uint8_t>> ReadLocatedDirectory(const TImageFile& file, TExtent extent)
{
    std::vector<uint8_t> bytes(extent.Size);
    if (!file.Read(uint64_t{extent.Block} * kBlockSize, bytes))
        return std::nullopt;
    TRecordCursor check(bytes);
    while (!check.Next().empty()) {
    }
    if (check.Damaged())
        return std::nullopt;
    return bytes;
}

// The records of the directory at extent; nullopt when it lies past the image's end, cannot be
// read or is damaged.
std::optional<std::vector<uint8_t>> ReadDirectory(const TImageFile& file, TExtent extent)
{
    const std::optional<TExtent> located = LocateDirectory(file, extent);
    if (!located)
        return std::nullopt;
    return ReadLocatedDirectory(file, *located);
}

TBytes RecordName(TBytes record)
{
    return record.subspan(kRecordName, record[kRecordNameLength]);
}

// What the Rock Ridge entries of a record say.
struct TRockRidge {
    std::string Name; // from NM entries
    bool HasName = false;
    std::optional<uint32_t> ChildLink; // CL: a relocated folder's block
    bool Relocated = false;            // RE: listed where its CL entry is, not here
    std::optional<uint32_t> Mode;      // PX: the POSIX file mode
    bool Link = false;                 // SL: a symbolic link
};

// Where a file's bytes lie: its pieces one after another (a file of 4 GiB or more has several).
struct TFilePieces {
    std::vector<TExtent> Pieces; // Block: where its bytes begin, past any extended attributes
    bool Interleaved = false;    // recorded in units with gaps between them
    bool Ordinary = true;        // not a link, a device or a pipe
};

// The bytes of a file of the image, its pieces read in turn, while the volume stays open. A
// piece that lies past the image's end reads as unreadable from its first missing block.
class TIsoFile final : public IFileContent {
public:
    TIsoFile(const TImageFile& image, const TFilePieces& pieces)
        : Image_(image)
        , Ordinary_(pieces.Ordinary)
    {
        for (const TExtent& piece : pieces.Pieces) {
            if (piece.Size == 0)
                continue;
            Pieces_.push_back({Size_, uint64_t{piece.Block} * kBlockSize});
            Size_ += piece.Size;
        }
    }

    [[nodiscard]] std::optional<size_t> Read(uint64_t offset, std::span<uint8_t> out) override
    {
        if (offset >= Size_ || !Ordinary_)
            return 0;
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(out.size(), Size_ - offset));
        for (size_t done = 0; done < wanted;) {
            const uint64_t at = offset + done;
            const auto piece = std::prev(std::ranges::upper_bound(Pieces_, at, {}, &TPiece::Start));
            const uint64_t pieceEnd =
                std::next(piece) == Pieces_.end() ? Size_ : std::next(piece)->Start;
            const size_t part =
                static_cast<size_t>(std::min<uint64_t>(wanted - done, pieceEnd - at));
            if (!Image_.Read(piece->Image + (at - piece->Start), out.subspan(done, part)))
                return std::nullopt;
            done += part;
        }
        return wanted;
    }
    [[nodiscard]] bool Ordinary() const override { return Ordinary_; }

private:
    struct TPiece {
        uint64_t Start = 0; // in the file
        uint64_t Image = 0; // where it lies in the image
    };
    const TImageFile& Image_;
    bool Ordinary_;
    std::vector<TPiece> Pieces_; // by Start, none empty
    uint64_t Size_ = 0;
};

class TIsoVolume;

// One folder's records, read whole when the folder is opened. It remembers where the last folder
// it gave lies, to be opened from there.
class TIsoListing final : public IFolderListing {
public:
    TIsoListing(TIsoVolume& volume, uint32_t block, std::vector<uint8_t> bytes)
        : Volume_(volume)
        , Block_(block)
        , Bytes_(std::move(bytes))
        , Cursor_(Bytes_)
    {
    }
    bool Next(TFindData& entry) override;
    // Like Next, also telling where a folder entry's records lie.
    bool NextEntry(TFindData& entry, TExtent& extent);

    // Where the folder rawName lies, when it is the last folder that Next gave.
    [[nodiscard]] std::optional<TExtent> LastFolder(const TIsoVolume& volume,
                                                    const std::string& rawName) const
    {
        if (&volume != &Volume_ || !LastFolder_ || rawName != LastFolderName_)
            return std::nullopt;
        return LastFolder_;
    }

private:
    TIsoVolume& Volume_;
    uint32_t Block_; // the directory's first block
    std::vector<uint8_t> Bytes_;
    TRecordCursor Cursor_;
    std::optional<TExtent> LastFolder_;
    std::string LastFolderName_;
};

class TIsoVolume final : public IVolume {
public:
    // image: the library's view of a plain image, which gives the label; without it (a
    // container) the label is ownLabel.
    TIsoVolume(TIsoImage image, TImageFile file, TExtent root, bool joliet, std::string ownLabel)
        : Image_(std::move(image))
        , File_(std::move(file))
        , Root_(root)
        , Joliet_(joliet)
        , OwnLabel_(std::move(ownLabel))
    {
    }

    [[nodiscard]] std::string Label() const override
    {
        if (!Image_)
            return OwnLabel_;
        char* id = nullptr;
        if (!iso9660_ifs_get_volume_id(Image_.get(), &id) || !id)
            return {};
        // Without Joliet the label is in the disc's own 8-bit encoding, like its names.
        const std::string_view whole = WithoutCutCharacter(id);
        std::string label =
            Joliet_ || IsValidUtf8(whole) ? NameFromDisc(whole) : NameFromEightBitDisc(id);
        cdio_free(id);
        return label;
    }

    // A folder opened by its path is looked for from the root, and begins a new walk; the
    // subfolders of a listing are opened from their records. Within one walk no block is listed
    // twice: a damaged disc whose folders lead back to their ancestors, or share their blocks,
    // is walked to an end.
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        Listed_.clear();
        const std::optional<TExtent> found = Find(path);
        if (!found)
            return nullptr;
        return Open(*found);
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override
    {
        const auto* own = dynamic_cast<const TIsoListing*>(&listing);
        const std::optional<TExtent> extent = own ? own->LastFolder(*this, rawName) : std::nullopt;
        if (!extent)
            return OpenFolder(path);
        return Open(*extent);
    }

    [[nodiscard]] TVolumeFacts Facts() const override { return Facts_; }
    void SetFacts(TVolumeFacts facts) { Facts_ = std::move(facts); }

    [[nodiscard]] bool Joliet() const { return Joliet_; }

    // A file is found again from where its first record lies: the directory's first block and
    // the record's offset in it. Without that, it is looked for by its path.
    [[nodiscard]] static uint64_t WhereOf(uint32_t directory, size_t record)
    {
        return uint64_t{directory} << 32 | record;
    }
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return nullptr;
        const std::string_view name = std::string_view(path).substr(slash + 1);
        std::optional<TExtent> directory;
        if (where != 0)
            directory = TExtent{static_cast<uint32_t>(where >> 32), 0};
        else
            directory = Find(path.substr(0, slash + 1));
        if (!directory || !CacheDirectory(directory->Block))
            return nullptr;
        const size_t offset = where != 0 ? static_cast<size_t>(where & 0xFFFFFFFF) : 0;
        if (offset >= Directory_.size())
            return nullptr;
        TRecordCursor cursor(Directory_, offset);
        TFindData entry;
        TExtent extent;
        TFilePieces pieces;
        while (ParseEntry(cursor, directory->Block, entry, extent, &pieces)) {
            // The record where points at must be the file itself, not one after it.
            if (!entry.IsFolder && entry.RawName == name && (where == 0 || entry.Where == where))
                // Files recorded in interleaved units are rare enough not to be read.
                return pieces.Interleaved ? nullptr : std::make_unique<TIsoFile>(File_, pieces);
            if (where != 0)
                break;
        }
        return nullptr;
    }

    // The next entry of the directory at cursor, telling where a folder's records lie and, when
    // asked, where a file's bytes lie.
    bool ParseEntry(TRecordCursor& cursor, uint32_t directory, TFindData& entry, TExtent& extent,
                    TFilePieces* pieces);

    // The Rock Ridge entries of the system use area, following continuation areas.
    void ReadSystemUse(TBytes area, TRockRidge& rock)
    {
        // CD-XA discs put 14 bytes of their own before any entry.
        if (area.size() >= 14 && area[6] == 'X' && area[7] == 'A')
            area = area.subspan(14);
        for (int continuation = 0;;) {
            std::optional<TExtent> next;
            uint32_t nextOffset = 0;
            for (size_t at = 0; at + 4 <= area.size();) {
                const size_t length = area[at + 2];
                if (length < 4 || length > area.size() - at)
                    break;
                const TBytes data = area.subspan(at + 4, length - 4);
                const char a = static_cast<char>(area[at]), b = static_cast<char>(area[at + 1]);
                if (a == 'N' && b == 'M' && !data.empty()) {
                    rock.HasName = true;
                    if ((data[0] & 0x06) == 0) // not the "." and ".." marks
                        rock.Name.append(data.begin() + 1, data.end());
                } else if (a == 'C' && b == 'L' && data.size() >= 8) {
                    rock.ChildLink = Le32(data, 0);
                } else if (a == 'R' && b == 'E') {
                    rock.Relocated = true;
                } else if (a == 'P' && b == 'X' && data.size() >= 8) {
                    rock.Mode = Le32(data, 0);
                } else if (a == 'S' && b == 'L') {
                    rock.Link = true;
                } else if (a == 'C' && b == 'E' && data.size() >= 24) {
                    next = TExtent{Le32(data, 0), Le32(data, 16)};
                    nextOffset = Le32(data, 8);
                } else if (a == 'S' && b == 'T') {
                    break;
                }
                at += length;
            }
            if (!next || ++continuation > kMostContinuations)
                return;
            area = Continuation(*next, nextOffset);
        }
    }

private:
    std::unique_ptr<IFolderListing> Open(TExtent extent)
    {
        const std::optional<TExtent> located = LocateDirectory(File_, extent);
        if (!located || IsListed(*located))
            return nullptr;
        std::optional<std::vector<uint8_t>> bytes = ReadLocatedDirectory(File_, *located);
        // Only a directory that was read claims its blocks: a damaged one, whose recorded size
        // may reach over the folders after it, must not keep them from being listed.
        if (!bytes)
            return nullptr;
        MarkListed(*located);
        return std::make_unique<TIsoListing>(*this, located->Block, std::move(*bytes));
    }

    // The blocks of a directory: the first and the one after the last.
    static std::pair<uint64_t, uint64_t> BlocksOf(TExtent extent)
    {
        const uint64_t first = extent.Block;
        return {first, first + (uint64_t{extent.Size} + kBlockSize - 1) / kBlockSize};
    }
    // Whether any block of a directory has been listed in this walk.
    [[nodiscard]] bool IsListed(TExtent extent) const
    {
        const auto [first, end] = BlocksOf(extent);
        const auto after = Listed_.upper_bound(static_cast<uint32_t>(first));
        return (after != Listed_.end() && after->first < end) ||
               (after != Listed_.begin() && std::prev(after)->second > first);
    }
    // Notes the blocks of a directory as listed in this walk.
    void MarkListed(TExtent extent)
    {
        const auto [first, end] = BlocksOf(extent);
        Listed_.emplace(static_cast<uint32_t>(first), end);
    }

    // The folder at path, found from the root one name at a time.
    std::optional<TExtent> Find(const std::string& path)
    {
        if (path.empty() || path.front() != '/')
            return std::nullopt;
        TExtent extent = Root_;
        for (size_t at = 1; at < path.size();) {
            const size_t slash = path.find('/', at);
            if (slash == std::string::npos)
                return std::nullopt;
            const std::string_view name(path.data() + at, slash - at);
            std::optional<std::vector<uint8_t>> bytes = ReadDirectory(File_, extent);
            if (!bytes)
                return std::nullopt;
            TIsoListing listing(*this, extent.Block, std::move(*bytes));
            TFindData entry;
            TExtent found;
            bool matched = false;
            while (!matched && listing.NextEntry(entry, found))
                matched = entry.IsFolder && entry.RawName == name;
            if (!matched)
                return std::nullopt;
            extent = found;
            at = slash + 1;
        }
        return extent;
    }

    // The bytes of a continuation area, which lies within one block; empty when it cannot be read.
    TBytes Continuation(TExtent area, uint32_t offset)
    {
        if (offset >= kBlockSize || area.Size > kBlockSize - offset)
            return {};
        if (ContinuationBlock_ != area.Block) {
            ContinuationBytes_.resize(kBlockSize);
            ContinuationBlock_.reset();
            if (!File_.Read(uint64_t{area.Block} * kBlockSize, ContinuationBytes_))
                return {};
            ContinuationBlock_ = area.Block;
        }
        return TBytes(ContinuationBytes_).subspan(offset, area.Size);
    }

    TIsoImage Image_;
    TImageFile File_;
    TExtent Root_;
    bool Joliet_;
    std::string OwnLabel_;
    // Reads the directory that begins at block for OpenFile; the files of one folder are read
    // one after another, so the last directory read is kept.
    bool CacheDirectory(uint32_t block)
    {
        if (DirectoryBlock_ == block)
            return true;
        DirectoryBlock_.reset();
        std::optional<std::vector<uint8_t>> bytes = ReadDirectory(File_, TExtent{block, 0});
        if (!bytes)
            return false;
        Directory_ = std::move(*bytes);
        DirectoryBlock_ = block;
        return true;
    }

    TVolumeFacts Facts_;
    std::optional<uint32_t> DirectoryBlock_;
    std::vector<uint8_t> Directory_;
    std::map<uint32_t, uint64_t> Listed_; // blocks of the directories listed: first -> past last
    std::vector<uint8_t> ContinuationBytes_;
    std::optional<uint32_t> ContinuationBlock_;
};

bool TIsoListing::Next(TFindData& entry)
{
    TExtent extent;
    if (!NextEntry(entry, extent))
        return false;
    if (entry.IsFolder) {
        LastFolder_ = extent;
        LastFolderName_ = entry.RawName;
    }
    return true;
}

bool TIsoListing::NextEntry(TFindData& entry, TExtent& extent)
{
    return Volume_.ParseEntry(Cursor_, Block_, entry, extent, nullptr);
}

bool TIsoVolume::ParseEntry(TRecordCursor& cursor, uint32_t directory, TFindData& entry,
                            TExtent& extent, TFilePieces* pieces)
{
    for (TBytes record = cursor.Next(); !record.empty(); record = cursor.Next()) {
        const uint8_t flags = record[kRecordFlags];
        if (flags & kFlagAssociated)
            continue; // the other half of a file on discs made for Mac OS
        const TBytes name = RecordName(record);
        const bool special = name.size() == 1 && name[0] <= 1;
        TRockRidge rock;
        if (!Joliet_ && !special) {
            const size_t systemUse = kRecordName + name.size() + (name.size() % 2 == 0 ? 1 : 0);
            if (systemUse < record.size())
                ReadSystemUse(record.subspan(systemUse), rock);
        }
        if (rock.Relocated)
            continue;

        entry.IsFolder = (flags & kFlagDirectory) != 0 || rock.ChildLink.has_value();
        extent = rock.ChildLink ? TExtent{*rock.ChildLink, 0}
                                : TExtent{Le32(record, kRecordExtent), Le32(record, kRecordSize)};
        entry.LastWriteTime = RecordTime(record.subspan(kRecordTime, 7));
        entry.Where = entry.IsFolder ? 0 : WhereOf(directory, cursor.OffsetOf(record));
        const auto addPiece = [pieces](TBytes piece) {
            if (!pieces)
                return;
            // A start past the last block a record can name lies past the image's end.
            const uint64_t start = uint64_t{Le32(piece, kRecordExtent)} + piece[kRecordAttributes];
            pieces->Pieces.push_back({static_cast<uint32_t>(std::min<uint64_t>(start, UINT32_MAX)),
                                      Le32(piece, kRecordSize)});
            pieces->Interleaved |= piece[kRecordUnitSize] != 0 || piece[kRecordGapSize] != 0;
        };
        if (pieces) {
            *pieces = {};
            pieces->Ordinary = !rock.Link && (!rock.Mode || S_ISREG(*rock.Mode));
        }
        addPiece(record);
        // A file of 4 GiB or more is recorded in several pieces, all but the last flagged.
        uint64_t size = Le32(record, kRecordSize);
        for (uint8_t pieceFlags = flags; (pieceFlags & kFlagMultiExtent) != 0;) {
            TRecordCursor ahead = cursor;
            const TBytes piece = ahead.Next();
            if (piece.empty() || !std::ranges::equal(RecordName(piece), name))
                break; // a lost piece: the size is what the pieces so far add up to
            cursor = ahead;
            size += Le32(piece, kRecordSize);
            pieceFlags = piece[kRecordFlags];
            addPiece(piece);
        }
        entry.Size = entry.IsFolder ? 0 : size;

        if (special) {
            entry.RawName = name[0] == 0 ? "." : "..";
            entry.Name = entry.RawName;
        } else if (rock.HasName) {
            entry.RawName = std::move(rock.Name);
            entry.Name = NameFromDisc(entry.RawName);
        } else {
            entry.RawName =
                Joliet_ ? Utf8FromUtf16BigEndian(name)
                        : std::string(reinterpret_cast<const char*>(name.data()), name.size());
            const std::string_view shown =
                entry.IsFolder ? std::string_view(entry.RawName) : WithoutVersion(entry.RawName);
            entry.Name = Joliet_ ? NameFromDisc(shown) : NameFromEightBitDisc(shown);
        }
        return true;
    }
    return false;
}

// The root directory records of the primary volume descriptor and of a Joliet one, if any, and
// what the descriptors tell of the medium; their volume identifiers too, for a container that the
// library cannot open.
struct TRoots {
    std::optional<TExtent> Primary, Joliet;
    std::string PrimaryId, JolietId; // as recorded, trailing blanks included
    std::string VolumeSetId;         // the primary descriptor's, UTF-8
    std::string JolietVolumeSetId;   // the Joliet descriptor's, UTF-8
    uint64_t Created = 0;            // FILETIME; 0 when the descriptor leaves it unset
    uint64_t Blocks = 0;             // the volume space size
    uint32_t BlockSize = kBlockSize;
};

// A descriptor's "YYYYMMDDHHMMSScc" date followed by its offset from UTC in quarter hours, as a
// FILETIME; 0 when the digits are zeros or not digits.
uint64_t DescriptorTime(TBytes date)
{
    int64_t fields[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    size_t at = 0;
    for (int field = 0; field < 6; ++field)
        for (int digit = 0; digit < widths[field]; ++digit, ++at) {
            if (date[at] < '0' || date[at] > '9')
                return 0;
            fields[field] = fields[field] * 10 + (date[at] - '0');
        }
    if (fields[0] == 0)
        return 0;
    int offset = static_cast<int8_t>(date[16]);
    if (offset < -48 || offset > 52)
        offset = 0;
    const int64_t seconds = DaysFromCivil(fields[0], fields[1], fields[2]) * 86400 +
                            fields[3] * 3600 + fields[4] * 60 + fields[5];
    return FileTimeFromUnix(seconds - offset * 15 * 60);
}

// An identifier padded with blanks, without them; 8-bit text that is not UTF-8 is read as code
// page 1251, as names are.
std::string DescriptorText(TBytes field, bool utf16)
{
    std::string text = utf16
                           ? Utf8FromUtf16BigEndian(field)
                           : std::string(reinterpret_cast<const char*>(field.data()), field.size());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return utf16 || IsValidUtf8(text) ? text : AnsiToUtf8(NameFromEightBitDisc(text));
}

TRoots FindRoots(const TImageFile& file)
{
    TRoots roots;
    std::vector<uint8_t> descriptor(kBlockSize);
    // A disc of several sessions is read from the last one, whose descriptors describe it whole.
    const uint64_t first = uint64_t{file.SessionStart()} + kFirstDescriptor;
    for (uint64_t block = first; block < first + kMostDescriptors; ++block) {
        if (!file.Read(block * kBlockSize, descriptor) ||
            std::memcmp(descriptor.data() + 1, "CD001", 5) != 0 || descriptor[0] == 255)
            break;
        const TBytes root = TBytes(descriptor).subspan(156, kSmallestRecord);
        const TExtent extent{Le32(root, kRecordExtent), Le32(root, kRecordSize)};
        const uint8_t* escape = descriptor.data() + 88;
        const bool joliet = escape[0] == '%' && escape[1] == '/' &&
                            (escape[2] == '@' || escape[2] == 'C' || escape[2] == 'E');
        const std::string id(reinterpret_cast<const char*>(descriptor.data() + 40), 32);
        const TBytes bytes(descriptor);
        if (descriptor[0] == 1 && !roots.Primary) {
            roots.Primary = extent;
            roots.PrimaryId = id;
            roots.VolumeSetId = DescriptorText(bytes.subspan(190, 128), false);
            roots.Blocks = Le32(bytes, 80);
            roots.BlockSize = bytes[128] | (bytes[129] << 8);
            roots.Created = DescriptorTime(bytes.subspan(813, 17));
        } else if (descriptor[0] == 2 && joliet && !roots.Joliet) {
            roots.Joliet = extent;
            roots.JolietId = id;
            roots.JolietVolumeSetId = DescriptorText(bytes.subspan(190, 128), true);
        }
    }
    return roots;
}

// True when the primary tree carries Rock Ridge: the system use area of its root's "." record
// begins with the entry that announces the extensions, as every Rock Ridge writer records it.
bool HasRockRidge(const TImageFile& file, TExtent root)
{
    const std::optional<TExtent> located = LocateDirectory(file, root);
    std::vector<uint8_t> first(kBlockSize);
    if (!located || !file.Read(uint64_t{located->Block} * kBlockSize, first))
        return false;
    TRecordCursor cursor(first);
    const TBytes dot = cursor.Next();
    const size_t systemUse = kRecordName + 1; // a one-byte name, no padding
    if (dot.size() < systemUse + 7)
        return false;
    const TBytes area = dot.subspan(systemUse);
    return area[0] == 'S' && area[1] == 'P' && area[4] == 0xBE && area[5] == 0xEF;
}

// The volume identifier without its trailing blanks: the Joliet one when there is one, since it
// holds any characters, else the primary one in the disc's 8-bit encoding.
std::string ContainerLabel(const TRoots& roots, bool joliet)
{
    const auto trimmed = [](std::string text) {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
            text.pop_back();
        return text;
    };
    if (joliet) {
        const std::string id(trimmed(Utf8FromUtf16BigEndian(std::span(
            reinterpret_cast<const uint8_t*>(roots.JolietId.data()), roots.JolietId.size()))));
        if (!id.empty())
            return NameFromDisc(id);
    }
    return NameFromEightBitDisc(trimmed(roots.PrimaryId));
}

} // namespace

std::string_view WithoutCutCharacter(std::string_view utf8)
{
    size_t lead = utf8.size();
    size_t following = 0;
    while (lead > 0 && following < 3 &&
           (static_cast<unsigned char>(utf8[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++following;
    }
    if (lead == 0)
        return utf8;
    const auto first = static_cast<unsigned char>(utf8[lead - 1]);
    const size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    return following + 1 < length ? utf8.substr(0, lead - 1) : utf8;
}

std::unique_ptr<IVolume> OpenIsoVolume(const std::string& path)
{
    SilenceLibrary();
    // Checked first: the library's own open would wait for ever on a FIFO.
    std::optional<TImageFile> file = TImageFile::Open(path);
    if (!file)
        return nullptr;
    // The library reads plain images only, from their first session; a container's descriptors,
    // and those of a later session, are read here alone.
    TIsoImage image;
    if (!file->Translated() && file->SessionStart() == 0) {
        image.reset(iso9660_open_ext(path.c_str(), ISO_EXTENSION_ALL));
        if (!image)
            return nullptr;
    }
    const TRoots roots = FindRoots(*file);
    const bool hasJoliet =
        roots.Joliet && (!image || iso9660_ifs_get_joliet_level(image.get()) > 0);
    // Rock Ridge keeps names whole where Joliet cuts them at 64 characters and loses characters
    // outside its 16-bit set; Linux mounts such a disc through Rock Ridge too.
    const bool rockRidge = roots.Primary && HasRockRidge(*file, *roots.Primary);
    const bool joliet = hasJoliet && !rockRidge;
    const std::optional<TExtent> root = joliet ? roots.Joliet : roots.Primary;
    // An image cut short before its root directory holds nothing that could be listed.
    if (!root || !ReadDirectory(*file, *root))
        return nullptr;
    std::string label = image ? std::string() : ContainerLabel(roots, hasJoliet);
    TVolumeFacts facts;
    TMediumIdentity& identity = facts.Identity;
    identity.FileSystem = joliet      ? "ISO 9660 + Joliet"
                          : rockRidge ? "ISO 9660 + Rock Ridge"
                                      : "ISO 9660";
    identity.VolumeSetId = joliet ? roots.JolietVolumeSetId : roots.VolumeSetId;
    identity.CreationTime = roots.Created;
    identity.VolumeBlocks = roots.Blocks;
    facts.Capacity = roots.Blocks * (roots.BlockSize ? roots.BlockSize : kBlockSize);
    auto volume = std::make_unique<TIsoVolume>(std::move(image), std::move(*file), *root, joliet,
                                               std::move(label));
    identity.Label = AnsiToUtf8(volume->Label());
    volume->SetFacts(std::move(facts));
    return volume;
}
