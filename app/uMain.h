#pragma once

#include "app/Platform.h"
#include "collection/Fendrel.h"
#include "collection/PendingChanges.h"
#include "collection/ProgressLine.h"
#include "media/MediaWatcher.h"
#include "platform/CollectionFileStore.h"
#include "platform/Dialogs.h"

#include <QEvent>
#include <QIcon>
#include <QList>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class IMediaWatcher;
class IVolume;
struct TFileToRead;
class QMessageBox;
class TMediaBars;
class TCollectionChange;
struct TDiscCheck;
struct TDiscTreeDiff;
class QAction;
class QLabel;
class QMenu;
class QModelIndex;
class QPrinter;
class QSplitter;
class QToolBar;
class QTreeView;
class TCollectionTreeModel;
class TFindWindow;
class TFolderListModel;

// Posted by the window to itself when it is first shown; its handler opens the first collection.
inline constexpr QEvent::Type WM_STARTUP = static_cast<QEvent::Type>(0x800A);

// What the tree shows after a successful save: the item selected before, or the root item.
enum class TAfterSave { KeepSelection, SelectRoot };

// The application's one window: the collection tree beside the folder list, the menus and their
// commands, and the state of the run. Widgets are owned through Qt's parent chain; handlers
// are named after their command or widget event.
class TForm_Main final : public QMainWindow {
    Q_OBJECT
public:
    // Throws EFendrelError "Ошибка инициализации приложения" when the settings cannot be read.
    explicit TForm_Main(const TPlatform& platform, QWidget* parent = nullptr);
    // Writes the settings back.
    ~TForm_Main() override;

    // --- Layout (app/uMain.cpp) -----------------------------------------------------------
    QToolBar* ToolBar_Main = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTreeView* TreeView_Main = nullptr;
    QTreeView* ListView_Main = nullptr; // report view: one row per disc, folder or file
    QLabel* Panel_Status = nullptr;
    TCollectionTreeModel* TreeModel = nullptr; // items of TreeView_Main
    TFolderListModel* ListModel = nullptr;     // rows of ListView_Main

    QMenu* MI_Collection = nullptr;
    QMenu* MI_Disc = nullptr;
    QMenu* MI_SelectDefDrive = nullptr;
    QMenu* MI_View = nullptr;
    QAction* MI_ViewSeparator = nullptr;
    QMenu* MI_Find = nullptr;
    QMenu* MI_Help = nullptr;

    QAction* Act_NewCollection = nullptr;
    QAction* Act_LoadCollection = nullptr;
    QAction* Act_Export = nullptr;
    QAction* Act_Print = nullptr;
    QAction* Act_Exit = nullptr;
    QAction* Act_AddDisc = nullptr;
    QAction* Act_AddImage = nullptr;  // discs from ISO image files; needs no drive
    QAction* Act_AddFolder = nullptr; // a folder (a USB stick, a copied disc) as a disc
    QAction* Act_DeleteDisc = nullptr;
    QAction* Act_RenameDisc = nullptr;
    QAction* Act_DiscProperties = nullptr;
    QAction* Act_UpdateDisc = nullptr; // a disc brought up to date from its medium
    QAction* Act_CheckDisc = nullptr;  // a disc read back against its record
    // Checkable: adds and updates also read every file's bytes and record their checksums.
    QAction* Act_ChecksumsOnAdd = nullptr;
    QAction* Act_NewFilter = nullptr;
    QAction* Act_NoFilter = nullptr;
    QAction* Act_Find = nullptr;
    QAction* Act_HelpAbout = nullptr;
    QAction* Act_HelpContents = nullptr;
    QAction* Act_EntireCollection = nullptr; // has a caption and no handler

    QList<QIcon> ImageLista_Main;
    TFileDialogOptions OpenDlg_Collection;
    TFileDialogOptions SaveDlg_Collection;
    TFileDialogOptions OpenDlg_Image;
    TFolderDialogOptions OpenDlg_Folder;

    // --- State of the run -----------------------------------------------------------------
    std::string CollectionFile; // path of the current collection file, as the file system has it
    int32_t DefDriveIndex = -1; // position of the default drive in MI_SelectDefDrive
    std::map<std::string, TCollectionBranch> Filters; // hit lists by filter string
    std::string ApplicationTitle; // "Fendrel v1.2": the title of most message boxes

