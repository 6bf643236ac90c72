#pragma once

// The records of a UDF file system in an image file or a disc's device node: its volume
// descriptors, partitions, file entries and directories, read without mounting. Every revision
// from 1.02 to 2.60, with physical, sparable, virtual (VAT) and metadata partitions, file entries
// of both kinds and every kind of allocation descriptor. Nothing is read outside the file.

#include "collection/DiscRecord.h"
#include "discs/ImageFile.h"
#include "discs/UdfRecords.h"
#include "discs/Volume.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The image file with a window read ahead: the entries of the files of one folder mostly lie one
// after another, and one read then brings many of them.
class TUdfImageFile {
public:
    static constexpr uint64_t ReadAheadBytes = 64 * 1024;

    explicit TUdfImageFile(TImageFile file)
        : File_(std::move(file))
    {
    }

    [[nodiscard]] uint64_t Size() const { return File_.Size(); }
    [[nodiscard]] bool Read(uint64_t offset, std::span<uint8_t> out) const
    {
        return File_.Read(offset, out);
    }
    // Like Read, served from the window.
    [[nodiscard]] bool ReadAhead(uint64_t offset, std::span<uint8_t> out);

private:
    TImageFile File_;
    std::vector<uint8_t> Window_;
    uint64_t WindowStart_ = 0;
};

// What a file entry says about its file.
struct TUdfEntry {
    uint8_t FileType = 0;
    int Form = 0;
    uint64_t Size = 0;
    uint64_t Time = 0;                // FILETIME of its last change
    uint16_t Partition = 0;           // where its short allocation descriptors point
    std::vector<uint8_t> Descriptors; // its allocation descriptors, or its bytes when embedded
};

struct TUdfVolumeDescriptors;

class TUdfDisc {
public:
    // The disc in the file; nullptr when the file holds no readable UDF file system.
    [[nodiscard]] static std::unique_ptr<TUdfDisc> Open(const std::string& path);

    TUdfDisc(TUdfImageFile file, uint32_t blockSize);
    ~TUdfDisc();
    TUdfDisc(const TUdfDisc&) = delete;
    TUdfDisc& operator=(const TUdfDisc&) = delete;

    [[nodiscard]] TUdfAddress Root() const { return Root_; }
    [[nodiscard]] const std::string& Label() const { return Label_; } // UTF-8
    // The file system with its revision, the logical volume and volume set identifiers and the
    // recording time, as the volume descriptors give them; the label is left to Label().
    [[nodiscard]] const TMediumIdentity& Identity() const { return Identity_; }
    [[nodiscard]] uint64_t Size() const { return File_.Size(); }
    // The block of the image that holds a partition's block, which tells two addresses of one
    // directory apart from two directories.
    [[nodiscard]] std::optional<uint64_t> ImageBlock(TUdfAddress address) const;

    // The file entry at address, following indirect entries; without its allocation descriptors
    // unless asked for.
    [[nodiscard]] std::optional<TUdfEntry> ReadEntry(TUdfAddress address, bool withDescriptors);
    // The identifiers of the directory whose entry is at address; nothing when the directory is
    // larger than room, cannot be read or is damaged.
    [[nodiscard]] std::optional<std::vector<uint8_t>> ReadDirectory(TUdfAddress address,
                                                                    uint64_t room);
    // The bytes of the file whose entry is at address, read while the disc stays open; nullptr
    // when its entry or its allocation descriptors cannot be read.
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(TUdfAddress address);

private:
    struct TPartition;
    struct TExtent;
    class TFile;

    bool Load(const TUdfVolumeDescriptors& descriptors);
    bool LoadPartitions(TUdfBytes logical, const TUdfVolumeDescriptors& descriptors);
    bool LoadSparingTable(TPartition& partition, uint32_t block);
    bool LoadVat(TPartition& partition, std::string& label);
    bool LoadMetadata(TPartition& partition);
    std::optional<TUdfAddress> FindRoot(TUdfBytes logical);
    std::optional<uint64_t> Locate(TUdfAddress address, uint64_t& run) const;
    std::optional<uint64_t> LocatePhysical(const TPartition& partition, uint32_t block,
                                           uint64_t& run) const;
    bool ReadPartition(TUdfAddress address, uint64_t offset, std::span<uint8_t> out);
    bool ReadBlock(TUdfAddress address, std::vector<uint8_t>& out);
    std::optional<std::vector<TExtent>> Extents(const TUdfEntry& entry, uint64_t wanted);
    std::optional<std::vector<uint8_t>> ReadContent(const TUdfEntry& entry, uint64_t limit);

    TUdfImageFile File_;
    uint32_t BlockSize_;
    uint64_t Blocks_;
    std::vector<TPartition> Partitions_;
    TUdfAddress Root_;
    std::string Label_;
    TMediumIdentity Identity_;
    std::vector<uint8_t> Block_;
};
