#pragma once

#include "collection/DiscRecord.h"
#include "discs/Drives.h"
#include "discs/Media.h"
#include "discs/Volume.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TFendrel;

// A file of the collection as its medium is asked for it.
struct TFileOnDisc {
    struct TStep {
        std::string Name; // as the collection holds it: code page 1251 with escapes
        bool Folder = false;
        // How many entries of its folder with this name and kind come before it: twins are told
        // apart by their order, which is the order the scan found them in.
        unsigned Occurrence = 0;
    };
    TDiscRecord Record;
    std::vector<TStep> Steps; // the folders from below the disc's root down, then the file
    uint64_t Size = 0;        // as recorded
};

// The file with the id (which must be a file of the collection) as its medium is asked for it.
[[nodiscard]] TFileOnDisc FileOnDisc(const TFendrel& collection, uint32_t file);

// An open file on its medium. The content reads through the volume, so it is declared after it
// and goes first. The disc readers keep state of their own (the sector or block last read), so
// the files of one volume are read one request at a time, whichever thread asks.
struct TOpenContent {
    std::shared_ptr<IVolume> Volume;
    std::shared_ptr<std::mutex> VolumeInUse;
    std::unique_ptr<IFileContent> Content;

    [[nodiscard]] std::optional<size_t> Read(uint64_t offset, std::span<uint8_t> out) const
    {
        const std::lock_guard lock(*VolumeInUse);
        return Content->Read(offset, out);
    }
};

// Finds files on their media: a disc is looked for where it was recorded, on the mounted media
// and in the drives, recognised by what the medium tells of itself. A disc found is kept for a
// moment, with the last folders listed on it, so that copying a folder does not look for its
// disc once a file; a disc not found is not looked for again during that moment either.
class TContentSource {
public:
    // What the machine has now: its drives and its mounted media, asked afresh whenever a disc
    // is looked for. ownDevice: the device number of the mount this serves; a disc recorded inside
    // it is never looked for there (the mount would wait for itself).
    struct TMachine {
        std::function<std::unique_ptr<IDrives>()> Drives;
        std::function<std::vector<TMedium>()> Media;
    };
    explicit TContentSource(TMachine machine = MachineNow());
    [[nodiscard]] static TMachine MachineNow();
    void SetOwnDevice(uint64_t device) { OwnDevice_ = device; }

    // The file's bytes, or nullptr with error set: ENOMEDIUM when no medium present holds its
    // disc, ENOENT when the medium has no such file, ESTALE when the file's size there is not the
    // recorded one (the file has changed since the disc was recorded), EIO when it cannot be
    // read or is not an ordinary file. Safe to call from several threads.
    [[nodiscard]] std::unique_ptr<TOpenContent> Open(const TFileOnDisc& file, int& error);

    // How long a disc found, or found missing, is taken as it was.
    static constexpr std::chrono::milliseconds kKeptFor{2000};

private:
    struct TListing {
        std::string Path;
        std::vector<TFindData> Entries;
    };
    struct TPresentDisc {
        std::chrono::steady_clock::time_point Found;
        std::shared_ptr<IVolume> Volume; // null: looked for and not found
        std::shared_ptr<std::mutex> VolumeInUse = std::make_shared<std::mutex>();
        std::unique_ptr<IDrives> Drives; // the volume was opened from them
        std::list<TListing> Listings;    // the latest first
    };
    // The disc, looked for when it was not looked for just now.
    TPresentDisc& Present(const TDiscRecord& record);
    // The entries of the folder at path, from the listings kept or read now; null when it cannot
    // be read.
    const std::vector<TFindData>* List(TPresentDisc& disc, const std::string& path);
    [[nodiscard]] bool InOwnMount(const std::string& path) const;

    TMachine Machine_;
    uint64_t OwnDevice_ = 0;
    std::mutex Mutex_;
    std::map<std::string, TPresentDisc> Discs_; // by what the record says of its medium
};
