#pragma once

#include "acquisition/ContentChecksums.h"
#include "collection/CollectionNode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class IVolume;
class IWindowHost;
class TDiscUpdater;

// The discs one command has added, in order, and the folders and files found on them.
struct TAddedDiscs {
    TCollectionBranch Ids;
    int64_t Count = 0;
    TChecksumTally Checksums;
};

// The scan of new discs into the collection, for the add commands and the media bars: the title
// asked for, the disc walked (and its files read for their checksums when that is on), the count
// shown and the collection saved.
class TDiscAdder {
public:
    // All outlive this.
    TDiscAdder(IWindowHost& host, TContentChecksums& checksums, TDiscUpdater& updater);

    // Adds the disc that open reads (opened once for its label, once more for the walk): asks
    // for the title, scans, shows the count and saves. failure: the message when it cannot be
    // read. driveName: the drive's name in the drive menu, for a disc in a drive.
    void AddScanned(const std::function<std::unique_ptr<IVolume>()>& open,
                    const std::string& failure, const std::string& driveName = {});
    // Asks for the title of the disc that open reads and scans it into the collection, noting it
    // in added; shows failure instead when the disc cannot be read. Nothing is added when the
    // title is cancelled. The disc's record notes the time it was added and the drive's name. A
    // medium the collection already holds is asked about first: the user may update that disc
    // instead.
    void ScanNew(const std::function<std::unique_ptr<IVolume>()>& open, const std::string& failure,
                 TAddedDiscs& added, const std::string& driveName = {});
    // Once a command has added its discs (when it has added any): rebuilds the tree, shows the
    // count, with the number of discs when there are several, and saves the collection.
    void Report(const TAddedDiscs& added);

private:
    // The medium that open reads is the disc's, as the user said: updates the disc from it,
    // once the discs the command added before it are saved.
    void UpdateKnown(uint32_t disc, const std::function<std::unique_ptr<IVolume>()>& open,
                     const std::string& failure, TAddedDiscs& added);

    IWindowHost& Host_;
    TContentChecksums& Checksums_;
    TDiscUpdater& Updater_;
};
