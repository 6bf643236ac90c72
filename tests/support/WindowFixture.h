#pragma once

#include "support/FaultyCollectionFileStore.h"
#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"
#include "support/SteppedClock.h"

#include "app/Platform.h"
#include "app/uMain.h"
#include "discs/Drives.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// The real main window over scripted boxes, settings in memory, a stepped clock and a
// temporary folder for collection files.
class TWindowFixture : public ::testing::Test {
protected:
    TPlatform Platform()
    {
        return TPlatform{Dialogs, Settings, Clock, CollectionFiles, Help, Drives};
    }
    // Constructs the window; does not show it.
    TForm_Main& MakeWindow();
    // Shows the window and delivers the start-up message, which waits for the window to be exposed.
    void ShowAndStart();
    // Handles events until done() or for at most five seconds; returns done().
    static bool ProcessEventsUntil(const std::function<bool()>& done);
    // A path inside the temporary folder.
    [[nodiscard]] std::string PathOf(const std::string& name) const;

    TScriptedDialogs Dialogs;
    TMemorySettingsStore Settings;
    TSteppedClock Clock;
    TFaultyCollectionFileStore CollectionFiles; // real files in Folder
    TRecordingHelpViewer Help;
    TDriveTable Drives; // no drive unless a test adds one
    QTemporaryDir Folder;
    std::unique_ptr<TForm_Main> Window;
};
