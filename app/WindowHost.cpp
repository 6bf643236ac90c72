// The main window as the host of its capabilities: they are made here, their menu commands call
// them, and the window's side of IWindowHost gives them the collection, the selection and the
// save.
#include "app/uMain.h"

#include "acquisition/CheckDisc.h"
#include "acquisition/ContentChecksums.h"
#include "acquisition/DiscAdder.h"
#include "acquisition/UpdateDisc.h"
#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "export/ExportCommand.h"
#include "media/MediaCommands.h"
#include "mounttool/MountCommand.h"
#include "platform/QtText.h"
#include "print/PrintCommand.h"

#include <QAction>
#include <QMenu>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

void TForm_Main::CreateCapabilities()
{
    Checksums = std::make_unique<TContentChecksums>(*this, *Act_ChecksumsOnAdd);
    Updater = std::make_unique<TDiscUpdater>(*this, *Checksums, OpenDlg_Image, OpenDlg_Folder);
    Checker = std::make_unique<TDiscChecker>(*this, *Updater);
    Adder = std::make_unique<TDiscAdder>(*this, *Checksums, *Updater);
    Media = std::make_unique<TMediaCommands>(*this, *Adder, *Updater);
    connect(this, &TForm_Main::CollectionReplaced, Media.get(),
            &TMediaCommands::CollectionReplaced);
    Exporter = std::make_unique<TExportCommand>(*this);
    Printer = std::make_unique<TPrintCommand>(*this);
    Mounter = std::make_unique<TMountCommand>(*this);
    connect(this, &TForm_Main::CollectionReplaced, this, [this] {
        if (Mounter)
            Mounter->CollectionReplaced();
    });
}

void TForm_Main::Act_UpdateDiscExecute(QObject*)
{
    Updater->UpdateSelected();
}

void TForm_Main::Act_CheckDiscExecute(QObject*)
{
    Checker->CheckSelected();
}

void TForm_Main::Act_ChecksumsOnAddExecute(QObject*)
{
    Checksums->WriteSetting();
}

void TForm_Main::Act_ExportExecute(QObject*)
{
    Exporter->ExportSelected();
}

void TForm_Main::Act_PrintExecute(QObject*)
{
    Printer->PrintSelected();
}

void TForm_Main::Act_OpenAsFolderExecute(QObject*)
{
    Mounter->OpenAsFolder();
}

uint32_t TForm_Main::SelectedNode()
{
    const int selected = SelectedTreeItem(*TreeView_Main);
    return selected < 0 ? 0 : TreeModel->Item(selected).Data;
}

void TForm_Main::RebuildTree()
{
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}

void TForm_Main::SelectDisc(uint32_t disc)
{
    if (const int item = FindTreeItem(*TreeView_Main, disc); item >= 0)
        SelectTreeItem(*TreeView_Main, item);
}

bool TForm_Main::Save(const TCollectionChange& change)
{
    return SaveCollectionFile(change);
}

std::vector<std::string> TForm_Main::DriveNames() const
{
    std::vector<std::string> names;
    for (const QAction* item : MI_SelectDefDrive->actions())
        names.push_back(LiteralCaption(item));
    return names;
}

std::string TForm_Main::DefaultDriveName() const
{
    const QList<QAction*> items = MI_SelectDefDrive->actions();
    if (DefDriveIndex >= 0 && DefDriveIndex < items.size())
        return LiteralCaption(items[DefDriveIndex]);
    return {};
}

void TForm_Main::PlaceAboveList(QWidget* widget)
{
    // The list's pane in the splitter becomes a column: the widget above, the list below.
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    widget->setParent(pane);
    layout->addWidget(widget);
    Splitter1->replaceWidget(Splitter1->indexOf(ListView_Main), pane); // takes the pane
    layout->addWidget(ListView_Main, 1);
    ListView_Main->show();
}
