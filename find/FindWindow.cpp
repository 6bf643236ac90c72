#include "find/FindWindow.h"

#include "collection/Fendrel.h"
#include "export/ExportFile.h"
#include "find/FindResultsModel.h"
#include "platform/AnsiText.h"
#include "platform/Dialogs.h"
#include "platform/LocalTime.h"
#include "platform/QtText.h"
#include "search/Copies.h"
#include "search/RegexMatcher.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <chrono>

namespace {

// How often the worker hands its hits over while it searches, and the window takes them into
// the list: often enough for the list to fill visibly, seldom enough to cost nothing.
constexpr auto kHandOverInterval = std::chrono::milliseconds(40);

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The regular expression engine's messages in the user's language, from Qt's catalogues, which
// hold them under the name of Qt's own regular expressions.
std::string TranslateRegexError(const char* english)
{
    return QCoreApplication::translate("QRegularExpression", english).toStdString();
}

} // namespace

TFindWindow::TFindWindow(TFindHost host, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , Host_(std::move(host))
{
    SetRegexErrorTranslator(&TranslateRegexError);
    CreateLayout();
    Poll_ = new QTimer(this);
    Poll_->setInterval(kHandOverInterval);
    connect(Poll_, &QTimer::timeout, this, [this] { Drain(); });
}

TFindWindow::~TFindWindow()
{
    Stop();
}

void TFindWindow::CreateLayout()
{
    setObjectName("Form_Find");
    setWindowTitle(Text("Поиск"));
    resize(760, 480);

    const auto label = [this](const char* caption, QWidget* buddy) {
        auto* made = new QLabel(Text(caption), this);
        made->setBuddy(buddy);
        return made;
    };
    const auto radio = [this](const char* name, const char* caption, QButtonGroup* group) {
        auto* made = new QRadioButton(Text(caption), this);
        made->setObjectName(name);
        group->addButton(made);
        return made;
    };
    const auto named = [](QWidget* widget, const char* name) {
        widget->setObjectName(name);
        return widget;
    };

    Edit_Pattern = new QLineEdit(this);
    named(Edit_Pattern, "Edit_Pattern");
    auto* matches = new QButtonGroup(this);
    Radio_Substring = radio("Radio_Substring", "Часть имени", matches);
    Radio_Wildcard = radio("Radio_Wildcard", "Шаблон (* и ?)", matches);
    Radio_RegularExpression = radio("Radio_RegularExpression", "Регулярное выражение", matches);
    Radio_Substring->setChecked(true);

    Edit_SizeMin = new QLineEdit(this);
    named(Edit_SizeMin, "Edit_SizeMin");
    Edit_SizeMax = new QLineEdit(this);
    named(Edit_SizeMax, "Edit_SizeMax");
    for (QLineEdit* size : {Edit_SizeMin, Edit_SizeMax}) {
        size->setPlaceholderText(Text("например, 700M"));
        size->setMaximumWidth(140);
    }

    const QDate today = QDate::currentDate();
    Check_DateMin = new QCheckBox(Text("Дата с:"), this);
    named(Check_DateMin, "Check_DateMin");
    Date_Min = new QDateEdit(today, this);
    named(Date_Min, "Date_Min");
    Check_DateMax = new QCheckBox(Text("по:"), this);
    named(Check_DateMax, "Check_DateMax");
    Date_Max = new QDateEdit(today, this);
    named(Date_Max, "Date_Max");
    for (QDateEdit* date : {Date_Min, Date_Max}) {
        date->setDisplayFormat("d.MM.yyyy"); // as the main list shows dates
        date->setCalendarPopup(true);
        date->setMinimumDate(QDate(1601, 1, 1));
        date->setEnabled(false);
    }
    connect(Check_DateMin, &QCheckBox::toggled, Date_Min, &QWidget::setEnabled);
    connect(Check_DateMax, &QCheckBox::toggled, Date_Max, &QWidget::setEnabled);

    auto* kinds = new QButtonGroup(this);
    Radio_FilesAndFolders = radio("Radio_FilesAndFolders", "Файлы и папки", kinds);
    Radio_FilesOnly = radio("Radio_FilesOnly", "Только файлы", kinds);
    Radio_FoldersOnly = radio("Radio_FoldersOnly", "Только папки", kinds);
    Radio_FilesAndFolders->setChecked(true);

    auto* searches = new QButtonGroup(this);
    Radio_ByName = radio("Radio_ByName", "По имени", searches);
    Radio_Duplicates = radio("Radio_Duplicates", "Дубликаты", searches);
    Radio_Unique = radio("Radio_Unique", "Только на одном диске", searches);
    Radio_ByName->setChecked(true);
    Combo_UniqueDisc = new QComboBox(this);
    named(Combo_UniqueDisc, "Combo_UniqueDisc");
    Combo_UniqueDisc->setAccessibleName(Text("Диск"));
    Combo_UniqueDisc->setMinimumContentsLength(16);
    Combo_UniqueDisc->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    Button_Find = new QPushButton(Text("Найти"), this);
    named(Button_Find, "Button_Find");
    Button_Cancel = new QPushButton(Text("Остановить"), this);
    named(Button_Cancel, "Button_Cancel");
    Button_Cancel->setEnabled(false);
    Button_Export = new QPushButton(Text("Экспорт..."), this);
    named(Button_Export, "Button_Export");
    Button_OpenFolder = new QPushButton(Text("Открыть папку"), this);
    named(Button_OpenFolder, "Button_OpenFolder");
    Button_OpenFolder->setEnabled(false);

    Results = new TFindResultsModel(Host_.Images, this);
    ListView_Found = new QTreeView(this);
    named(ListView_Found, "ListView_Found");
    ListView_Found->setModel(Results);
    ListView_Found->setRootIsDecorated(false);
    ListView_Found->setItemsExpandable(false);
    ListView_Found->setUniformRowHeights(true);
    ListView_Found->setAllColumnsShowFocus(true);
    ListView_Found->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView_Found->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView_Found->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView_Found->setIconSize(QSize(16, 16));
    QHeaderView* header = ListView_Found->header();
    header->setSortIndicatorClearable(true); // a third click brings back the order found
    header->setSortIndicator(-1, Qt::AscendingOrder);
    ListView_Found->setSortingEnabled(true);
    const int widths[TFindResultsModel::ColumnCount] = {200, 280, 120, 75, 120, 60};
    for (int column = 0; column < TFindResultsModel::ColumnCount; ++column)
        header->resizeSection(column, widths[column]);
    header->setSectionHidden(TFindResultsModel::GroupColumn, true);

    Panel_FindStatus = new QLabel(this);
    named(Panel_FindStatus, "Panel_FindStatus");
    Panel_FindStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel_FindStatus->setTextFormat(Qt::PlainText);
    Panel_FindStatus->setMinimumHeight(18);

    auto* fields = new QGridLayout;
    fields->addWidget(label("Имя:", Edit_Pattern), 0, 0);
    fields->addWidget(Edit_Pattern, 0, 1, 1, 4);
    auto* matchRow = new QHBoxLayout;
    for (QWidget* widget : {Radio_Substring, Radio_Wildcard, Radio_RegularExpression})
        matchRow->addWidget(widget);
    matchRow->addStretch();
    fields->addLayout(matchRow, 1, 1, 1, 4);
    fields->addWidget(label("Размер от:", Edit_SizeMin), 2, 0);
    fields->addWidget(Edit_SizeMin, 2, 1);
    fields->addWidget(label("до:", Edit_SizeMax), 2, 2);
    fields->addWidget(Edit_SizeMax, 2, 3);
    fields->addWidget(Check_DateMin, 3, 0);
    fields->addWidget(Date_Min, 3, 1);
    fields->addWidget(Check_DateMax, 3, 2);
    fields->addWidget(Date_Max, 3, 3);
    auto* kindRow = new QHBoxLayout;
    for (QWidget* widget : {Radio_FilesAndFolders, Radio_FilesOnly, Radio_FoldersOnly})
        kindRow->addWidget(widget);
    kindRow->addStretch();
    fields->addLayout(kindRow, 4, 1, 1, 4);
    fields->addWidget(new QLabel(Text("Искать:"), this), 5, 0);
    auto* searchRow = new QHBoxLayout;
    for (QWidget* widget : {Radio_ByName, Radio_Duplicates, Radio_Unique})
        searchRow->addWidget(widget);
    searchRow->addWidget(Combo_UniqueDisc);
    searchRow->addStretch();
    fields->addLayout(searchRow, 5, 1, 1, 4);
    fields->setColumnStretch(4, 1);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(Button_Find);
    buttons->addWidget(Button_Cancel);
    buttons->addWidget(Button_Export);
    buttons->addStretch();
    buttons->addWidget(Button_OpenFolder);

    auto* top = new QHBoxLayout;
    top->addLayout(fields, 1);
    top->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(ListView_Found, 1);
    layout->addWidget(Panel_FindStatus);

    connect(Button_Find, &QPushButton::clicked, this, [this] { Button_FindClick(); });
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { Button_CancelClick(); });
    connect(Button_Export, &QPushButton::clicked, this, [this] { Button_ExportClick(); });
    for (QLineEdit* edit : {Edit_Pattern, Edit_SizeMin, Edit_SizeMax})
        connect(edit, &QLineEdit::returnPressed, this, [this] { Button_FindClick(); });
    for (QRadioButton* search : {Radio_ByName, Radio_Duplicates, Radio_Unique})
        connect(search, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                SearchKindChanged();
        });
    SearchKindChanged();
    // Enter on a row as well as a double click, as the platform's views activate rows.
    connect(ListView_Found, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { ListView_FoundDblClick(index); });

    connect(Button_OpenFolder, &QPushButton::clicked, this, [this] { Button_OpenFolderClick(); });
    connect(
        ListView_Found->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current) { Button_OpenFolder->setEnabled(current.isValid()); });
    connect(Results, &QAbstractItemModel::modelReset, this,
            [this] { Button_OpenFolder->setEnabled(ListView_Found->currentIndex().isValid()); });
    PopupMenu_Found = new QMenu(this);
    PopupMenu_Found->setObjectName("PopupMenu_Found");
    QAction* openFolder = PopupMenu_Found->addAction(Text("Открыть папку"));
    connect(openFolder, &QAction::triggered, this, [this] { Button_OpenFolderClick(); });
    ListView_Found->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView_Found, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = ListView_Found->indexAt(at);
        if (!index.isValid())
            return;
        ListView_Found->setCurrentIndex(index);
        PopupMenu_Found->popup(ListView_Found->viewport()->mapToGlobal(at));
    });
}

