#include "app/uMain.h"

#include "acquisition/CheckDisc.h"
#include "acquisition/ContentChecksums.h"
#include "acquisition/DiscAdder.h"
#include "acquisition/UpdateDisc.h"
#include "app/ImageList.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "collection/FendrelError.h"
#include "export/ExportCommand.h"
#include "media/MediaCommands.h"
#include "mounttool/MountCommand.h"
#include "platform/QtText.h"
#include "print/PrintCommand.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>

namespace {

// Every kind of image file the disc readers open, the containers' descriptors and data files both.
constexpr const char* kImagePatterns = "*.iso *.bin *.cue *.img *.ccd *.nrg *.mdf *.mds";

QString Caption(const char* utf8)
{
    return LiteralMenuText(QString::fromUtf8(utf8));
}

} // namespace

TForm_Main::TForm_Main(const TPlatform& platform, QWidget* parent)
    : QMainWindow(parent)
    , Platform_(platform)
    , Progress_(platform.Clock, [this](const std::string& text) { ShowStatus(text); })
{
    CreateLayout();
    CreateCapabilities();
    CollectionFile.clear();
    Filters.clear();
    ApplicationTitle = FromDisplay(windowTitle());
    ReplaceCollection();
    BuildDriveMenu();
    DefDriveIndex = -1;
    const std::optional<char> storedLetter = ReadSettings();
    ChooseDefaultDrive(storedLetter);
    Checksums->ReadSetting();
}

TForm_Main::~TForm_Main()
{
    WriteSettings();
}

void TForm_Main::ReplaceCollection()
{
    // The tree makes its folders from the collection as they are opened.
    if (TreeModel)
        TreeModel->ForgetCollection();
    Collection_.reset();
    ReplaceCollection(std::make_unique<TFendrel>(&Progress_));
}

void TForm_Main::ReplaceCollection(std::unique_ptr<TFendrel> collection)
{
    if (TreeModel)
        TreeModel->ForgetCollection();
    Collection_ = std::move(collection);
    emit CollectionReplaced();
}

void TForm_Main::CreateLayout()
{
    setObjectName("Form_Main");
    setWindowTitle("Fendrel v1.2");
    move(209, 149);
    resize(716, 462);
    setMinimumSize(550, 250);
    ImageLista_Main = MakeImageList();

    CreateActions();
    CreateMenus();

    ToolBar_Main = new QToolBar(this);
    ToolBar_Main->setObjectName("ToolBar_Main");
    ToolBar_Main->setFixedHeight(29);
    ToolBar_Main->setMovable(false);
    addToolBar(ToolBar_Main);
    ToolBar_Main->hide();
    ToolBar_Main->toggleViewAction()->setVisible(false);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);
    setCentralWidget(Splitter1);

    TreeModel = new TCollectionTreeModel(ImageLista_Main, this);
    TreeView_Main = new QTreeView(Splitter1);
    TreeView_Main->setObjectName("TreeView_Main");
    TreeView_Main->setModel(TreeModel);
    connect(TreeModel, &TCollectionTreeModel::BranchUnreadable, this,
            [this](const QByteArray& message) { ShowErrorBox(message.toStdString()); });
    TreeView_Main->setHeaderHidden(true);
    TreeView_Main->setIndentation(19);
    TreeView_Main->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView_Main->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView_Main->setUniformRowHeights(true);
    TreeView_Main->setIconSize(QSize(16, 16));
    TreeView_Main->setAccessibleName(QString::fromUtf8("Коллекция"));

    ListModel = new TFolderListModel(ImageLista_Main, this);
    ListView_Main = new QTreeView(Splitter1);
    ListView_Main->setObjectName("ListView_Main");
    ListView_Main->setModel(ListModel);
    ListView_Main->setRootIsDecorated(false);
    ListView_Main->setItemsExpandable(false);
    ListView_Main->setUniformRowHeights(true);
    ListView_Main->setAllColumnsShowFocus(true);
    ListView_Main->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView_Main->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView_Main->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView_Main->setSortingEnabled(false);
    ListView_Main->setIconSize(QSize(16, 16));
    ListView_Main->setAccessibleName(QString::fromUtf8("Содержимое"));
    QHeaderView* header = ListView_Main->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    const int widths[TFolderListModel::ColumnCount] = {150, 75, 75, 75, 75};
    for (int column = 0; column < TFolderListModel::ColumnCount; ++column)
        header->resizeSection(column, widths[column]);

    Splitter1->addWidget(TreeView_Main);
    Splitter1->addWidget(ListView_Main);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({233, 716 - 233 - 3});

    Panel_Status = new QLabel(this);
    Panel_Status->setObjectName("Panel_Status");
    Panel_Status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel_Status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel_Status->setTextFormat(Qt::PlainText);
    Panel_Status->setMinimumHeight(18);
    // Screen readers name the line by its role and read its text as the description.
    Panel_Status->setAccessibleName(QString::fromUtf8("Состояние"));
    statusBar()->addWidget(Panel_Status, 1);
    statusBar()->setSizeGripEnabled(true);

    ConnectHandlers();
}

