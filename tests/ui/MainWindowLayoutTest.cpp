#include "support/WindowFixture.h"

#include "browse/FolderListModel.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QToolBar>
#include <QTreeView>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

QStringList Captions(const QMenu* menu)
{
    QStringList captions;
    for (const QAction* action : menu->actions())
        captions << (action->isSeparator() ? QString("-") : action->text());
    return captions;
}

class MainWindowLayout : public TWindowFixture {};

TEST_F(MainWindowLayout, MenusHoldTheirCommandsInOrder)
{
    TForm_Main& w = MakeWindow();
    QStringList top;
    for (const QAction* action : w.menuBar()->actions())
        top << action->text();
    EXPECT_EQ(top, QStringList({"Библиотека", "Диск", "Просмотр", "Поиск", "Справка"}));
    EXPECT_EQ(Captions(w.MI_Collection),
              QStringList({"Новая", "Загрузить...", "Экспорт...", "Печать...", "Открыть как папку",
                           "-", "Выход"}));
    EXPECT_EQ(Captions(w.MI_Disc),
              QStringList({"Добавить...", "Добавить образ...", "Добавить папку...", "Удалить",
                           "Переименовать диск...", "Свойства диска...", "Обновить диск...",
                           "Проверить диск...", "-", "Контрольные суммы при добавлении", "-",
                           "Выбор дисковода"}));
    EXPECT_EQ(Captions(w.MI_View), QStringList({"Новый фильтр...", "Снять фильтр", "-"}));
    EXPECT_EQ(w.MI_View->actions().at(2), w.MI_ViewSeparator);
    EXPECT_EQ(Captions(w.MI_Find), QStringList({"Найти..."}));
    EXPECT_EQ(Captions(w.MI_Help), QStringList({"Содержание", "-", "О программе..."}));
    EXPECT_EQ(w.Act_EntireCollection->text(), "Вся коллекция");
    for (const QAction* action : w.findChildren<QAction*>())
        EXPECT_TRUE(action->shortcut().isEmpty()) << action->objectName().toStdString();
}

TEST_F(MainWindowLayout, WindowGeometryAndPanes)
{
    TForm_Main& w = MakeWindow();
    EXPECT_EQ(w.windowTitle(), "Fendrel v1.2");
    EXPECT_EQ(w.size(), QSize(716, 462));
    EXPECT_EQ(w.minimumSize(), QSize(550, 250));
    w.show();
    EXPECT_FALSE(w.ToolBar_Main->isVisible());
    EXPECT_EQ(w.TreeView_Main->indentation(), 19);
    EXPECT_EQ(w.Splitter1->handleWidth(), 3);
    EXPECT_EQ(w.TreeView_Main->width(), 233);
    EXPECT_TRUE(w.Panel_Status->text().isEmpty());

    w.resize(100, 100);
    EXPECT_GE(w.width(), 550);
    EXPECT_GE(w.height(), 250);
}

TEST_F(MainWindowLayout, ListColumnsAndHeadersDoNothingWhenClicked)
{
    TForm_Main& w = MakeWindow();
    QHeaderView* header = w.ListView_Main->header();
    QStringList titles;
    QList<int> widths;
    for (int column = 0; column < w.ListModel->columnCount(); ++column) {
        titles << w.ListModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        widths << header->sectionSize(column);
    }
    EXPECT_EQ(titles, QStringList({"Имя", "Тип", "Дата", "Время", "Размер"}));
    EXPECT_EQ(widths, QList<int>({150, 75, 75, 75, 75}));
    EXPECT_FALSE(header->sectionsClickable());
    EXPECT_FALSE(w.ListView_Main->isSortingEnabled());
    EXPECT_EQ(w.ListView_Main->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(w.TreeView_Main->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainWindowLayout, FiveIconsAndCyrillicFontsAreAvailable)
{
    TForm_Main& w = MakeWindow();
    ASSERT_EQ(w.ImageLista_Main.size(), 5);
    for (const QIcon& icon : w.ImageLista_Main)
        EXPECT_FALSE(icon.pixmap(16, 16).isNull());
    // Without a font, Qt would draw every letter as a box without saying so.
    EXPECT_FALSE(QFontDatabase::families().isEmpty());
    const QFontMetrics metrics(w.font());
    for (const QChar letter : QString("БиблотекаЖЁё"))
        EXPECT_TRUE(metrics.inFont(letter)) << int(letter.unicode());
    w.show();
    const QPixmap shot = w.grab();
    EXPECT_EQ(shot.size(), w.size() * shot.devicePixelRatio());
}

TEST_F(MainWindowLayout, FileDialogsAskForCollections)
{
    TForm_Main& w = MakeWindow();
    EXPECT_EQ(AnsiToUtf8(w.OpenDlg_Collection.Title), "Загрзука коллекции");
    EXPECT_EQ(AnsiToUtf8(w.SaveDlg_Collection.Title), "Новая коллекция");
    EXPECT_EQ(AnsiToUtf8(w.OpenDlg_Collection.FilterText), "Коллекции (*.frl)");
    EXPECT_EQ(w.OpenDlg_Collection.DefaultSuffix, "frl");
    EXPECT_TRUE(w.OpenDlg_Collection.MustExist);
    EXPECT_FALSE(w.SaveDlg_Collection.MustExist);
}

} // namespace
