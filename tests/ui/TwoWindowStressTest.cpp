// Two windows on one collection file, each adding and removing discs at random while saves are
// now and then refused by another program's lock or a full disc. Every file a save leaves is
// checked against a model of what both windows did: nothing lost, nothing brought back, no disc
// twice.
#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "browse/CollectionTree.h"

#include <QAction>
#include <QTreeView>

#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kHeader = ";Fendrel File v1 begin\r\n";

// An exclusive lock on the file held by another program for the life of this object.
class THeldLock {
public:
    explicit THeldLock(const std::string& path)
        : Fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        EXPECT_EQ(::flock(Fd_, LOCK_EX | LOCK_NB), 0);
    }
    THeldLock(const THeldLock&) = delete;
    THeldLock& operator=(const THeldLock&) = delete;
    ~THeldLock() { ::close(Fd_); }

private:
    int Fd_;
};

// One change a window made, as the model keeps it until the window's save succeeds.
struct TModelChange {
    enum class TKind { Added, Removed } Kind;
    std::string Title;
};

class TwoWindowStress : public TWindowFixture {
protected:
    void SetUp() override
    {
        MakeTree(Scratch / "disc",
                 {FileEntry("a.txt", 1600000000, 20), FolderEntry("docs", 1600000000),
                  FileEntry("docs/b.txt", 1600000000, 30)});
        Drives.Add('D', {TDriveSource::TKind::Folder, Scratch / "disc", "DATA"});
    }

    std::unique_ptr<TForm_Main> Open(const std::string& path)
    {
        auto window = std::make_unique<TForm_Main>(Platform());
        Dialogs.FileAnswers.push_back(path);
        window->Act_LoadCollection->trigger();
        return window;
    }
    void AddDisc(TForm_Main& w, const std::string& title)
    {
        Dialogs.InputAnswers.push_back(title);
        w.Act_AddDisc->trigger();
    }
    void RemoveDisc(TForm_Main& w, uint32_t disc)
    {
        SelectTreeItem(*w.TreeView_Main, FindTreeItem(*w.TreeView_Main, disc));
        Dialogs.QuestionAnswers.push_back(TMessageResult::Yes);
        w.Act_DeleteDisc->trigger();
    }
    static std::vector<std::string> Titles(const TFendrel& c)
    {
        std::vector<std::string> titles;
        for (const uint32_t disc : c.Discs)
            titles.push_back(c.GetNode(disc).Name.str());
        return titles;
    }
    // The titles of the discs the file holds, each with its two files; the file must read whole.
    static std::vector<std::string> FileTitles(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        TFendrel c;
        size_t readTo = 0;
        EXPECT_TRUE(c.LoadFromText(text, readTo));
        EXPECT_EQ(readTo, text.size());
        for (const uint32_t disc : c.Discs)
            EXPECT_EQ(c.GetNode(disc).Children.size(), 2u) << c.GetNode(disc).Name.str();
        return Titles(c);
    }

    TScratchFolder Scratch;
};

TEST_F(TwoWindowStress, RandomAddsAndRemovalsWithRefusedSavesLoseNothing)
{
    constexpr int kRounds = 300;
    CollectionFiles.SetLockWait(std::chrono::milliseconds(0));
    const std::string path = PathOf("discs.frl");
    std::ofstream(path, std::ios::binary) << kHeader;
    std::array<std::unique_ptr<TForm_Main>, 2> windows{Open(path), Open(path)};
    std::array<std::vector<TModelChange>, 2> unsaved;
    std::set<std::string> saved; // the discs whose last saved change added them
    std::mt19937 random(20);
    int titles = 0;
    int refused = 0;

    // Once a window's changes are all saved, the file holds exactly what the model says, and so
    // does the window when it has just saved.
    const auto check = [&](size_t w, int round, bool justSaved) {
        for (const TModelChange& change : unsaved[w]) {
            if (change.Kind == TModelChange::TKind::Added)
                saved.insert(change.Title);
            else
                saved.erase(change.Title);
        }
        unsaved[w].clear();
        std::vector<std::string> inFile = FileTitles(path);
        if (justSaved) {
            EXPECT_EQ(Titles(windows[w]->Collection()), inFile) << "round " << round;
        }
        std::sort(inFile.begin(), inFile.end());
        EXPECT_EQ(std::adjacent_find(inFile.begin(), inFile.end()), inFile.end())
            << "a disc twice, round " << round;
        EXPECT_EQ(std::set<std::string>(inFile.begin(), inFile.end()), saved) << "round " << round;
    };

    for (int round = 0; round < kRounds && !HasFailure(); ++round) {
        const size_t w = random() % 2;
        TForm_Main& window = *windows[w];
        std::optional<THeldLock> lock;
        switch (random() % 8) {
        case 0:
            lock.emplace(path); // another program's save or read goes on meanwhile
            break;
        case 1:
            CollectionFiles.DiscSpace = random() % 400; // the disc fills up
            break;
        default:
            break;
        }
        const TCollectionBranch& discs = window.Collection().Discs;
        // Disc renames take a third share here, as a third kind of change, once discs can be
        // renamed; the model then moves the title in saved as it does for the other two.
        if (discs.empty() || random() % 100 < 55) {
            std::string title(1, w == 0 ? 'A' : 'B');
            title += std::to_string(titles++);
            AddDisc(window, title);
            unsaved[w].push_back({TModelChange::TKind::Added, title});
        } else {
            const uint32_t disc = discs[random() % discs.size()];
            const std::string title = window.Collection().GetNode(disc).Name.str();
            RemoveDisc(window, disc);
            unsaved[w].push_back({TModelChange::TKind::Removed, title});
        }
        lock.reset();
        CollectionFiles.DiscSpace.reset();
        Dialogs.Messages.clear();
        if (window.HasUnsavedChanges())
            ++refused;
        else
            check(w, round, true);
    }
    // Closing each window tries its waiting changes once more, and this time they go in.
    for (size_t w = 0; w < windows.size(); ++w) {
        const bool waiting = windows[w]->HasUnsavedChanges();
        Dialogs.QuestionAnswers = {TMessageResult::Yes};
        EXPECT_TRUE(windows[w]->close());
        check(w, kRounds, waiting);
    }
    EXPECT_GT(refused, kRounds / 10) << "saves refused along the way";
}

} // namespace