void TForm_Main::CreateActions()
{
    const auto make = [this](const char* name, const char* caption) {
        auto* action = new QAction(Caption(caption), this);
        action->setObjectName(name);
        action->setShortcutContext(Qt::WidgetShortcut);
        return action;
    };
    Act_NewCollection = make("Act_NewCollection", "Новая");
    Act_LoadCollection = make("Act_LoadCollection", "Загрузить...");
    Act_Export = make("Act_Export", "Экспорт...");
    Act_Print = make("Act_Print", "Печать...");
    Act_OpenAsFolder = make("Act_OpenAsFolder", "Открыть как папку");
    Act_Exit = make("Act_Exit", "Выход");
    Act_AddDisc = make("Act_AddDisc", "Добавить...");
    Act_AddImage = make("Act_AddImage", "Добавить образ...");
    Act_AddFolder = make("Act_AddFolder", "Добавить папку...");
    Act_DeleteDisc = make("Act_DeleteDisc", "Удалить");
    Act_RenameDisc = make("Act_RenameDisc", "Переименовать диск...");
    Act_DiscProperties = make("Act_DiscProperties", "Свойства диска...");
    Act_UpdateDisc = make("Act_UpdateDisc", "Обновить диск...");
    Act_CheckDisc = make("Act_CheckDisc", "Проверить диск...");
    Act_ChecksumsOnAdd = make("Act_ChecksumsOnAdd", "Контрольные суммы при добавлении");
    Act_ChecksumsOnAdd->setCheckable(true);
    Act_NewFilter = make("Act_NewFilter", "Новый фильтр...");
    Act_NoFilter = make("Act_NoFilter", "Снять фильтр");
    Act_Find = make("Act_Find", "Найти...");
    Act_HelpAbout = make("Act_HelpAbout", "О программе...");
    Act_HelpContents = make("Act_HelpContents", "Содержание");
    Act_EntireCollection = make("Act_EntireCollection", "Вся коллекция");

    OpenDlg_Collection = {
        Ansi("Загрзука коллекции"), Ansi("Коллекции (*.frl)"), "*.frl", "frl", true, false};
    SaveDlg_Collection = {
        Ansi("Новая коллекция"), Ansi("Коллекции (*.frl)"), "*.frl", "frl", false, false};
    OpenDlg_Image = {Ansi("Добавление образа диска"),
                     Ansi("Образы дисков (") + kImagePatterns + ")",
                     kImagePatterns,
                     "",
                     true,
                     true};
    OpenDlg_Folder = {Ansi("Добавление папки")};
}

void TForm_Main::CreateMenus()
{
    QMenuBar* bar = menuBar();
    const auto menu = [](QMenu* parent, QMenuBar* menuBar, const char* name, const char* caption) {
        QMenu* created =
            parent ? parent->addMenu(Caption(caption)) : menuBar->addMenu(Caption(caption));
        created->setObjectName(name);
        return created;
    };
    MI_Collection = menu(nullptr, bar, "MI_Collection", "Библиотека");
    MI_Collection->addAction(Act_NewCollection);
    MI_Collection->addAction(Act_LoadCollection);
    MI_Collection->addAction(Act_Export);
    MI_Collection->addAction(Act_Print);
    MI_Collection->addAction(Act_OpenAsFolder);
    MI_Collection->addSeparator();
    MI_Collection->addAction(Act_Exit);

    MI_Disc = menu(nullptr, bar, "MI_Disc", "Диск");
    MI_Disc->addAction(Act_AddDisc);
    MI_Disc->addAction(Act_AddImage);
    MI_Disc->addAction(Act_AddFolder);
    MI_Disc->addAction(Act_DeleteDisc);
    MI_Disc->addAction(Act_RenameDisc);
    MI_Disc->addAction(Act_DiscProperties);
    MI_Disc->addAction(Act_UpdateDisc);
    MI_Disc->addAction(Act_CheckDisc);
    MI_Disc->addSeparator();
    MI_Disc->addAction(Act_ChecksumsOnAdd);
    MI_Disc->addSeparator();
    MI_SelectDefDrive = menu(MI_Disc, bar, "MI_SelectDefDrive", "Выбор дисковода");

    MI_View = menu(nullptr, bar, "MI_View", "Просмотр");
    MI_View->addAction(Act_NewFilter);
    MI_View->addAction(Act_NoFilter);
    MI_ViewSeparator = MI_View->addSeparator();
    MI_ViewSeparator->setObjectName("MI_ViewSeparator");

    MI_Find = menu(nullptr, bar, "MI_Find", "Поиск");
    MI_Find->addAction(Act_Find);

    MI_Help = menu(nullptr, bar, "MI_Help", "Справка");
    MI_Help->addAction(Act_HelpContents);
    MI_Help->addSeparator();
    MI_Help->addAction(Act_HelpAbout);
}

