#pragma once

// The parts the disc's change and check reports share: a summary above a tree of grouped rows.

#include <QString>
#include <QStringList>

#include <string>

class QLabel;
class QTreeWidget;
class QWidget;

// The summary as plain text (8-bit, CR LF between its lines), named for screen readers. The
// label is owned by parent.
[[nodiscard]] QLabel* MakeReportHeader(const std::string& text, const QString& accessibleName,
                                       QWidget* parent);

// A tree of rows of one height under the columns given, the first one firstWidth wide. The tree
// is owned by parent.
[[nodiscard]] QTreeWidget* MakeReportTree(const QString& objectName, const QString& accessibleName,
                                          const QStringList& columns, int firstWidth,
                                          QWidget* parent);
