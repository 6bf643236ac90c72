// Times "Обновить диск..." against "Добавить папку..." for the same folder of about 100,000
// files, end to end in the real main window drawn offscreen (the scan, the comparison, the
// tree and the save of the whole collection to a real file), inside a collection of about 1.1
// million records loaded from its file first, as a user's is.
#include "bench/BenchSupport.h"

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"
#include "support/SteppedClock.h"

#include "acquisition/UpdateDisc.h"
#include "app/uMain.h"
#include "browse/CollectionTree.h"
#include "collection/DiscTreeDiff.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"

#include <QAction>
#include <QApplication>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace {

struct TBest {
    double Wall = 1e9;
    double Cpu = 1e9;
    void Take(double wall, double cpu)
    {
        Wall = std::min(Wall, wall);
        Cpu = std::min(Cpu, cpu);
    }
};

template <typename TCommand> void Time(TBest& best, TCommand command)
{
    TStopwatch watch;
    const double cpuBefore = ThreadCpuSeconds();
    command();
    QApplication::processEvents();
    best.Take(watch.Seconds(), ThreadCpuSeconds() - cpuBefore);
}

} // namespace

int main(int argc, char** argv)
{
    constexpr int kRuns = 3;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    TScriptedDialogs dialogs;
    TMemorySettingsStore settings;
    TSteppedClock clock;
    TPosixCollectionFileStore files;
    TRecordingHelpViewer help;
    TDriveTable drives;
    TForm_Main window(TPlatform{dialogs, settings, clock, files, help, drives});
    window.show();
    QApplication::processEvents();

    const std::string folder = MakeTempFolder("fendrel-update-bench");
    const std::string path = folder + "/bench.frl";
    {
        TFendrel made;
        FillBenchCollection(made);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        const std::string text = made.SaveToText();
        if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size())
            return 1;
        std::fclose(file);
    }
    window.CollectionFile = path;
    window.OpenCollectionFile();
    QApplication::processEvents();
    std::printf("records: %u\n", window.Collection().LastId);

    const std::string disc = folder + "/disc";
    std::filesystem::create_directory(disc);
    TFolderTreeShape shape;
    shape.TopFolders = 100;
    shape.Subfolders = 9;
    shape.FilesPerSubfolder = 110;
    const int made = MakeFolderTree(disc, shape);
    std::printf("folders and files on the disc: %d\n", made);

    size_t changes = 0;
    window.Updater->ReviewChanges = [&](const std::string&, const TDiscTreeDiff& diff) {
        changes = diff.Added.size() + diff.Removed.size() + diff.Changed.size();
        return true;
    };
    TBest add;
    TBest update;
    for (int run = 0; run < kRuns; ++run) {
        dialogs.FolderAnswers = {disc};
        dialogs.InputAnswers = {std::string("bench")};
        // Added fresh: the identity question is answered No, as the scripted boxes do.
        Time(add, [&] { window.Act_AddFolder->trigger(); });
        const uint32_t id = window.Collection().Discs.back();
        // Ten folders gain a file each, so that the report has something to show.
        std::filesystem::directory_iterator top(disc);
        for (int n = 0; top != std::filesystem::directory_iterator() && n < 10; ++top, ++n)
            std::ofstream(top->path() / ("added" + std::to_string(run))) << "new";
        SelectTreeItem(*window.TreeView_Main, FindTreeItem(*window.TreeView_Main, id));
        QApplication::processEvents();
        Time(update, [&] { window.Act_UpdateDisc->trigger(); });
    }
    std::printf("add the disc fresh: best %.3f s, processor time best %.3f s\n", add.Wall, add.Cpu);
    std::printf("update it (%zu changes): best %.3f s, processor time best %.3f s\n", changes,
                update.Wall, update.Cpu);
    std::printf("update / add: %.2f (processor time %.2f)\n", update.Wall / add.Wall,
                update.Cpu / add.Cpu);
    std::filesystem::remove_all(folder);
    return changes > 0 ? 0 : 1;
}
