// Times what a user waits for in the real window, drawn offscreen, over a collection file of
// about 1.1 million records (1,000 discs of 1,101 records; 10,000 such discs, 11 million records,
// with "--big"), whose last disc holds a folder of 10,000 files: the start-up until the tree shows
// the collection, a new filter, opening the folder of 10,000 files, and removing a disc until the
// file is saved and the tree rebuilt. Each figure is the best of several runs, in seconds of the
// clock and of processor time (which the load of a shared machine disturbs far less). First, in a
// fresh process of this program, the start-up as a user meets it (the memory the collection
// takes has not been used by the process before), the peak memory after the start-up's load and
// after the save of a removal, and the memory kept per record.
// Options: "--accessible" runs it all with the accessibility layer on, as under a screen reader;
// "--runs=N" sets the number of runs; "--copy-to=PATH" only writes the collection file there, for
// a profiler; "--file=PATH" times that file instead of a new one (the removals change it);
// "--one-thread-load" reads the collection file on one thread, as before it was read on two.
#include "bench/BenchSupport.h"

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"

#include "app/Settings.h"
#include "app/uMain.h"
#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListModel.h"
#include "collection/Fendrel.h"
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
#include <filesystem>
#include <memory>
#include <optional>
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

// Asks every accessible object of the window for its name and its children, as a screen reader's
// review of the window does; returns the number of objects.
size_t WalkAccessibleTree(QWidget& window)
{
    size_t objects = 0;
    std::vector<QAccessibleInterface*> pending{QAccessible::queryAccessibleInterface(&window)};
    while (!pending.empty()) {
        QAccessibleInterface* object = pending.back();
        pending.pop_back();
        if (!object || !object->isValid())
            continue;
        ++objects;
        (void)object->text(QAccessible::Name);
        for (int child = object->childCount() - 1; child >= 0; --child)
            pending.push_back(object->child(child));
    }
    return objects;
}

// The best of several runs by the clock and by processor time.
class TBest {
public:
    void Add(const TStopwatch& watch)
    {
        const double seconds = watch.Seconds();
        const double cpu = watch.CpuSeconds();
        Seconds_ = std::min(Seconds_, seconds);
        Cpu_ = std::min(Cpu_, cpu);
    }
    [[nodiscard]] std::string Text() const
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f s (processor %.3f s)", Seconds_, Cpu_);
        return text;
    }

private:
    double Seconds_ = 1e9;
    double Cpu_ = 1e9;
};

// A fresh process: the start-up, the peak memory after its load, then after one removal's save.
int MeasureFreshProcess(const std::string& collectionFile)
{
    TBenchMachine machine(collectionFile);
    const double before = static_cast<double>(CurrentRssBytes());
    TBest startup;
    const TStopwatch watch;
    const std::unique_ptr<TForm_Main> window = StartWindow(machine);
    startup.Add(watch);
    const double records = window->Collection().LastId;
    const double kept = static_cast<double>(CurrentRssBytes()) - before;
    const double loaded = static_cast<double>(PeakRssBytes()) / (1 << 20);
    DeleteFirstDisc(machine, *window);
    const double saved = static_cast<double>(PeakRssBytes()) / (1 << 20);
    std::printf("start-up to a filled tree in a fresh process: %s\n", startup.Text().c_str());
    std::printf("peak memory: %.1f MiB after the start-up's load, %.1f MiB after a save\n", loaded,
                saved);
    std::printf("memory kept after the start-up: %.1f MiB, %.1f bytes a record\n", kept / (1 << 20),
                kept / records);
    return 0;
}

