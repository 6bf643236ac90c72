#pragma once

#include "collection/CollectionNode.h"

#include <QString>

#include <cstdint>

class QTreeView;
class TCollectionTreeModel;
class TFendrel;

// Rebuilds the whole tree from the collection: the root item "Библиотека " followed by text,
// the visible discs in order, their visible folders sorted by name; then selects again the item
// whose node was selected before. view's model is a TCollectionTreeModel.
void FillTree(const TFendrel& collection, QTreeView& view, const QString& text);
// A collection of at least this many nodes has its tree built on two threads. For tests; a
// million by default.
void SetTwoThreadTreeNodes(size_t nodes);

// The tree's items by position in display order (each item before its children, collapsed
// branches included), as the window's commands need them. view's model is a TCollectionTreeModel.

// The position of the selected item, or -1 when none is selected.
[[nodiscard]] int SelectedTreeItem(const QTreeView& view);
// The position of the first item whose data is data, or -1.
[[nodiscard]] int FindTreeItem(const QTreeView& view, uint32_t data);
// Selects the item, expanding its collapsed ancestors and scrolling it into sight. The view
// reports the change of selection as a user's click would.
void SelectTreeItem(QTreeView& view, int position);