void TFindWindow::SearchKindChanged()
{
    const bool copies = !Radio_ByName->isChecked();
    // Copies are files; folders are never looked at.
    for (QRadioButton* kind : {Radio_FilesAndFolders, Radio_FilesOnly, Radio_FoldersOnly})
        kind->setEnabled(!copies);
    if (copies && Edit_SizeMin->text().trimmed().isEmpty() && Radio_Duplicates->isChecked())
        Edit_SizeMin->setText(Text("1M"));
    Combo_UniqueDisc->setEnabled(Radio_Unique->isChecked());
    if (Radio_Unique->isChecked())
        FillDiscs();
}

void TFindWindow::FillDiscs()
{
    const QVariant chosen = Combo_UniqueDisc->currentData();
    Combo_UniqueDisc->clear();
    Combo_UniqueDisc->addItem(Text("Все диски"));
    const TFendrel& collection = Host_.Collection();
    for (const uint32_t disc : collection.Discs)
        Combo_UniqueDisc->addItem(Display(collection.GetNode(disc).Name.view()),
                                  QVariant::fromValue(disc));
    const int again = chosen.isValid() ? Combo_UniqueDisc->findData(chosen) : -1;
    Combo_UniqueDisc->setCurrentIndex(again < 0 ? 0 : again);
}

