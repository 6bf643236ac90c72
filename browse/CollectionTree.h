#pragma once

#include <QString>

class QTreeView;
class TFendrel;

// Rebuilds the whole tree from the collection: the root item "Библиотека " followed by text,
// the visible discs in order, their visible folders sorted by name; then selects again the item
// whose node was selected before. view's model is a TCollectionTreeModel.
void FillTree(const TFendrel& collection, QTreeView& view, const QString& text);