    [[nodiscard]] TFendrel& Collection() { return *Collection_; }
    // Makes a new, empty collection the application's collection.
    void ReplaceCollection();
    // Makes collection the application's collection.
    void ReplaceCollection(std::unique_ptr<TFendrel> collection);

    // --- Start-up, settings and shutdown (app/Startup.cpp) --------------------------------
    void FormShow();
    void WMStartup();
    [[nodiscard]] bool FormCloseQuery();

    // --- Collection commands (app/CollectionCommands.cpp) ---------------------------------
    void OpenCollectionFile();
    // Writes the collection to CollectionFile. change: what the calling command changed; it
    // waits with the changes that earlier saves could not write until a save succeeds. When
    // another program has saved the file meanwhile, every waiting change is made again, in
    // order, on what the file holds now, and that becomes the collection. On success the filters
    // are dropped and the tree rebuilt as after says; false when the save failed (its message
    // has been shown, and the caption marks the collection as unsaved).
    bool SaveCollectionFile(const TCollectionChange& change,
                            TAfterSave after = TAfterSave::KeepSelection);
    // Whether changes of the collection are still waiting for a save that succeeds.
    [[nodiscard]] bool HasUnsavedChanges() const { return !Pending_.empty(); }
    // Before the collection is closed: with unsaved changes, asks whether to try saving them
    // again, and does. True when the collection may be closed: nothing was unsaved, the save
    // succeeded, or the user chose to give the changes up.
    [[nodiscard]] bool MayCloseCollection();
    void Act_NewCollectionExecute(QObject* sender);
    void Act_LoadCollectionExecute(QObject* sender);
    void Act_ExitExecute(QObject* sender);
    void Act_HelpContentsExecute(QObject* sender);
    void Act_HelpAboutExecute(QObject* sender);

    // --- Drives and the disc scan (acquisition/) ------------------------------------------
    void BuildDriveMenu();
    void ChooseDefaultDrive(std::optional<char> storedLetter);
    void MI_SelectDefDriveClick(QObject* sender);
    void Act_AddDiscExecute(QObject* sender);
    void Act_AddImageExecute(QObject* sender);
    void Act_AddFolderExecute(QObject* sender);

    // --- Disc title and record (app/DiscCommands.cpp) -------------------------------------
    // The disc of the selected tree item (a folder's disc); 0 for the root or no selection.
    [[nodiscard]] uint32_t SelectedDisc();
    void Act_RenameDiscExecute(QObject* sender);
    void Act_DiscPropertiesExecute(QObject* sender);

    // --- Disc update (acquisition/UpdateDisc.cpp) -----------------------------------------
    void Act_UpdateDiscExecute(QObject* sender);
    // Shows the changes a new scan of the disc titled title makes; true when they are to be
    // applied. ShowChangeReport (the report window) unless a test puts another in.
    std::function<bool(const std::string& title, const TDiscTreeDiff& diff)> ReviewChanges;
    bool ShowChangeReport(const std::string& title, const TDiscTreeDiff& diff);

    // --- Disc check (acquisition/CheckDisc.cpp) -------------------------------------------
    void Act_CheckDiscExecute(QObject* sender);
    // Shows what reading the disc titled title back found; true when the disc is to be updated.
    // The report window (TCheckReportWindow) while empty; tests put another in.
    std::function<bool(const std::string& title, const TDiscCheck& check)> ReviewCheck;

    // --- Tree and list (browse/) ----------------------------------------------------------
    void Act_DeleteDiscExecute(QObject* sender);
    // Lists the contents of the node with the id (0: the discs) in view, or shows the file
    // information box when the node is a file.
    void ShowItem(const TFendrel& collection, uint32_t id, QTreeView& view);
    // node: the newly selected tree item; invalid when the selection went away.
    void TreeView_MainChange(QObject* sender, const QModelIndex& node);
    void ListView_MainDblClick(QObject* sender);

    // --- Filter menu (filter/FilterMenu.cpp) ----------------------------------------------
    void Act_NewFilterExecute(QObject* sender);
    void AddFilterItem(const std::string& filter);
    void ApplyFilterClick(QObject* sender);
    void Act_NoFilterExecute(QObject* sender);
    void UncheckFilterItems();
    // unmarked: the collection carries no marks, as one just read from its file, so none need
    // clearing (nor do they when Filters is empty).
    void ResetFilters(bool unmarked = false);