std::optional<TFindConditions> TFindWindow::ReadConditions()
{
    const auto refuse = [this](const std::string& utf8, QWidget* field) {
        Host_.Dialogs->MessageBox(Utf8ToAnsi(utf8), Host_.ApplicationTitle, TMessageKind::Error);
        field->setFocus();
        return std::nullopt;
    };
    TFindConditions conditions;
    conditions.Pattern = Edit_Pattern->text().toStdString();
    conditions.Match = Radio_Wildcard->isChecked()            ? TFindMatch::Wildcard
                       : Radio_RegularExpression->isChecked() ? TFindMatch::RegularExpression
                                                              : TFindMatch::Substring;
    for (const auto& [edit, bound] : {std::pair{Edit_SizeMin, &conditions.SizeMin},
                                      std::pair{Edit_SizeMax, &conditions.SizeMax}}) {
        const std::string text = edit->text().trimmed().toStdString();
        if (text.empty())
            continue;
        *bound = ParseSize(text);
        if (!*bound)
            return refuse("Неверный размер: «" + text +
                              "». Укажите число байтов, можно с буквой k, M или G, например 700M",
                          edit);
    }
    const int64_t offset = UtcOffsetNow();
    if (Check_DateMin->isChecked()) {
        const QDate day = Date_Min->date();
        conditions.TimeMin = LocalDayStart(day.year(), day.month(), day.day(), offset);
    }
    if (Check_DateMax->isChecked()) {
        const QDate day = Date_Max->date();
        conditions.TimeMax = LocalDayEnd(day.year(), day.month(), day.day(), offset);
    }
    conditions.Kinds = Radio_FilesOnly->isChecked()     ? TFindKinds::FilesOnly
                       : Radio_FoldersOnly->isChecked() ? TFindKinds::FoldersOnly
                                                        : TFindKinds::FilesAndFolders;
    Search_ = Radio_Duplicates->isChecked() ? TSearch::Duplicates
              : Radio_Unique->isChecked()   ? TSearch::Unique
                                            : TSearch::ByName;
    SearchDisc_.reset();
    if (Search_ != TSearch::ByName)
        conditions.Kinds = TFindKinds::FilesOnly;
    if (Search_ == TSearch::Duplicates && !conditions.SizeMin)
        conditions.SizeMin = kDuplicatesDefaultSizeMin;
    if (Search_ == TSearch::Unique && Combo_UniqueDisc->currentData().isValid())
        SearchDisc_ = Combo_UniqueDisc->currentData().value<uint32_t>();
    std::string error;
    if (!TFindQuery::Make(conditions, error)) {
        Host_.Dialogs->MessageBox(error, Host_.ApplicationTitle, TMessageKind::Error);
        Edit_Pattern->setFocus();
        return std::nullopt;
    }
    return conditions;
}