int RunFreshProcess(const std::string& collectionFile, bool accessible, bool oneThread)
{
    const char* const argv[] = {"bench_window", accessible ? "fresh-accessible" : "fresh",
                                collectionFile.c_str(), oneThread ? "one-thread" : nullptr,
                                nullptr};
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
    if (argc >= 3 && std::strncmp(argv[1], "fresh", 5) == 0) {
        if (argc == 4)
            TFendrel::SetTwoThreadLoadBytes(SIZE_MAX);
        QAccessible::setActive(std::strcmp(argv[1], "fresh-accessible") == 0);
        return MeasureFreshProcess(argv[2]);
    }
    bool big = false;
    bool accessible = false;
    bool oneThread = false;
    int runs = 0;
    std::string copyTo;
    std::string given;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--big") == 0)
            big = true;
        else if (std::strcmp(argv[i], "--accessible") == 0)
            accessible = true;
        else if (std::strcmp(argv[i], "--one-thread-load") == 0)
            oneThread = true;
        else if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::atoi(argv[i] + 7);
        else if (std::strncmp(argv[i], "--copy-to=", 10) == 0)
            copyTo = argv[i] + 10;
        else if (std::strncmp(argv[i], "--file=", 7) == 0)
            given = argv[i] + 7;
    }
    if (runs <= 0)
        runs = big ? 3 : 5;

    TBenchShape shape;
    shape.FilesPerDisc = 1000;
    shape.Discs = big ? 10'000 : 1000;
    shape.BigFolderFiles = kBigFolderFiles;
    std::optional<TBenchCollectionFile> made;
    if (given.empty())
        made.emplace(shape);
    const std::string path = given.empty() ? made->Path() : given;
    if (!copyTo.empty()) {
        std::filesystem::copy_file(path, copyTo, std::filesystem::copy_options::overwrite_existing);
        return 0;
    }
    // First, while the file is whole; the child's removal is saved to it.
    if (oneThread)
        TFendrel::SetTwoThreadLoadBytes(SIZE_MAX);
    if (RunFreshProcess(path, accessible, oneThread) != 0)
        return 1;
    std::fflush(stdout);
    QAccessible::setActive(accessible);

    TBenchMachine machine(path);
    TBest startup;
    std::unique_ptr<TForm_Main> window;
    for (int run = 0; run < runs; ++run) {
        window.reset();
        const TStopwatch watch;
        window = StartWindow(machine);
        startup.Add(watch);
    }
    std::printf("records: %u (best of %d runs each)\n", window->Collection().LastId, runs);
    std::printf("start-up to a filled tree: %s\n", startup.Text().c_str());

    // Each filter searches anew: the filters are dropped, untimed, before each run.
    for (const char* filter : {"x-0", "mp3"}) {
        TBest best;
        for (int run = 0; run < runs; ++run) {
            window->ResetFilters();
            QApplication::processEvents();
            machine.Dialogs.InputAnswers.push_back(std::string(filter));
            const TStopwatch watch;
            window->Act_NewFilter->trigger();
            QApplication::processEvents();
            best.Add(watch);
        }
        std::printf("new filter \"%s\": %s (%d tree items)\n", filter, best.Text().c_str(),
                    window->TreeModel->Count());
    }

    // The last disc's folder of many files, opened from the root's listing each time.
    window->ResetFilters();
    QApplication::processEvents();
    TBest opening;
    for (int run = 0; run < runs; ++run) {
        SelectTreeItem(*window->TreeView_Main, 0);
        QApplication::processEvents();
        const uint32_t bigDisc = window->Collection().Discs.back();
        const int folder = FindTreeItem(*window->TreeView_Main,
                                        window->Collection().GetNode(bigDisc).Children.front());
        const TStopwatch watch;
        SelectTreeItem(*window->TreeView_Main, folder);
        QApplication::processEvents();
        opening.Add(watch);
    }
    std::printf("opening a folder of %d files: %s (%d rows)\n", kBigFolderFiles,
                opening.Text().c_str(), window->ListModel->rowCount());
    if (accessible) {
        // What a screen reader's review of the whole window asks for: every accessible object,
        // each with its name, the root's listing of the discs shown in the list.
        SelectTreeItem(*window->TreeView_Main, 0);
        QApplication::processEvents();
        const TStopwatch watch;
        const size_t objects = WalkAccessibleTree(*window);
        TBest walk;
        walk.Add(watch);
        std::printf("a review of every accessible object: %s (%zu objects)\n", walk.Text().c_str(),
                    objects);
    }

    TBest deletion;
    for (int run = 0; run < runs; ++run) {
        const TStopwatch watch;
        DeleteFirstDisc(machine, *window);
        deletion.Add(watch);
    }
    std::printf("deleting a disc end to end: %s (%zu discs left)\n", deletion.Text().c_str(),
                window->Collection().Discs.size());
    return 0;
}