    // --- Find window (find/FindCommand.cpp) -----------------------------------------------
    void Act_FindExecute(QObject* sender);
    // Selects the node's folder in the tree and its row in the list, first removing a filter
    // that hides it. False when the row could not be shown.
    bool ShowFoundNode(uint32_t id);
    TFindWindow* FindWindow = nullptr; // made by the first Act_Find; owned as a child

    // --- Export (export/ExportCommand.cpp) ------------------------------------------------
    // Exports the selected item's disc, or the whole collection when the root is selected.
    void Act_ExportExecute(QObject* sender);

    // --- Print (print/PrintCommand.cpp) ---------------------------------------------------
    // Prints the listing of the selected item's disc through the print dialog.
    void Act_PrintExecute(QObject* sender);
    // Shows the print dialog for printer; true when the user chose to print. Tests set
    // PrintDialog to answer it instead.
    bool ChoosePrinter(QPrinter& printer);
    std::function<bool(QPrinter&)> PrintDialog;
    // --- Media as they come and go (media/MediaCommands.cpp) ------------------------------
    // Follows the watcher's media and optical drives from now on: a bar above the list for each
    // medium that arrives, the drive menu kept to the drives present. The watcher outlives the
    // window.
    void WatchMedia(IMediaWatcher& watcher);
    void MediumArrived(const TMedium& medium);
    void MediumChanged(const TMedium& medium);
    void MediumLeft(const TMedium& medium);
    void DrivePlugged(const std::string& device);
    void DriveUnplugged(const std::string& device);
    // The disc of the collection that the medium holds, or 0 when none is.
    [[nodiscard]] uint32_t DiscOfMedium(const TMedium& medium);
    // The node's folder (the node itself when it is a folder) in the desktop's file manager,
    // when its disc is present; otherwise a box asks for the disc and opens the folder once the
    // disc arrives.
    void OpenFoundFolder(uint32_t id);
    // Gives the bar of a known medium its "Обновить", which updates the disc from the medium
    // (UpdateDiscFromMedium). Call it before WatchMedia.
    void OfferUpdatesOfMedia();
    void UpdateDiscFromMedium(uint32_t disc, const TMedium& medium);
    TMediaBars* MediaBars = nullptr;      // above the list; made by WatchMedia
    QMessageBox* InsertDiscBox = nullptr; // "Вставьте диск", while it waits for its disc
    // Rebuilds the drive menu from the drives present, keeping the default drive while it is
    // there; the first drive becomes the default when it is not, and adding discs is enabled
    // exactly while there is a drive.
    void DrivesChanged();

signals:
    // The collection was replaced by a new one: ids held until now name other nodes.
    void CollectionReplaced();
    // "Обновить" on a medium's bar: the disc is to be updated from the medium in the drive or
    // at the mount point.
    void UpdateDiscRequested(uint32_t disc, const TMedium& medium);

public:
    // --- Errors ---------------------------------------------------------------------------
    // Runs a command or event handler; an error escaping it is shown in the error box and the
    // window goes on working.
    void RunGuarded(const std::function<void()>& handler);
    void ShowErrorBox(const std::string& message);
    TMessageResult MessageBox(const std::string& text, const std::string& title, TMessageKind kind);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void CreateLayout();
    void CreateActions();
    void CreateMenus();
    void ConnectHandlers();
    void ConnectBrowseHandlers();
    [[nodiscard]] std::optional<char> ReadSettings();
    void WriteSettings();
    void ShowStatus(const std::string& text);
    // Shows Caption_ in the title bar, marked with a trailing " *" while changes are unsaved.
    void ShowCaption();
    // Writes the collection with the waiting changes; as SaveCollectionFile.
    bool SavePendingChanges(TAfterSave after);
    // The discs one command has added, in order, and the folders and files found on them.
    struct TAddedDiscs {
        TCollectionBranch Ids;
        int64_t Count = 0;
        bool Checksums = false;  // the discs' files were read for their checksums
        int64_t Checksummed = 0; // files given a checksum
        int64_t Unreadable = 0;  // files that could not be read, recorded without one
        bool Cancelled = false;  // the user stopped the command while a disc was read
    };
    // Adds the disc that open reads (opened once for its label, once more for the walk): asks
    // for the title, scans, shows the count and saves. failure: the message when it cannot be
    // read. driveName: the drive's name in the drive menu, for a disc in a drive.
    void AddScannedDisc(const std::function<std::unique_ptr<IVolume>()>& open,
                        const std::string& failure, const std::string& driveName = {});
    // Asks for the title of the disc that open reads and scans it into the collection, noting it
    // in added; shows failure instead when the disc cannot be read. Nothing is added when the
    // title is cancelled. The disc's record notes the time it was added and the drive's name. A
    // medium the collection already holds is asked about first: the user may update that disc
    // instead.
    void ScanNewDisc(const std::function<std::unique_ptr<IVolume>()>& open,
                     const std::string& failure, TAddedDiscs& added,
                     const std::string& driveName = {});
    // The medium that open reads is the disc's, as the user said: updates the disc from it,
    // once the discs the command added before it are saved.
    void UpdateKnownDisc(uint32_t disc, const std::function<std::unique_ptr<IVolume>()>& open,
                         const std::string& failure, TAddedDiscs& added);
    // Once a command has added its discs (when it has added any): rebuilds the tree, shows the
    // count, with the number of discs when there are several, and saves the collection.
    void ReportAddedDiscs(const TAddedDiscs& added);