void TFindWindow::Button_FindClick()
{
    if (const std::optional<TFindConditions> conditions = ReadConditions())
        Start(*conditions);
}

void TFindWindow::Button_CancelClick()
{
    if (!Searching())
        return;
    Stop();
    ShowStatus(Text("Поиск остановлен. Найдено: %1").arg(Results->rowCount()));
}

void TFindWindow::Button_ExportClick()
{
    const std::shared_ptr<const TFindSnapshot> snapshot = Results->Snapshot();
    if (!snapshot)
        return;
    const std::string collection = Host_.CollectionFile ? Host_.CollectionFile() : std::string();
    const TExportSource source{*snapshot, collection, UtcOffsetNow()};
    const std::vector<uint32_t> rows = Results->Entries();
    ExportThroughDialog(
        *Host_.Dialogs, Host_.ApplicationTitle, [&](TExportFormat format, const TExportSink& sink) {
            return ExportEntries(source, rows, format, Utf8ToAnsi("Результаты поиска"), sink);
        });
}

TFindWindow::TSignature TFindWindow::CurrentSignature() const
{
    const TFendrel& collection = Host_.Collection();
    return {Generation_, collection.LastId, collection.Discs};
}

std::shared_ptr<const TFindSnapshot> TFindWindow::CurrentSnapshot()
{
    TSignature now = CurrentSignature();
    if (!Snapshot_ || !(SnapshotOf_ == now)) {
        Snapshot_.reset(); // the old copy goes before the new one is made
        Snapshot_ = std::make_shared<const TFindSnapshot>(Host_.Collection());
        SnapshotOf_ = std::move(now);
    }
    return Snapshot_;
}

