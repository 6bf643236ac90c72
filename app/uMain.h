#pragma once

#include "app/MainLayout.h"
#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/Fendrel.h"
#include "collection/PendingChanges.h"
#include "collection/ProgressLine.h"
#include "platform/CollectionFileStore.h"

#include <QEvent>
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QModelIndex;
class QTreeView;
class TContentChecksums;
class TDiscAdder;
class TDiscChecker;
class TDiscUpdater;
class TExportCommand;
class TFindWindow;
class TMediaCommands;
class TMountCommand;
class TPrintCommand;

// Posted by the window to itself when it is first shown; its handler opens the first collection.
inline constexpr QEvent::Type WM_STARTUP = static_cast<QEvent::Type>(0x800A);

// What the tree shows after a successful save: the item selected before, or the root item.
enum class TAfterSave { KeepSelection, SelectRoot };

// The application's one window: the collection tree beside the folder list, the menus and their
// commands, and the state of the run. Widgets are owned through Qt's parent chain; handlers
// are named after their command or widget event. What goes beyond the window's own commands is a
// capability of its own (below), which reaches the window through IWindowHost.
class TForm_Main final : public QMainWindow, public TMainLayout, public IWindowHost {
    Q_OBJECT
public:
    // Throws EFendrelError "Ошибка инициализации приложения" when the settings cannot be read.
    explicit TForm_Main(const TPlatform& platform, QWidget* parent = nullptr);
    // Writes the settings back.
    ~TForm_Main() override;

    // --- State of the run -----------------------------------------------------------------
    std::string CollectionFile; // path of the current collection file, as the file system has it
    int32_t DefDriveIndex = -1; // position of the default drive in MI_SelectDefDrive
    std::map<std::string, TCollectionBranch> Filters; // hit lists by filter string
    std::string ApplicationTitle; // "Fendrel v1.2": the title of most message boxes

    [[nodiscard]] TFendrel& Collection() override { return *Collection_; }
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
    // Rebuilds the drive menu from the drives present, keeping the default drive while it is
    // there; the first drive becomes the default when it is not, and adding discs is enabled
    // exactly while there is a drive.
    void DrivesChanged() override;

    // --- Disc title and record (app/DiscCommands.cpp) -------------------------------------
    [[nodiscard]] uint32_t SelectedDisc() override;
    void Act_RenameDiscExecute(QObject* sender);
    void Act_DiscPropertiesExecute(QObject* sender);

    // --- Capabilities and their commands (app/WindowHost.cpp) -----------------------------
    std::unique_ptr<TContentChecksums> Checksums; // "Контрольные суммы при добавлении"
    std::unique_ptr<TDiscUpdater> Updater;    // "Обновить диск..."
    std::unique_ptr<TDiscChecker> Checker;    // "Проверить диск..."
    std::unique_ptr<TDiscAdder> Adder;        // the scan of new discs
    std::unique_ptr<TMediaCommands> Media;    // the media bars and the insert box
    std::unique_ptr<TExportCommand> Exporter; // "Экспорт..."
    std::unique_ptr<TPrintCommand> Printer;   // "Печать..."
    std::unique_ptr<TMountCommand> Mounter;   // "Открыть как папку"
    void Act_UpdateDiscExecute(QObject* sender);
    void Act_CheckDiscExecute(QObject* sender);
    void Act_ChecksumsOnAddExecute(QObject* sender);
    void Act_ExportExecute(QObject* sender);
    void Act_PrintExecute(QObject* sender);
    void Act_OpenAsFolderExecute(QObject* sender);

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

signals:
    // The collection was replaced by a new one: ids held until now name other nodes.
    void CollectionReplaced();

public:
    // --- Errors ---------------------------------------------------------------------------
    // Runs a command or event handler; an error escaping it is shown in the error box and the
    // window goes on working.
    void RunGuarded(const std::function<void()>& handler) override;
    void ShowErrorBox(const std::string& message);
    TMessageResult MessageBox(const std::string& text, const std::string& title,
                              TMessageKind kind) override;

    // --- The rest of IWindowHost (app/WindowHost.cpp) -------------------------------------
    [[nodiscard]] TProgressLine& Progress() override { return Progress_; }
    [[nodiscard]] const TPlatform& Platform() const override { return Platform_; }
    [[nodiscard]] const std::string& CollectionPath() const override { return CollectionFile; }
    [[nodiscard]] const std::string& Title() const override { return ApplicationTitle; }
    [[nodiscard]] QWidget& Window() override { return *this; }
    [[nodiscard]] uint32_t SelectedNode() override;
    void RebuildTree() override;
    void SelectDisc(uint32_t disc) override;
    bool Save(const TCollectionChange& change) override;
    [[nodiscard]] std::vector<std::string> DriveNames() const override;
    [[nodiscard]] std::string DefaultDriveName() const override;
    void PlaceAboveList(QWidget* widget) override;

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
    // Makes the capabilities, which reach the window through IWindowHost.
    void CreateCapabilities();

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
};

// The text of the error box: the message with a full stop added when it ends in a character
// whose code is above that of ".".
[[nodiscard]] std::string ErrorBoxText(const std::string& message);