    // The disc's recorded source opened again: the same image, folder or drive, or what the
    // image or folder dialog chooses when it is gone; nullptr (its message shown) when none.
    [[nodiscard]] std::unique_ptr<IVolume> OpenRecordedSource(uint32_t disc);
    // Scans volume into a collection of its own, shows the changes and, when they are applied
    // (or there are none), makes the disc's tree the new one, sets its record and saves.
    void UpdateDisc(uint32_t disc, IVolume& volume);
    // The update from a scan already made (the disc scanned of scan): shows the changes and
    // applies them as UpdateDisc does. checksumsRead: scan holds the checksums of every file
    // read whole, and they replace the recorded ones.
    void ApplyUpdate(uint32_t disc, TFendrel& scan, uint32_t scanned, bool checksumsRead);
    // The first disc recorded from the medium the facts describe; 0 when none is known to be.
    [[nodiscard]] uint32_t DiscOfMedium(const TVolumeFacts& facts) const;

    // --- Content checksums (acquisition/ContentChecksums.cpp) -----------------------------
    void Act_ChecksumsOnAddExecute(QObject* sender);
    // Checks the item as the settings remember it; a value missing or unreadable leaves it off.
    void ReadChecksumSetting();
    // Whether adds and updates read checksums: the checkable item's state.
    [[nodiscard]] bool ChecksumsOnAdd() const;
    // Reads the bytes of files (those of the disc titled title that scan holds, as its scan
    // listed them from volume) on a thread of their own behind a progress box, and gives each
    // file read whole its checksum in scan.Checksums; counts them in added. False when the user
    // cancelled: scan is then left without checksums.
    [[nodiscard]] bool ReadChecksums(const std::string& title, IVolume& volume, TFendrel& scan,
                                     const std::vector<TFileToRead>& files, TAddedDiscs& added);

    TPlatform Platform_;
    TProgressLine Progress_; // shared by every collection of the run
    std::unique_ptr<TFendrel> Collection_;
    std::string LoadedFile_; // the file the collection in memory came from; empty until one is read
    // The collection file as this window last read or wrote it, so that a save notices when
    // another program has changed it since.
    std::string KnownFile_;
    TFileIdentity KnownIdentity_;
    // The last load did not read all of KnownFile_, so its next save keeps the original first.
    bool KeepDamagedOriginal_ = false;
    TPendingChanges Pending_; // made in the collection, not yet in its file
    QString Caption_;         // the window's title without the mark of unsaved changes
    // The stored last collection when it could not be opened at start-up: kept in the settings
    // until another collection is chosen, so that the next start tries it again.
    std::string UnopenedLastCollection_;
    bool Shown_ = false;
    IMediaWatcher* Media_ = nullptr;
    // The disc and the node whose folder the insert box waits for.
    uint32_t AwaitedDisc_ = 0;
    uint32_t AwaitedNode_ = 0;
    // The disc's root folder on a present medium, or nothing when none holds it.
    [[nodiscard]] std::optional<std::string> PresentRootOf(uint32_t disc);
    void OpenFolderOf(uint32_t id, const std::string& root);
    // When disc is the one the insert box waits for and it is present: closes the box and opens
    // the folder.
    void OpenAwaitedFolder(uint32_t disc);
};

// The text of the error box: the message with a full stop added when it ends in a character
// whose code is above that of ".".
[[nodiscard]] std::string ErrorBoxText(const std::string& message);
