// Times what a user waits for in the real window, drawn offscreen, over a collection file of
// about 1.1 million records (1,000 discs of 1,101 records; 10,000 such discs, 11 million records,
// with "--big"), whose last disc holds a folder of 10,000 files: the start-up until the tree shows
// the collection, a new filter, opening the folder of 10,000 files, and removing a disc until the
// file is saved and the tree rebuilt. First, in a fresh process of this program, the peak memory
// after the start-up's load and after the save of a removal, and the memory the collection keeps
// per record. "--accessible" runs it all with the accessibility layer on, as under a screen
// reader. The window works with the machine's clock and collection files; its boxes are answered
// by script.
#include "bench/BenchSupport.h"

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"

#include "app/Settings.h"
#include "app/uMain.h"
#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "discs/Drives.h"
#include "platform/CollectionFileStore.h"
#include "platform/TickClock.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kBigFolderFiles = 10'000;

// The window's machine, with the last collection set to the benchmark's file.
struct TBenchMachine {
    explicit TBenchMachine(const std::string& collectionFile)
    {
        Settings.Keys[kCurrentSettingsKey][kLastCollectionValue] =
            TSettingsValue::OfString(collectionFile);
    }
    [[nodiscard]] TPlatform Platform()
    {
        return TPlatform{Dialogs, Settings, Clock, Files, Help, Drives};
    }

    TScriptedDialogs Dialogs;
    TMemorySettingsStore Settings;
    TSystemTickClock Clock;
    TPosixCollectionFileStore Files;
    TRecordingHelpViewer Help;
    TDriveTable Drives; // none: the benchmark adds no disc
};

// Constructs and shows the window and runs its events until the tree shows the discs.
std::unique_ptr<TForm_Main> StartWindow(TBenchMachine& machine)
{
    auto window = std::make_unique<TForm_Main>(machine.Platform());
    window->show();
    while (window->TreeModel->Count() < 2)
        QApplication::processEvents();
    QApplication::processEvents(); // the drawing of the filled tree
    return window;
}

// Removes the first disc, answering Yes, until the tree is rebuilt and drawn.
void DeleteFirstDisc(TBenchMachine& machine, TForm_Main& window)
{
    const uint32_t disc = window.Collection().Discs.front();
    SelectTreeItem(*window.TreeView_Main, FindTreeItem(*window.TreeView_Main, disc));
    machine.Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
    window.Act_DeleteDisc->trigger();
    QApplication::processEvents();
}

double Best(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

// Peak memory of a fresh process: after the start-up's load, then after one removal's save.
int MeasureMemory(const std::string& collectionFile)
{
    TBenchMachine machine(collectionFile);
    const double before = static_cast<double>(CurrentRssBytes());
    const std::unique_ptr<TForm_Main> window = StartWindow(machine);
    const double records = window->Collection().LastId;
    const double kept = static_cast<double>(CurrentRssBytes()) - before;
    const double loaded = static_cast<double>(PeakRssBytes()) / (1 << 20);
    DeleteFirstDisc(machine, *window);
    const double saved = static_cast<double>(PeakRssBytes()) / (1 << 20);
    std::printf("peak memory: %.1f MiB after the start-up's load, %.1f MiB after a save\n", loaded,
                saved);
    std::printf("memory kept after the start-up: %.1f MiB, %.1f bytes a record\n", kept / (1 << 20),
                kept / records);
    return 0;
}

int RunMemoryChild(const std::string& collectionFile, bool accessible)
{
    const char* const argv[] = {"bench_window", accessible ? "memory-accessible" : "memory",
                                collectionFile.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char* const*>(argv),
                    environ) != 0)
        return 1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "memory", 6) == 0) {
        QAccessible::setActive(std::strcmp(argv[1], "memory-accessible") == 0);
        return MeasureMemory(argv[2]);
    }
    bool big = false;
    bool accessible = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else if (std::strcmp(argv[i], "--accessible") == 0)
            accessible = true;
    }

    TBenchShape shape;
    shape.FilesPerDisc = 1000;
    shape.Discs = big ? 10'000 : 1000;
    shape.BigFolderFiles = kBigFolderFiles;
    const TBenchCollectionFile file(shape);
    // First, while the file is whole; the child's removal is saved to it.
    if (RunMemoryChild(file.Path(), accessible) != 0)
        return 1;
    std::fflush(stdout);
    QAccessible::setActive(accessible);
    const int runs = big ? 3 : 5;

    TBenchMachine machine(file.Path());
    std::vector<double> startups;
    std::unique_ptr<TForm_Main> window;
    for (int run = 0; run < runs; ++run) {
        window.reset();
        TStopwatch watch;
        window = StartWindow(machine);
        startups.push_back(watch.Seconds());
    }
    std::printf("records: %u (best of %d runs each)\n", window->Collection().LastId, runs);
    std::printf("start-up to a filled tree: %.3f s\n", Best(startups));

    // Each filter searches anew: the filters are dropped, untimed, before each run.
    for (const char* filter : {"x-0", "mp3"}) {
        std::vector<double> filters;
        for (int run = 0; run < runs; ++run) {
            window->ResetFilters();
            QApplication::processEvents();
            machine.Dialogs.InputAnswers.push_back(std::string(filter));
            TStopwatch watch;
            window->Act_NewFilter->trigger();
            QApplication::processEvents();
            filters.push_back(watch.Seconds());
        }
        std::printf("new filter \"%s\": %.3f s (%d tree items)\n", filter, Best(filters),
                    window->TreeModel->Count());
    }

    // The last disc's folder of many files, opened from the root's listing each time.
    window->ResetFilters();
    QApplication::processEvents();
    std::vector<double> openings;
    for (int run = 0; run < runs; ++run) {
        SelectTreeItem(*window->TreeView_Main, 0);
        QApplication::processEvents();
        const uint32_t bigDisc = window->Collection().Discs.back();
        const int folder = FindTreeItem(*window->TreeView_Main,
                                        window->Collection().GetNode(bigDisc).Children.front());
        TStopwatch watch;
        SelectTreeItem(*window->TreeView_Main, folder);
        QApplication::processEvents();
        openings.push_back(watch.Seconds());
    }
    std::printf("opening a folder of %d files: %.3f s (%d rows)\n", kBigFolderFiles, Best(openings),
                window->ListModel->rowCount());

    std::vector<double> deletions;
    for (int run = 0; run < runs; ++run) {
        TStopwatch watch;
        DeleteFirstDisc(machine, *window);
        deletions.push_back(watch.Seconds());
    }
    std::printf("deleting a disc end to end: %.3f s (%zu discs left)\n", Best(deletions),
                window->Collection().Discs.size());
    return 0;
}