void TForm_Main::ConnectHandlers()
{
    using THandler = void (TForm_Main::*)(QObject*);
    const auto bind = [this](QAction* action, THandler handler) {
        connect(action, &QAction::triggered, this,
                [this, action, handler] { RunGuarded([&] { (this->*handler)(action); }); });
    };
    bind(Act_NewCollection, &TForm_Main::Act_NewCollectionExecute);
    bind(Act_LoadCollection, &TForm_Main::Act_LoadCollectionExecute);
    bind(Act_Export, &TForm_Main::Act_ExportExecute);
    bind(Act_Print, &TForm_Main::Act_PrintExecute);
    bind(Act_OpenAsFolder, &TForm_Main::Act_OpenAsFolderExecute);
    bind(Act_Exit, &TForm_Main::Act_ExitExecute);
    bind(Act_AddDisc, &TForm_Main::Act_AddDiscExecute);
    bind(Act_AddImage, &TForm_Main::Act_AddImageExecute);
    bind(Act_AddFolder, &TForm_Main::Act_AddFolderExecute);
    bind(Act_DeleteDisc, &TForm_Main::Act_DeleteDiscExecute);
    bind(Act_RenameDisc, &TForm_Main::Act_RenameDiscExecute);
    bind(Act_DiscProperties, &TForm_Main::Act_DiscPropertiesExecute);
    bind(Act_UpdateDisc, &TForm_Main::Act_UpdateDiscExecute);
    bind(Act_CheckDisc, &TForm_Main::Act_CheckDiscExecute);
    bind(Act_ChecksumsOnAdd, &TForm_Main::Act_ChecksumsOnAddExecute);
    bind(Act_NewFilter, &TForm_Main::Act_NewFilterExecute);
    bind(Act_NoFilter, &TForm_Main::Act_NoFilterExecute);
    bind(Act_Find, &TForm_Main::Act_FindExecute);
    bind(Act_HelpAbout, &TForm_Main::Act_HelpAboutExecute);
    bind(Act_HelpContents, &TForm_Main::Act_HelpContentsExecute);
    ConnectBrowseHandlers();
}

void TForm_Main::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!Shown_) {
        Shown_ = true;
        RunGuarded([this] { FormShow(); });
    }
}

void TForm_Main::closeEvent(QCloseEvent* event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TForm_Main::customEvent(QEvent* event)
{
    if (event->type() == WM_STARTUP)
        RunGuarded([this] { WMStartup(); });
    else
        QMainWindow::customEvent(event);
}

void TForm_Main::ShowStatus(const std::string& text)
{
    const QString shown = Display(text);
    Panel_Status->setText(shown);
    Panel_Status->setAccessibleDescription(shown);
    Panel_Status->repaint();
}

TMessageResult TForm_Main::MessageBox(const std::string& text, const std::string& title,
                                      TMessageKind kind)
{
    return Platform_.Dialogs.MessageBox(text, title, kind);
}

void TForm_Main::ShowErrorBox(const std::string& message)
{
    MessageBox(ErrorBoxText(message), ApplicationTitle, TMessageKind::Error);
}

void TForm_Main::RunGuarded(const std::function<void()>& handler)
{
    // Qt does not let exceptions cross its event loop; every handler ends here instead.
    try {
        handler();
    } catch (const std::bad_alloc&) {
        ShowErrorBox(Ansi("Недостаточно памяти"));
    } catch (const std::exception& error) {
        ShowErrorBox(error.what());
    } catch (...) {
        ShowErrorBox({});
    }
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + '.';
    return message;
}
