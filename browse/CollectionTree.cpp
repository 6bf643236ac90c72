#include "browse/CollectionTree.h"

#include "browse/CollectionTreeModel.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QTreeView>

void FillTree(const TFendrel&, QTreeView& view, const QString& text)
{
    // Only the root item for now; discs and folders arrive with the collection tree work.
    auto* model = static_cast<TCollectionTreeModel*>(view.model());
    model->Clear();
    model->AddItem(-1, Ansi("Библиотека ") + FromDisplay(text), 0, 0, 0);
    model->EndUpdate();
    view.setCurrentIndex(model->IndexAt(0));
}