void TFindWindow::Start(const TFindConditions& conditions)
{
    Stop();
    std::string error;
    std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
    if (!query)
        return;
    Results->Reset({}, 0); // lets an outdated snapshot go before a new one is made
    std::shared_ptr<const TFindSnapshot> snapshot = CurrentSnapshot();
    Results->Reset(snapshot, UtcOffsetNow());
    ListView_Found->header()->setSectionHidden(TFindResultsModel::GroupColumn,
                                               Search_ != TSearch::Duplicates);
    Shown_ = conditions;
    RefreshDue_ = false;
    {
        const std::lock_guard lock(Mutex_);
        Pending_.clear();
        PendingGroups_.clear();
        Finished_ = false;
        Complete_ = false;
        Trouble_.clear();
    }
    StopWorker_ = false;
    Button_Cancel->setEnabled(true);
    ShowStatus(Text("Идёт поиск..."));
    if (Search_ != TSearch::ByName) {
        StartCopies(std::move(snapshot), std::move(*query));
        return;
    }

    // The worker reads only the snapshot and its own query; what it finds goes through
    // Pending_, which the window's thread takes into the list at every tick of Poll_.
    Worker_ = std::thread([this, snapshot = std::move(snapshot),
                           query = std::move(*query)]() mutable {
        auto handedOver = std::chrono::steady_clock::now();
        const auto handOver = [this](std::vector<uint32_t>& hits, bool finished, bool complete) {
            const std::lock_guard lock(Mutex_);
            Pending_.insert(Pending_.end(), hits.begin(), hits.end());
            hits.clear();
            Finished_ = finished;
            Complete_ = complete;
        };
        std::vector<uint32_t> hits;
        const bool complete =
            FindInSnapshot(*snapshot, query, hits, [&](std::vector<uint32_t>& found) {
                if (StopWorker_)
                    return false;
                const auto now = std::chrono::steady_clock::now();
                if (!found.empty() && now - handedOver >= kHandOverInterval) {
                    handOver(found, false, false);
                    handedOver = now;
                }
                return true;
            });
        {
            const std::lock_guard lock(Mutex_);
            Trouble_ = query.Trouble();
        }
        handOver(hits, true, complete);
    });
    Poll_->start();
}

void TFindWindow::StartCopies(std::shared_ptr<const TFindSnapshot> snapshot, TFindQuery query)
{
    std::optional<uint32_t> disc;
    if (Search_ == TSearch::Unique && SearchDisc_) {
        for (uint32_t i = 0; i < snapshot->size() && !disc; ++i)
            if (snapshot->Entry(i).Parent == TFindSnapshot::NoParent &&
                snapshot->Entry(i).Id == *SearchDisc_)
                disc = i;
        if (!disc) {
            Button_Cancel->setEnabled(false);
            ShowStatus(Text("Выбранного диска больше нет в коллекции"));
            FillDiscs();
            return;
        }
    }
    // The checksums are copied here, by the thread that owns the collection, as the snapshot is.
    auto checksums = std::make_shared<const TChecksumTable>(Host_.Collection().Checksums);
    const bool duplicates = Search_ == TSearch::Duplicates;
    Worker_ = std::thread([this, snapshot = std::move(snapshot), checksums = std::move(checksums),
                           query = std::move(query), duplicates, disc]() mutable {
        TCopiesFound found;
        const auto keepSearching = [this] {
            return !StopWorker_.load();
        };
        const bool complete =
            duplicates ? FindDuplicates(*snapshot, *checksums, query, found, keepSearching)
                       : FindUnique(*snapshot, *checksums, query, disc, found, keepSearching);
        const std::lock_guard lock(Mutex_);
        if (complete) {
            Pending_ = std::move(found.Entries);
            PendingGroups_ = std::move(found.Groups);
        }
        Finished_ = true;
        Complete_ = complete;
    });
    Poll_->start();
}

