#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "collection/CollectionChange.h"
#include "platform/AnsiText.h"
#include "platform/QtText.h"

#include <QTreeView>

void TForm_Main::Act_DeleteDiscExecute(QObject*)
{
    const int selected = SelectedTreeItem(*TreeView_Main);
    if (selected < 0)
        return;
    const TCollectionTreeModel::TItem& item = TreeModel->Item(selected);
    const uint32_t id = item.Data;
    if (id == 0)
        return;
    if (!Collection().GetNode(id).Is(nfDisc)) {
        MessageBox(Ansi("Необходимо выбрать корень диска"), ApplicationTitle, TMessageKind::Error);
        return;
    }
    const std::string question = Ansi("Вы действительно хотите удалить диск \"") +
                                 item.Caption.str() + Ansi("\" из коллекции?");
    if (MessageBox(question, ApplicationTitle, TMessageKind::Question) != TMessageResult::Yes)
        return;

    const TCollectionChange change = TCollectionChange::DiscRemoved(Collection(), id);
    Collection().DeleteDisc(id);
    // A successful save rebuilds the tree with the root selected. The disc is gone from memory
    // whatever the save does, so after a failed one the tree is rebuilt here (unless the save
    // rebuilt it while it waited for the disc), which finds the removed disc no more and selects
    // nothing.
    bool saved = false;
    try {
        saved = SaveCollectionFile(change, TAfterSave::SelectRoot);
    } catch (...) {
        FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
        throw;
    }
    if (!saved && FindTreeItem(*TreeView_Main, id) >= 0)
        FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}
