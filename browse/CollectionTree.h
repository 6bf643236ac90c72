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

// The tree's items by position (TCollectionTreeModel), as the window's commands need them. view's
// model is a TCollectionTreeModel.

// The position of the selected item, or -1 when none is selected.
[[nodiscard]] int SelectedTreeItem(const QTreeView& view);
// The position of the item whose data is data, making the folders on the way to it, or -1.
[[nodiscard]] int FindTreeItem(const QTreeView& view, uint32_t data);
// Selects the item, expanding its collapsed ancestors and scrolling it into sight. The view
// reports the change of selection as a user's click would.
void SelectTreeItem(QTreeView& view, int position);