void TFindWindow::Stop()
{
    if (!Worker_.joinable())
        return;
    StopWorker_ = true;
    Worker_.join();
    Drain();
}

void TFindWindow::Drain()
{
    std::vector<uint32_t> hits;
    std::vector<uint32_t> groups;
    bool finished = false;
    bool complete = false;
    std::string trouble;
    {
        const std::lock_guard lock(Mutex_);
        hits.swap(Pending_);
        groups.swap(PendingGroups_);
        finished = Finished_;
        complete = Complete_;
        Finished_ = false;
        if (finished)
            trouble.swap(Trouble_);
    }
    Results->Append(hits, groups);
    if (!finished) {
        if (Worker_.joinable())
            ShowStatus(Text("Идёт поиск... найдено: %1").arg(Results->rowCount()));
        return;
    }
    if (Worker_.joinable() && !StopWorker_)
        Worker_.join(); // it has handed over its last hits and ends now
    Poll_->stop();
    Button_Cancel->setEnabled(false);
    Results->Resort();
    if (complete) {
        ShowCount();
    } else if (!trouble.empty()) {
        // The hits stop where the pattern gave up: they are shown, but never as the whole answer.
        ShowStatus(Text("Поиск прерван. Найдено: %1").arg(Results->rowCount()));
        Host_.Dialogs->MessageBox(trouble, Host_.ApplicationTitle, TMessageKind::Error);
    }
}

void TFindWindow::ShowCount()
{
    ShowStatus(Text("Найдено: %1").arg(Results->rowCount()));
}

void TFindWindow::ShowStatus(const QString& text)
{
    Panel_FindStatus->setText(text);
}

std::optional<uint32_t> TFindWindow::NodeOfRow(const QModelIndex& index)
{
    if (!index.isValid() || Results->Snapshot() != Snapshot_ || !Snapshot_)
        return std::nullopt;
    // Rows of a collection that has changed since may name nodes that are gone.
    if (!(SnapshotOf_ == CurrentSignature())) {
        CollectionShown();
        return std::nullopt;
    }
    return Results->data(index, TFindResultsModel::IdRole).value<uint32_t>();
}

void TFindWindow::Button_OpenFolderClick()
{
    if (const std::optional<uint32_t> id = NodeOfRow(ListView_Found->currentIndex());
        id && Host_.OpenFolder)
        Host_.OpenFolder(*id);
}

void TFindWindow::ListView_FoundDblClick(const QModelIndex& index)
{
    const std::optional<uint32_t> node = NodeOfRow(index);
    if (!node)
        return;
    const uint32_t id = *node;
    if (Host_.ShowNode(id))
        ShowCount();
    else
        ShowStatus(Text("В главном окне этот элемент не показан: рядом с ним есть другой "
                        "с тем же именем без учёта регистра букв"));
}

void TFindWindow::DropResults()
{
    Stop();
    Results->Reset({}, 0);
    Snapshot_.reset();
    SnapshotOf_ = {};
    ShowStatus({});
    if (Shown_)
        RefreshSoon();
}

void TFindWindow::CollectionReplaced()
{
    ++Generation_;
    if (Radio_Unique->isChecked())
        FillDiscs();
    DropResults();
}

void TFindWindow::CollectionShown()
{
    if (Radio_Unique->isChecked())
        FillDiscs();
    if (Snapshot_ && !(SnapshotOf_ == CurrentSignature()))
        DropResults();
}

void TFindWindow::RefreshSoon()
{
    RefreshDue_ = true;
    // Later, from the event loop: the command that changed the collection may not be done.
    if (!isVisible() || RefreshPosted_)
        return;
    RefreshPosted_ = true;
    QTimer::singleShot(0, this, [this] {
        RefreshPosted_ = false;
        if (RefreshDue_ && Shown_ && isVisible())
            Start(*Shown_);
    });
}

void TFindWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (RefreshDue_)
        RefreshSoon();
}

void TFindWindow::closeEvent(QCloseEvent* event)
{
    if (Searching())
        Button_CancelClick();
    event->accept();
}
