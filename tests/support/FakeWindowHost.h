#pragma once

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"
#include "support/SteppedClock.h"

#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/CollectionChange.h"
#include "collection/Fendrel.h"
#include "collection/ProgressLine.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"

#include <QWidget>

#include <memory>
#include <vector>

// The main window as its capabilities see it, without the window: a collection in memory,
// scripted boxes, a stepped clock and a drive table; the tree's selection is a node id, and each
// save and rebuild is recorded instead of made.
class TFakeWindowHost final : public IWindowHost {
public:
    TFendrel& Collection() override { return *Collection_; }
    TProgressLine& Progress() override { return Progress_; }
    const TPlatform& Platform() const override { return Platform_; }
    const std::string& CollectionPath() const override { return Path; }
    const std::string& Title() const override { return Title_; }
    QWidget& Window() override { return Window_; }
    TMessageResult MessageBox(const std::string& text, const std::string& title,
                              TMessageKind kind) override
    {
        return Dialogs.MessageBox(text, title, kind);
    }
    void RunGuarded(const std::function<void()>& handler) override { handler(); }
    uint32_t SelectedNode() override { return Selected; }
    uint32_t SelectedDisc() override
    {
        uint32_t id = Selected;
        while (id != 0 && Collection().GetNode(id).ParentId != 0)
            id = Collection().GetNode(id).ParentId;
        return id;
    }
    void RebuildTree() override { ++Rebuilds; }
    void SelectDisc(uint32_t disc) override { SelectedDiscs.push_back(disc); }
    bool Save(const TCollectionChange& change) override
    {
        Saves.push_back(change);
        return SaveSucceeds;
    }
    std::vector<std::string> DriveNames() const override { return DriveMenu; }
    std::string DefaultDriveName() const override { return DefaultDrive; }
    void DrivesChanged() override { ++DriveMenuRebuilds; }
    void PlaceAboveList(QWidget* widget) override { widget->setParent(&Window_); }

    TScriptedDialogs Dialogs;
    TMemorySettingsStore Settings;
    TSteppedClock Clock;
    TPosixCollectionFileStore CollectionFiles;
    TRecordingHelpViewer Help;
    TDriveTable Drives;

    std::string Path = "/tmp/fake-host.frl";
    uint32_t Selected = 0;
    std::vector<std::string> DriveMenu; // "E:", as the drive menu shows them
    std::string DefaultDrive;
    bool SaveSucceeds = true;

    std::vector<TCollectionChange> Saves;
    std::vector<uint32_t> SelectedDiscs;
    int Rebuilds = 0;
    int DriveMenuRebuilds = 0;

private:
    TPlatform Platform_{Dialogs, Settings, Clock, CollectionFiles, Help, Drives};
    TProgressLine Progress_{Clock, [](const std::string&) {
                            }};
    std::unique_ptr<TFendrel> Collection_ = std::make_unique<TFendrel>(&Progress_);
    std::string Title_ = "Fendrel v1.2";
    QWidget Window_;
};
