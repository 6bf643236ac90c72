#pragma once

#include "platform/Dialogs.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class IVolume;
class IWindowHost;
class TContentChecksums;
class TFendrel;
struct TDiscTreeDiff;
struct TVolumeFacts;

// A disc brought up to date from its medium: the medium scanned again into a collection of its
// own, the changes shown, and the disc's tree and record replaced when they are applied.
class TDiscUpdater {
public:
    // The dialogs choose an image or a folder when the recorded one is gone. All outlive this.
    TDiscUpdater(IWindowHost& host, TContentChecksums& checksums,
                 const TFileDialogOptions& imageDialog, const TFolderDialogOptions& folderDialog);

    // "Обновить диск...": the selected item's disc, from its recorded source, asking first when
    // the medium does not look like the disc.
    void UpdateSelected();
    // The disc's recorded source opened again: the same image, folder or drive, or what the
    // image or folder dialog chooses when it is gone; nullptr (its message shown) when none.
    [[nodiscard]] std::unique_ptr<IVolume> OpenRecordedSource(uint32_t disc);
    // Scans volume into a collection of its own, shows the changes and, when they are applied
    // (or there are none), makes the disc's tree the new one, sets its record and saves.
    void Update(uint32_t disc, IVolume& volume);
    // The update from a scan already made (the disc scanned of scan): shows the changes and
    // applies them as Update does. checksumsRead: scan holds the checksums of every file read
    // whole, and they replace the recorded ones.
    void Apply(uint32_t disc, TFendrel& scan, uint32_t scanned, bool checksumsRead);
    // The first disc recorded from the medium the facts describe; 0 when none is known to be.
    [[nodiscard]] uint32_t DiscOfMedium(const TVolumeFacts& facts) const;

    // Shows the changes a new scan of the disc titled title makes; true when they are to be
    // applied. The report window (TChangeReportWindow) while empty; tests put another in.
    std::function<bool(const std::string& title, const TDiscTreeDiff& diff)> ReviewChanges;

private:
    [[nodiscard]] bool Review(const std::string& title, const TDiscTreeDiff& diff);

    IWindowHost& Host_;
    TContentChecksums& Checksums_;
    const TFileDialogOptions& ImageDialog_;
    const TFolderDialogOptions& FolderDialog_;
};
