#pragma once

class ICollectionFileStore;
class IDialogs;
class IDrives;
class IHelpViewer;
class ISettingsStore;
class ITickClock;

// The machine's services the main window works with. Each outlives the window; tests hand in
// doubles.
struct TPlatform {
    IDialogs& Dialogs;
    ISettingsStore& Settings;
    ITickClock& Clock;
    ICollectionFileStore& CollectionFiles;
    IHelpViewer& Help;
    IDrives& Drives;
};
