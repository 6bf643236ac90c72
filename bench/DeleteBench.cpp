// Times the removal of a disc end to end in the real main window drawn offscreen: the command
// from the confirmation to the redrawn tree, with the save of the whole collection to a real
// file. The collection of about a million records is loaded from its file first, as a user's is.
#include "bench/BenchSupport.h"

#include "support/MemorySettingsStore.h"
#include "support/RecordingHelpViewer.h"
#include "support/ScriptedDialogs.h"
#include "support/SteppedClock.h"

#include "app/uMain.h"
#include "browse/CollectionTree.h"
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

namespace {

// The processor time of this thread: on a machine shared with others it varies less than the
// time on the clock.
} // namespace

int main(int argc, char** argv)
{
    constexpr int kRuns = 5;
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

    const std::string folder = MakeTempFolder("fendrel-delete-bench");
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

    const size_t messagesBefore = dialogs.Messages.size(); // the warning that there is no drive
    double best = 1e9;
    double worst = 0;
    double bestCpu = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        const uint32_t disc = window.Collection().Discs.at(static_cast<size_t>(run) * 7);
        SelectTreeItem(*window.TreeView_Main, FindTreeItem(*window.TreeView_Main, disc));
        QApplication::processEvents();
        dialogs.QuestionAnswers = {TMessageResult::Yes};
        TStopwatch watch;
        const double cpuBefore = ThreadCpuSeconds();
        window.Act_DeleteDisc->trigger();
        QApplication::processEvents();
        const double seconds = watch.Seconds();
        bestCpu = std::min(bestCpu, ThreadCpuSeconds() - cpuBefore);
        best = std::min(best, seconds);
        worst = std::max(worst, seconds);
    }
    const bool saved = dialogs.Messages.size() == messagesBefore + kRuns; // only the questions
    std::printf("delete a disc, end to end: best %.3f s, worst %.3f s, processor time best %.3f s "
                "(%s)\n",
                best, worst, bestCpu, saved ? "saved" : "FAILED");
    std::filesystem::remove_all(folder);
    return saved ? 0 : 1;
}
