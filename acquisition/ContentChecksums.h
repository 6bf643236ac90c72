#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IVolume;
class IWindowHost;
class QAction;
class TFendrel;
struct TFileToRead;

// What reading the files' bytes for their checksums came to, over one command.
struct TChecksumTally {
    bool Read = false;       // the files were read for their checksums
    int64_t Checksummed = 0; // files given a checksum
    int64_t Unreadable = 0;  // files that could not be read, recorded without one
    bool Cancelled = false;  // the user stopped the reading
};

// The reading of every file's bytes for its checksum as adds and updates scan, behind the
// checkable item that switches it on and remembers it in the settings.
class TContentChecksums {
public:
    // toggle: the checkable item; both outlive this.
    TContentChecksums(IWindowHost& host, QAction& toggle);

    // Checks the item as the settings remember it; a value missing or unreadable leaves it off.
    void ReadSetting();
    // Stores the item's state; a settings file that cannot be written leaves it for this run.
    void WriteSetting();
    // Whether adds and updates read checksums: the item's state.
    [[nodiscard]] bool On() const;

    // Reads the bytes of files (those of the disc titled title that scan holds, as its scan
    // listed them from volume) on a thread of their own behind a progress box, and gives each
    // file read whole its checksum in scan.Checksums; counts them in tally. False when the user
    // cancelled: scan is then left without checksums.
    [[nodiscard]] bool Read(const std::string& title, IVolume& volume, TFendrel& scan,
                            const std::vector<TFileToRead>& files, TChecksumTally& tally);

private:
    IWindowHost& Host_;
    QAction& Toggle_;
};
