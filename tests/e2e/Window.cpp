#include "e2e/Window.h"

#include <QAbstractItemModel>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

void AddLines(const QAbstractItemModel& model, const QModelIndex& parent, qsizetype depth,
              QStringList& lines)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex item = model.index(row, 0, parent);
        lines << QString(depth * 2, ' ') + item.data().toString();
        AddLines(model, item, depth + 1, lines);
    }
}

QModelIndex FindChild(const QAbstractItemModel& model, const QModelIndex& parent,
                      const QString& caption)
{
    for (int row = 0; row < model.rowCount(parent); ++row)
        if (model.index(row, 0, parent).data().toString() == caption)
            return model.index(row, 0, parent);
    return {};
}

} // namespace

QStringList TreeLines(const QTreeView& view)
{
    QStringList lines;
    AddLines(*view.model(), {}, 0, lines);
    return lines;
}

QStringList ListNames(const QTreeView& view)
{
    QStringList names;
    for (int row = 0; row < view.model()->rowCount(); ++row)
        names << view.model()->index(row, 0).data().toString();
    return names;
}

void ClickTreeItem(QTreeView& view, const QStringList& path)
{
    QModelIndex item;
    for (const QString& caption : path) {
        view.expand(item);
        item = FindChild(*view.model(), item, caption);
        if (!item.isValid()) {
            ADD_FAILURE() << "no tree item " << path.join(" / ").toStdString() << " in\n"
                          << TreeLines(view).join('\n').toStdString();
            return;
        }
    }
    view.scrollTo(item);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(item).center());
}

void DoubleClickRow(QTreeView& view, const QString& name)
{
    const int row = static_cast<int>(ListNames(view).indexOf(name));
    if (row < 0) {
        ADD_FAILURE() << "no row " << name.toStdString()
                      << " in the list: " << ListNames(view).join(", ").toStdString();
        return;
    }
    const QModelIndex cell = view.model()->index(row, 0);
    view.scrollTo(cell);
    // As the mouse reports it: the first click selects the row, the second one is the double
    // click.
    const QPoint at = view.visualRect(cell).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at);
}

QStringList MenuLines(const QMenu& menu)
{
    QStringList lines;
    for (const QAction* item : menu.actions())
        lines << (item->isSeparator() ? "-" : (item->isChecked() ? "[x] " : "") + item->text());
    return lines;
}

void ChooseMenuItem(QMenu& menu, const QString& text)
{
    const QList<QAction*> items = menu.actions();
    const auto item = std::find_if(items.begin(), items.end(),
                                   [&](const QAction* a) { return a->text() == text; });
    if (item == items.end()) {
        ADD_FAILURE() << "no item " << text.toStdString()
                      << " in the menu: " << MenuLines(menu).join(", ").toStdString();
        return;
    }
    menu.popup(QPoint(0, 0));
    if (!QTest::qWaitForWindowExposed(&menu)) {
        ADD_FAILURE() << "the menu did not open";
        return;
    }
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(*item).center());
    if (menu.isVisible()) {
        ADD_FAILURE() << "the menu stayed open after the click on " << text.toStdString();
        menu.close();
    }
}

TBoxDriver::THandler MessageAnswered(QMessageBox::Icon icon, const QString& title,
                                     const QString& text, Qt::Key key)
{
    return [=](QWidget& widget) {
        QMessageBox* box = AsMessageBox(widget);
        if (!box)
            return;
        EXPECT_EQ(box->icon(), icon) << DescribeBox(*box);
        EXPECT_EQ(box->windowTitle(), title);
        EXPECT_EQ(box->text(), text);
        PressKey(*box, key);
    };
}

TBoxDriver::THandler InputAnswered(const QString& caption, const QString& prompt,
                                   const QString& initial, const QString& typed, Qt::Key key)
{
    return [=](QWidget& box) {
        EXPECT_EQ(box.windowTitle(), caption);
        const auto* label = box.findChild<QLabel*>();
        const auto* edit = box.findChild<QLineEdit*>();
        if (!label || !edit) {
            ADD_FAILURE() << "not an input box: " << DescribeBox(box);
            return;
        }
        EXPECT_EQ(label->text(), prompt);
        EXPECT_EQ(edit->text(), initial);
        EXPECT_EQ(edit->selectedText(), initial);
        TypeText(box, typed);
        PressKey(box, key);
    };
}

TBoxDriver::THandler NewCollectionNamed(const QString& folder, const QString& name)
{
    return [=](QWidget& box) {
        auto* dialog = qobject_cast<QFileDialog*>(&box);
        if (!dialog) {
            ADD_FAILURE() << "not a file dialog: " << DescribeBox(box);
            return;
        }
        EXPECT_EQ(dialog->windowTitle(), "Новая коллекция");
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->directory().absolutePath(), folder);
        TypeText(box, name);
        PressKey(box, Qt::Key_Return);
    };
}

TBoxDriver::THandler ChosenInDialog(const QString& title, const QString& folder,
                                    const QString& names)
{
    return [=](QWidget& box) {
        auto* dialog = qobject_cast<QFileDialog*>(&box);
        auto* edit = box.findChild<QLineEdit*>();
        if (!dialog || !edit) {
            ADD_FAILURE() << "not a file dialog: " << DescribeBox(box);
            return;
        }
        EXPECT_EQ(dialog->windowTitle(), title);
        dialog->setDirectory(folder);
        edit->selectAll();
        TypeText(box, names);
        PressKey(box, Qt::Key_Return);
    };
}
