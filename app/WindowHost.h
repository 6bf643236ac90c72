#pragma once

#include "platform/Dialogs.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class TCollectionChange;
class TFendrel;
class TProgressLine;
struct TPlatform;

// The main window as the capabilities it owns see it (the disc update and check, checksums, the
// media bars, export, print): the collection, its save, the selection and the boxes. The window
// implements it; tests hand in a double to try a capability without the whole window.
class IWindowHost {
public:
    virtual ~IWindowHost() = default;

    // The application's collection. A load, or a save that meets another program's changes,
    // replaces it: neither it nor its nodes are kept across those.
    [[nodiscard]] virtual TFendrel& Collection() = 0;
    // The progress line every collection of the run shares, for scans into collections of
    // their own.
    [[nodiscard]] virtual TProgressLine& Progress() = 0;
    [[nodiscard]] virtual const TPlatform& Platform() const = 0;
    // The current collection file's path, as the file system has it.
    [[nodiscard]] virtual const std::string& CollectionPath() const = 0;
    // "Fendrel v1.2": the title of most message boxes.
    [[nodiscard]] virtual const std::string& Title() const = 0;
    // The parent of the window's own boxes.
    [[nodiscard]] virtual QWidget& Window() = 0;

    virtual TMessageResult MessageBox(const std::string& text, const std::string& title,
                                      TMessageKind kind) = 0;
    // Runs an event handler; an error escaping it is shown in the error box.
    virtual void RunGuarded(const std::function<void()>& handler) = 0;

    // The node of the selected tree item; 0 for the root or no selection.
    [[nodiscard]] virtual uint32_t SelectedNode() = 0;
    // The disc of the selected tree item (a folder's disc); 0 for the root or no selection.
    [[nodiscard]] virtual uint32_t SelectedDisc() = 0;
    // Rebuilds the tree from the collection.
    virtual void RebuildTree() = 0;
    // Selects the disc's item in the tree, when it has one.
    virtual void SelectDisc(uint32_t disc) = 0;
    // Writes the collection with the change, as every command that changes it does; false when
    // the save failed (its message has been shown).
    virtual bool Save(const TCollectionChange& change) = 0;

    // The drives of the drive menu ("E:"), in its order, and the default one; empty when none.
    [[nodiscard]] virtual std::vector<std::string> DriveNames() const = 0;
    [[nodiscard]] virtual std::string DefaultDriveName() const = 0;
    // The drives present have changed: the drive menu is made again.
    virtual void DrivesChanged() = 0;
    // Puts widget (taking it) above the folder list, in the list's pane.
    virtual void PlaceAboveList(QWidget* widget) = 0;
};
