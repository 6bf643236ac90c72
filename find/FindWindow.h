#pragma once

#include "search/FindQuery.h"
#include "search/FindSnapshot.h"

#include <QIcon>
#include <QList>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class IDialogs;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeView;
class TFendrel;
class TFindResultsModel;

// What the find window needs of the main window. Every member outlives the window.
struct TFindHost {
    std::function<const TFendrel&()> Collection; // the application's collection as it is now
    // Shows the node in the main window: its folder in the tree, its row in the list. False when
    // the row could not be shown.
    std::function<bool(uint32_t id)> ShowNode;
    // Opens the node's folder on its medium, or asks for the medium.
    std::function<void(uint32_t id)> OpenFolder;
    IDialogs* Dialogs = nullptr;
    std::string ApplicationTitle;                // 8-bit: the title of the window's message boxes
    std::function<std::string()> CollectionFile; // its path, in the file system's bytes
    QList<QIcon> Images;                         // the main window's icon set
};

// The results window of "Найти...": a name pattern (part of the name, wildcards or a regular
// expression), size and date bounds and a choice of files or folders, then a list of every
// match with its path and disc. The search runs in a worker thread over a snapshot of the
// collection, so the collection itself is only ever touched by the thread that owns it; the
// window takes the hits into the list as they are found. Non-modal: the main window goes on working
// meanwhile.
class TFindWindow final : public QWidget {
    Q_OBJECT
public:
    // parent: the main window, which owns this one.
    TFindWindow(TFindHost host, QWidget* parent);
    ~TFindWindow() override;
    TFindWindow(const TFindWindow&) = delete;
    TFindWindow& operator=(const TFindWindow&) = delete;

    QLineEdit* Edit_Pattern = nullptr;
    QRadioButton* Radio_Substring = nullptr;
    QRadioButton* Radio_Wildcard = nullptr;
    QRadioButton* Radio_RegularExpression = nullptr;
    QLineEdit* Edit_SizeMin = nullptr;
    QLineEdit* Edit_SizeMax = nullptr;
    QCheckBox* Check_DateMin = nullptr;
    QDateEdit* Date_Min = nullptr;
    QCheckBox* Check_DateMax = nullptr;
    QDateEdit* Date_Max = nullptr;
    QRadioButton* Radio_FilesAndFolders = nullptr;
    QRadioButton* Radio_FilesOnly = nullptr;
    QRadioButton* Radio_FoldersOnly = nullptr;
    // What is looked for: names, files present more than once, or files on one disc only.
    QRadioButton* Radio_ByName = nullptr;
    QRadioButton* Radio_Duplicates = nullptr;
    QRadioButton* Radio_Unique = nullptr;
    QComboBox* Combo_UniqueDisc = nullptr; // "Все диски", then each disc; item data: its id
    QPushButton* Button_Find = nullptr;
    QPushButton* Button_Cancel = nullptr;
    QPushButton* Button_Export = nullptr;
    QPushButton* Button_OpenFolder = nullptr; // enabled while a row is current
    QMenu* PopupMenu_Found = nullptr;         // the context menu of a row
    QTreeView* ListView_Found = nullptr;
    TFindResultsModel* Results = nullptr;
    QLabel* Panel_FindStatus = nullptr;

    // Starts a search for what the fields ask; a field that makes no sense is shown in a box.
    void Button_FindClick();
    // Stops the search; the hits found so far stay.
    void Button_CancelClick();
    // Exports the rows as they are listed to a file the user chooses.
    void Button_ExportClick();
    // Shows the row's file or folder in the main window.
    void ListView_FoundDblClick(const QModelIndex& index);
    // "Открыть папку": the current row's folder on its medium.
    void Button_OpenFolderClick();

    // The main window replaced its collection (its ids now name other nodes), or rebuilt its
    // tree (the collection may have changed). Results of an older collection are dropped, and
    // the last search runs again once the window is shown.
    void CollectionReplaced();
    void CollectionShown();

    [[nodiscard]] bool Searching() const { return Worker_.joinable(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The collection as the snapshot saw it: what every change of it alters.
    struct TSignature {
        uint64_t Generation = 0; // counts the replacements of the collection
        uint32_t LastId = 0;
        std::vector<uint32_t> Discs;
        bool operator==(const TSignature&) const = default;
    };

    enum class TSearch { ByName, Duplicates, Unique };

    void CreateLayout();
    // Enables the fields that the kind of search chosen uses.
    void SearchKindChanged();
    // Lists the collection's discs in Combo_UniqueDisc, keeping the one chosen while it exists.
    void FillDiscs();
    [[nodiscard]] std::optional<TFindConditions> ReadConditions();
    [[nodiscard]] TSignature CurrentSignature() const;
    // The snapshot of the collection as it is now, made again only when it has changed.
    [[nodiscard]] std::shared_ptr<const TFindSnapshot> CurrentSnapshot();
    void Start(const TFindConditions& conditions);
    // The worker of a duplicates or unique search: it hands over all its hits at the end.
    void StartCopies(std::shared_ptr<const TFindSnapshot> snapshot, TFindQuery query);
    void Stop();
    // Takes what the worker has found since the last call into the list.
    void Drain();
    void DropResults();
    void RefreshSoon();
    void ShowStatus(const QString& text);
    void ShowCount();
    // The node of the row, or nothing when the row is not of the collection as it is now.
    [[nodiscard]] std::optional<uint32_t> NodeOfRow(const QModelIndex& index);

    TFindHost Host_;
    uint64_t Generation_ = 0;
    std::shared_ptr<const TFindSnapshot> Snapshot_;
    TSignature SnapshotOf_;
    std::optional<TFindConditions> Shown_; // the conditions of the rows in the list
    TSearch Search_ = TSearch::ByName;     // the kind of search of those rows
    std::optional<uint32_t> SearchDisc_;   // and the disc of a unique search (its id)
    bool RefreshDue_ = false;
    bool RefreshPosted_ = false;

    QTimer* Poll_ = nullptr; // runs while a search does: takes its hits into the list
    std::thread Worker_;
    std::atomic<bool> StopWorker_{false};
    std::mutex Mutex_; // guards the members below, which the worker shares
    std::vector<uint32_t> Pending_;
    std::vector<uint32_t> PendingGroups_; // a search of copies: each pending hit's group
    bool Finished_ = false;
    bool Complete_ = false;
    std::string Trouble_; // why the query of the search gave up, when it did
};
