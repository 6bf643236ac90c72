// Times the tree rebuild over a collection of about 1.1 million nodes, loaded from its collection
// file, and the listing of a folder of 50,000 files, in the real main window drawn offscreen.
#include "bench/BenchSupport.h"

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"
#include "support/SteppedClock.h"

#include "app/uMain.h"
#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"

#include <QApplication>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRuns = 5;

struct TTimes {
    double Best = 1e9;
    double Worst = 0;
};

// The best and worst of several runs, each followed by the drawing it causes.
template <typename TAction> TTimes Time(TAction action)
{
    TTimes times;
    for (int run = 0; run < kRuns; ++run) {
        TStopwatch watch;
        action();
        QApplication::processEvents();
        times.Best = std::min(times.Best, watch.Seconds());
        times.Worst = std::max(times.Worst, watch.Seconds());
    }
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    TScriptedDialogs dialogs;
    TMemorySettingsStore settings;
    TSteppedClock clock;
    TPosixCollectionFileStore files;
    TRecordingHelpViewer help;
    TDriveTable drives; // none: the benchmark adds no disc
    TForm_Main window(TPlatform{dialogs, settings, clock, files, help, drives});
    window.show();
    QApplication::processEvents();

    TFendrel& collection = window.Collection();
    LoadCollectionFile(collection, TBenchCollectionFile().Path());
    const uint32_t bigFolder = AddBigFolder(collection, 50'000);
    std::printf("nodes: %u\n", collection.LastId);

    const uint64_t before = CurrentRssBytes();
    const auto fill = [&] {
        FillTree(collection, *window.TreeView_Main, "/discs/home.frl");
    };
    const TTimes rootSelected = Time(fill);
    const uint64_t treeBytes = CurrentRssBytes() - before;
    std::printf("FillTree, root selected: best %.3f s, worst %.3f s (%d items, %.1f MiB)\n",
                rootSelected.Best, rootSelected.Worst, window.TreeModel->Count(),
                static_cast<double>(treeBytes) / (1 << 20));

    // A folder deep in the last ordinary disc stays selected across the rebuild.
    const TCollectionNode& lastDisc =
        collection.GetNode(collection.Discs[collection.Discs.size() - 2]);
    uint32_t deep = lastDisc.Children.front();
    while (true) {
        const TCollectionNode& node = collection.GetNode(deep);
        const auto folder =
            std::find_if(node.Children.begin(), node.Children.end(),
                         [&](uint32_t id) { return collection.GetNode(id).Is(nfFolder); });
        if (folder == node.Children.end())
            break;
        deep = *folder;
    }
    SelectTreeItem(*window.TreeView_Main, FindTreeItem(*window.TreeView_Main, deep));
    const TTimes folderSelected = Time(fill);
    const int selected = SelectedTreeItem(*window.TreeView_Main);
    std::printf("FillTree, a folder of the last disc selected: best %.3f s, worst %.3f s (%s)\n",
                folderSelected.Best, folderSelected.Worst,
                selected >= 0 && window.TreeModel->Item(selected).Data == deep ? "kept" : "lost");

    const TTimes listing =
        Time([&] { window.ShowItem(collection, bigFolder, *window.ListView_Main); });
    std::printf("ShowItem of a folder of %zu files: best %.3f s, worst %.3f s (%zu rows)\n",
                collection.GetNode(bigFolder).Children.size(), listing.Best, listing.Worst,
                window.ListModel->Rows().size());
    std::printf("peak memory: %.1f MiB\n", static_cast<double>(PeakRssBytes()) / (1 << 20));
    return 0;
}
