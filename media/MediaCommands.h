#pragma once

#include "media/MediaWatcher.h"

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>

class IWindowHost;
class QMessageBox;
class QWidget;
class TDiscAdder;
class TDiscUpdater;
class TMediaBars;

// Media as they come and go: a bar above the list for each medium that arrives (adding a new one,
// opening or updating a known one), the drive menu kept to the drives present, and the folder of
// a found file opened once its disc is there.
class TMediaCommands final : public QObject {
    Q_OBJECT
public:
    // All outlive this.
    TMediaCommands(IWindowHost& host, TDiscAdder& adder, TDiscUpdater& updater);

    // Follows the watcher's media and optical drives from now on. The watcher outlives this.
    void Watch(IMediaWatcher& watcher);
    // Gives the bar of a known medium its "Обновить", which updates the disc from the medium
    // (UpdateFromMedium). Call it before Watch.
    void OfferUpdates();
    // The disc of the collection that the medium holds, or 0 when none is.
    [[nodiscard]] uint32_t DiscOfMedium(const TMedium& medium);
    // The node's folder (the node itself when it is a folder) in the desktop's file manager,
    // when its disc is present; otherwise a box over owner asks for the disc and opens the folder
    // once the disc arrives.
    void OpenFoundFolder(uint32_t id, QWidget* owner);
    void UpdateFromMedium(uint32_t disc, const TMedium& medium);
    // Ids of another collection name other nodes: the insert box gives up its disc.
    void CollectionReplaced();

    TMediaBars* MediaBars = nullptr;      // above the list; made by Watch
    QMessageBox* InsertDiscBox = nullptr; // "Вставьте диск", while it waits for its disc

signals:
    // "Обновить" on a medium's bar: the disc is to be updated from the medium in the drive or
    // at the mount point.
    void UpdateDiscRequested(uint32_t disc, const TMedium& medium);

private:
    void MediumArrived(const TMedium& medium);
    void MediumChanged(const TMedium& medium);
    void MediumLeft(const TMedium& medium);
    void DrivePlugged(const std::string& device);
    void DriveUnplugged(const std::string& device);
    // The disc's root folder on a present medium, or nothing when none holds it.
    [[nodiscard]] std::optional<std::string> PresentRootOf(uint32_t disc);
    void OpenFolderOf(uint32_t id, const std::string& root);
    // When disc is the one the insert box waits for and it is present: closes the box and opens
    // the folder.
    void OpenAwaitedFolder(uint32_t disc);

    IWindowHost& Host_;
    TDiscAdder& Adder_;
    TDiscUpdater& Updater_;
    IMediaWatcher* Media_ = nullptr;
    // The disc and the node whose folder the insert box waits for.
    uint32_t AwaitedDisc_ = 0;
    uint32_t AwaitedNode_ = 0;
};
