#include "acquisition/ReportParts.h"

#include "platform/QtText.h"

#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

QLabel* MakeReportHeader(const std::string& text, const QString& accessibleName, QWidget* parent)
{
    auto* header = new QLabel(Display(text).replace("\r\n", "\n"), parent);
    header->setObjectName("Header");
    header->setTextFormat(Qt::PlainText);
    header->setAccessibleName(accessibleName);
    return header;
}

QTreeWidget* MakeReportTree(const QString& objectName, const QString& accessibleName,
                            const QStringList& columns, int firstWidth, QWidget* parent)
{
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(objectName);
    tree->setAccessibleName(accessibleName);
    tree->setColumnCount(static_cast<int>(columns.size()));
    tree->setHeaderLabels(columns);
    tree->setUniformRowHeights(true);
    tree->header()->resizeSection(0, firstWidth);
    return tree;
}
