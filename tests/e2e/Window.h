#pragma once

#include "e2e/BoxDriver.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QMenu;
class QTreeView;

// What the window's views show, read as a user reads them, and clicks into them.

// Every item of a tree view, depth first, each indented by two spaces per level; collapsed
// branches too.
[[nodiscard]] QStringList TreeLines(const QTreeView& view);
// The first column of every row of a list.
[[nodiscard]] QStringList ListNames(const QTreeView& view);
// Clicks the tree item reached through the captions of path, from the top level down; the
// branches on the way are opened as their arrows would open them.
void ClickTreeItem(QTreeView& view, const QStringList& path);
// Double-clicks the row of the list whose first column is name.
void DoubleClickRow(QTreeView& view, const QString& name);

// The menu's items as it shows them, "-" for a separator, and "[x] " before a checked one.
[[nodiscard]] QStringList MenuLines(const QMenu& menu);
// Opens the menu and clicks its item with the text.
void ChooseMenuItem(QMenu& menu, const QString& text);

// Handlers for the boxes a user answers.

// A message box of the icon, title and text (with its lines joined by "\n"), answered by key.
[[nodiscard]] TBoxDriver::THandler MessageAnswered(QMessageBox::Icon icon, const QString& title,
                                                   const QString& text,
                                                   Qt::Key key = Qt::Key_Return);
// The input box with its caption, prompt and initial text, in which typed is typed (replacing
// the selected initial text) before key is pressed.
[[nodiscard]] TBoxDriver::THandler InputAnswered(const QString& caption, const QString& prompt,
                                                 const QString& initial, const QString& typed,
                                                 Qt::Key key = Qt::Key_Return);
// An open dialog titled title (for files or for a folder): folder is typed to open it, then
// names (one name, or several each in quotes) before Enter.
[[nodiscard]] TBoxDriver::THandler ChosenInDialog(const QString& title, const QString& folder,
                                                  const QString& names);
// The save dialog of a new collection, in which name is typed before Enter.
[[nodiscard]] TBoxDriver::THandler NewCollectionNamed(const QString& folder, const QString& name);
