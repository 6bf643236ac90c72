#include "platform/CollectionFileStore.h"
#include "support/FaultyCollectionFileStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kCollection = ";Fendrel File v1 begin\r\n";

class CollectionFileStore : public ::testing::Test {
protected:
    CollectionFileStore()
    {
        std::string pattern = (fs::temp_directory_path() / "fendrel-store-XXXXXX").string();
        Folder = ::mkdtemp(pattern.data());
    }
    ~CollectionFileStore() override
    {
        ::chmod(Folder.c_str(), 0700);
        fs::remove_all(Folder);
    }

    [[nodiscard]] std::string PathOf(const std::string& name) const { return Folder + "/" + name; }
    static void Write(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    [[nodiscard]] static std::string Content(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Names in the folder: a failed save must leave no temporary file behind.
    [[nodiscard]] std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Permission bits do not stop root; those tests cannot show anything then.
    [[nodiscard]] static bool RunningAsRoot() { return ::geteuid() == 0; }

    std::string Folder;
    TFaultyCollectionFileStore Store;
};

// A lock held by another user of the file (another Fendrel), for the life of this object.
class TForeignLock {
public:
    explicit TForeignLock(const std::string& path)
        : Fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        Locked = Fd_ >= 0 && ::flock(Fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~TForeignLock() { ::close(Fd_); }
    bool Locked = false;

private:
    int Fd_;
};

// A content made block by block, as a save makes it: Produce hands the blocks over in order and
// stops at the first one refused, or throws before the block ThrowAt, as a broken collection does.
struct TProducedText {
    std::vector<std::string> Blocks;
    std::optional<size_t> ThrowAt = std::nullopt;
    size_t Handed = 0; // blocks taken
    bool Refused = false;
    int Calls = 0;

    [[nodiscard]] std::string Whole() const
    {
        std::string whole;
        for (const std::string& block : Blocks)
            whole += block;
        return whole;
    }
    [[nodiscard]] std::function<bool(const TBlockSink&)> Produce()
    {
        return [this](const TBlockSink& sink) {
            ++Calls;
            for (size_t i = 0; i < Blocks.size(); ++i) {
                if (ThrowAt == i)
                    throw std::runtime_error("Node not found");
                if (!sink(Blocks[i])) {
                    Refused = true;
                    return false;
                }
                ++Handed;
            }
            return true;
        };
    }
};

TEST_F(CollectionFileStore, ReadCreatesAMissingFileEmptyAndNeverTruncates)
{
    std::string text = "untouched";
    EXPECT_EQ(Store.ReadWhole(PathOf("new.frl"), text), TFileOutcome::Done);
    EXPECT_EQ(text, "");
    EXPECT_TRUE(fs::is_regular_file(PathOf("new.frl")));
    EXPECT_EQ(fs::file_size(PathOf("new.frl")), 0u);

    const std::string content("line\r\n\0binary\xFF", 14);
    Write(PathOf("old.frl"), content);
    EXPECT_EQ(Store.ReadWhole(PathOf("old.frl"), text), TFileOutcome::Done);
    EXPECT_EQ(text, content);
    EXPECT_EQ(Content(PathOf("old.frl")), content);
}

// The text handed over in place is the whole file, read under the shared lock, which a save
// (an exclusive lock) waits for until the reading is done.
TEST_F(CollectionFileStore, ReadInPlaceHandsOverTheWholeFileWhileItIsLocked)
{
    TPosixCollectionFileStore store(std::chrono::milliseconds(100));
    const std::string path = PathOf("c.frl");
    const std::string content = kCollection + std::string("E 1 2 3 x\r\n\0\xFF", 13);
    Write(path, content);
    TFileIdentity identity;
    std::string seen;
    bool lockedMeanwhile = false;
    const auto read = [&](std::string_view text) {
        seen = text;
        lockedMeanwhile = !TForeignLock(path).Locked;
    };
    EXPECT_EQ(store.ReadInPlace(path, read, identity), TFileOutcome::Done);
    EXPECT_EQ(seen, content);
    EXPECT_TRUE(lockedMeanwhile);
    EXPECT_TRUE(TForeignLock(path).Locked) << "released after the reading";
    TFileIdentity wholeIdentity;
    std::string whole;
    ASSERT_EQ(store.ReadWhole(path, whole, wholeIdentity), TFileOutcome::Done);
    EXPECT_EQ(identity, wholeIdentity);

    // A missing file is made empty, as ReadWhole makes it; what the reader throws is passed on
    // and the lock goes all the same.
    seen = "kept";
    EXPECT_EQ(store.ReadInPlace(PathOf("new.frl"), read, identity), TFileOutcome::Done);
    EXPECT_EQ(seen, "");
    EXPECT_THROW(
        (void)store.ReadInPlace(
            path, [](std::string_view) { throw std::runtime_error("no memory"); }, identity),
        std::runtime_error);
    EXPECT_TRUE(TForeignLock(path).Locked);

    // Nothing is handed over from a file that cannot be opened or read.
    int calls = 0;
    const auto count = [&](std::string_view) {
        ++calls;
    };
    fs::create_directory(PathOf("folder"));
    EXPECT_EQ(store.ReadInPlace(PathOf("folder"), count, identity), TFileOutcome::OpenFailed);
    {
        const TForeignLock other(path);
        EXPECT_EQ(store.ReadInPlace(path, count, identity), TFileOutcome::OpenFailed);
    }
    Store.FailReads = true;
    EXPECT_EQ(Store.ReadInPlace(path, count, identity), TFileOutcome::ReadFailed);
    EXPECT_EQ(calls, 0);
}

TEST_F(CollectionFileStore, WhatIsNotAPlainFileCannotBeOpened)
{
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
    fs::create_directory(PathOf("folder"));
    std::string text = "kept";
    for (const std::string& path :
         {PathOf("missing/x.frl"), PathOf("folder"), PathOf("fifo"), std::string()}) {
        EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::OpenFailed) << path;
        EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::OpenFailed) << path;
    }
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(fs::exists(PathOf("missing")));
}

TEST_F(CollectionFileStore, FileInUseElsewhereIsRefusedAndTheLockIsReleasedAfterEachCall)
{
    const std::string path = PathOf("c.frl");
    Write(path, "old");
    std::string text;
    {
        const TForeignLock other(path);
        ASSERT_TRUE(other.Locked);
        EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::OpenFailed);
        EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::OpenFailed);
        EXPECT_EQ(Content(path), "old");
    }
    EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::Done);
    EXPECT_TRUE(TForeignLock(path).Locked);
    EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::Done);
    EXPECT_TRUE(TForeignLock(path).Locked);
    Store.FailReads = true;
    text = "before";
    EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::ReadFailed);
    EXPECT_EQ(text, "before");
    EXPECT_TRUE(TForeignLock(path).Locked);
    Store.DiscSpace = 0;
    EXPECT_EQ(Store.ReplaceWhole(path, "newer"), TFileOutcome::WriteFailed);
    EXPECT_TRUE(TForeignLock(path).Locked);
}

// Another Fendrel saving (or fendrel-find reading) holds the file for a moment: a read or a
// write waits for it; readers share the file.
TEST_F(CollectionFileStore, LockHeldBrieflyIsWaitedForAndReadersShareTheFile)
{
    const std::string path = PathOf("c.frl");
    Write(path, "old");
    Store.SetLockWait(std::chrono::seconds(3));
    std::string text;
    {
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
        EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::Done);
        ::close(reader);
    }
    for (const bool write : {false, true}) {
        const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        std::thread release([other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            ::close(other);
        });
        if (write)
            EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::Done);
        else
            EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::Done);
        release.join();
    }
    EXPECT_EQ(Content(path), "new");
}

// The work done while the disc takes the file runs once, when the whole new text is written but
// the file not yet replaced; the save is done only when the flush succeeded, and a failed flush
// or a throwing work leaves the file as it was.
TEST_F(CollectionFileStore, WorkWhileSyncingSeesTheWholeTextWrittenAndNeverASaveHalfDone)
{
    const std::string path = PathOf("c.frl");
    const std::string former = kCollection + "D 0 0 0 old\r\n<\r\n";
    const std::string newer = kCollection + "D 0 0 0 new\r\n<\r\n";
    Write(path, former);
    int calls = 0;
    TReplaceRequest request{newer, std::nullopt, nullptr, false};
    request.WhileSyncing = [&] {
        ++calls;
        EXPECT_EQ(Content(path), former);
        const std::vector<std::string> names = Names();
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(Content(PathOf(names[0])), newer) << names[0] << " is the temporary file";
    };
    EXPECT_EQ(Store.Replace(path, request).Outcome, TFileOutcome::Done);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Content(path), newer);

    Write(path, former);
    Store.FailFlush = true;
    EXPECT_EQ(Store.Replace(path, request).Outcome, TFileOutcome::WriteFailed);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(Content(path), former);
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
    Store.FailFlush = false;

    request.WhileSyncing = [] {
        throw std::runtime_error("meanwhile");
    };
    EXPECT_THROW((void)Store.Replace(path, request), std::runtime_error);
    EXPECT_EQ(Content(path), former);
    EXPECT_THAT(Names(), ElementsAre("c.frl"));

    // Nothing written, nothing to wait for: the work is not called.
    Store.DiscSpace = 0;
    request.WhileSyncing = [&] {
        ++calls;
    };
    EXPECT_EQ(Store.Replace(path, request).Outcome, TFileOutcome::WriteFailed);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(Content(path), former);
}

// Under a file size limit (ulimit -f) a write that would grow the file past it fails the save;
// the program goes on and the file keeps its content.
TEST_F(CollectionFileStore, FileSizeLimitFailsTheSaveInsteadOfEndingTheProgram)
{
    const std::string path = PathOf("c.frl");
    const std::string former = kCollection + "D 0 0 0 old\r\n<\r\n";
    Write(path, former);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TPosixCollectionFileStore store;
        const rlimit limit{former.size() + 10, former.size() + 10};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(3);
        const bool failed = store.ReplaceWhole(path, former + former) == TFileOutcome::WriteFailed;
        ::_exit(failed ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    EXPECT_EQ(Content(path), former);
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
}

TEST_F(CollectionFileStore, ReplaceKeepsPermissionsAndWritesThroughLinksOnlyToCollections)
{
    const std::string path = PathOf("c.frl");
    Write(path, "a much longer old content");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(Store.ReplaceWhole(path, kCollection), TFileOutcome::Done);
    EXPECT_EQ(Content(path), kCollection);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

    fs::create_symlink(path, PathOf("link.frl"));
    const std::string newer = kCollection + "D 0 0 0 newer\r\n<\r\n";
    EXPECT_EQ(Store.ReplaceWhole(PathOf("link.frl"), newer), TFileOutcome::Done);
    EXPECT_TRUE(fs::is_symlink(PathOf("link.frl")));
    EXPECT_EQ(Content(path), newer);

    // A link to an empty file may be written through; a link to anything else that is no
    // collection never replaces what it leads to.
    Write(PathOf("empty"), "");
    fs::create_symlink(PathOf("empty"), PathOf("to-empty.frl"));
    EXPECT_EQ(Store.ReplaceWhole(PathOf("to-empty.frl"), kCollection), TFileOutcome::Done);
    EXPECT_EQ(Content(PathOf("empty")), kCollection);
    for (const std::string notes : {"my notes\n", ";Fendrel"}) {
        Write(PathOf("notes.txt"), notes);
        fs::create_symlink(PathOf("notes.txt"), PathOf("to-notes.frl"));
        EXPECT_EQ(Store.ReplaceWhole(PathOf("to-notes.frl"), kCollection),
                  TFileOutcome::NotACollection);
        EXPECT_EQ(Content(PathOf("notes.txt")), notes);
        fs::remove(PathOf("to-notes.frl"));
    }
    EXPECT_THAT(Names(), ElementsAre("c.frl", "empty", "link.frl", "notes.txt", "to-empty.frl"));
}

TEST_F(CollectionFileStore, ReplaceComparesWithTheFileAsLastSeenAndMergesOnlyAChangedOne)
{
    const std::string path = PathOf("c.frl");
    Write(path, kCollection);
    std::string text;
    TFileIdentity seen;
    ASSERT_EQ(Store.ReadWhole(path, text, seen), TFileOutcome::Done);
    std::vector<std::string> merged; // what Merge was given
    const auto replace = [&](std::string_view newText,
                             std::optional<std::string> answer = "merged") {
        TReplaceRequest request{newText, seen, [&merged, answer](std::string_view current) {
                                    merged.emplace_back(current);
                                    return answer;
                                }};
        return Store.Replace(path, request);
    };

    // Unchanged: written as asked, and the identity returned is the file's as it now is.
    TReplaceResult result = replace("mine");
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_FALSE(result.Merged);
    EXPECT_THAT(merged, IsEmpty());
    TFileIdentity reread;
    ASSERT_EQ(Store.ReadWhole(path, text, reread), TFileOutcome::Done);
    EXPECT_EQ(result.Identity, reread);
    seen = result.Identity;

    // Another program's save (a rename) and a write in place of another length are both seen;
    // the file's content goes to Merge and its answer is written.
    EXPECT_EQ(Store.ReplaceWhole(path, "theirs"), TFileOutcome::Done);
    result = replace("mine");
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_TRUE(result.Merged);
    EXPECT_THAT(merged, ElementsAre("theirs"));
    EXPECT_EQ(Content(path), "merged");
    seen = result.Identity;
    std::ofstream(path, std::ios::binary | std::ios::in) << "MERGED!";
    EXPECT_TRUE(replace("mine").Merged);
    EXPECT_EQ(merged.back(), "MERGED!");

    // Same length, touched: its time tells.
    ASSERT_EQ(Store.ReadWhole(path, text, seen), TFileOutcome::Done);
    const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_TRUE(replace("mine").Merged);

    // Merge refuses what the file holds now: it stays as it is.
    Write(path, "foreign");
    merged.clear();
    EXPECT_EQ(replace("mine", std::nullopt).Outcome, TFileOutcome::NotACollection);
    EXPECT_THAT(merged, ElementsAre("foreign"));
    EXPECT_EQ(Content(path), "foreign");

    // Deleted or emptied meanwhile: nothing to merge, the text is written anew.
    for (const bool remove : {true, false}) {
        if (remove)
            fs::remove(path);
        else
            Write(path, "");
        merged.clear();
        result = replace("mine");
        EXPECT_EQ(result.Outcome, TFileOutcome::Done);
        EXPECT_FALSE(result.Merged);
        EXPECT_THAT(merged, IsEmpty());
        EXPECT_EQ(Content(path), "mine");
    }
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
}

TEST_F(CollectionFileStore, DamagedOriginalIsKeptBesideTheFileBeforeItIsReplaced)
{
    const std::string path = PathOf("c.frl");
    const auto keep = [&](std::string_view text) {
        std::string read;
        TFileIdentity seen;
        EXPECT_EQ(Store.ReadWhole(path, read, seen), TFileOutcome::Done);
        return Store.Replace(path, TReplaceRequest{text, seen, nullptr, true});
    };
    const std::string damaged("not a collection\0\xFF", 19);
    Write(path, damaged);
    TReplaceResult result = keep(kCollection);
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_EQ(result.KeptCopy, PathOf("c.frl.damaged"));
    EXPECT_EQ(Content(PathOf("c.frl.damaged")), damaged);
    EXPECT_EQ(Content(path), kCollection);

    // Taken names are never overwritten.
    Write(path, "second");
    EXPECT_EQ(keep(kCollection).KeptCopy, PathOf("c.frl.damaged-2"));
    EXPECT_EQ(Content(PathOf("c.frl.damaged")), damaged);
    EXPECT_EQ(Content(PathOf("c.frl.damaged-2")), "second");

    // A copy that cannot be made completely stops the save.
    Write(path, "third");
    Store.DiscSpace = 2;
    EXPECT_EQ(keep(kCollection).Outcome, TFileOutcome::WriteFailed);
    EXPECT_EQ(Content(path), "third");
    // ...and so does a save that fails after the copy: the copy goes with it.
    Store.DiscSpace = 5 + 2;
    EXPECT_EQ(keep(kCollection).Outcome, TFileOutcome::WriteFailed);
    EXPECT_EQ(Content(path), "third");
    EXPECT_THAT(Names(), ElementsAre("c.frl", "c.frl.damaged", "c.frl.damaged-2"));
}

TEST_F(CollectionFileStore, StaleTemporariesAreRemovedAndLiveOnesKept)
{
    const std::string path = PathOf("c.frl");
    Write(path, kCollection);
    const auto make = [&](const std::string& name, bool old,
                          const std::string& content = kCollection + "D 0 0 0 cut") {
        Write(PathOf(name), content);
        if (old) {
            const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
            EXPECT_EQ(::utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0), 0);
        }
    };
    make(".c.frl.fendrel-save-k3Z9aQ", true);     // a save killed long ago
    make(".c.frl.fendrel-save-Empty0", true, ""); // killed before it wrote
    make(".c.frl.fendrel-save-Short0", true, kCollection.substr(0, 5));
    make(".c.frl.fendrel-save-Live01", true);  // a save still writing
    make(".c.frl.fendrel-save-New001", false); // a save that began after this program did
    make(".d.frl.fendrel-save-Old001", true);  // another collection's
    make(".c.frl.fendrel-save-Old01", true);   // not the pattern of a temporary file
    make("c.frl.fendrel-save-Old001", true);
    // The user's own files, whatever their names look like: what they hold is no save's.
    make(".c.frl.fendrel-save-Notes1", true, "my notes");
    make(".c.frl.fendrel-save-Upper1", true, ";FENDREL FILE V1 BEGIN\r\n");
    // Names that temporary files had before: no longer taken for one, even holding a collection.
    make(".c.frl.backup", true, kCollection);
    make(".c.frl.2025v1", true);
    const TForeignLock live(PathOf(".c.frl.fendrel-save-Live01"));
    ASSERT_TRUE(live.Locked);
    fs::create_symlink(path, PathOf("link.frl"));

    Store.RemoveStaleTemporaries(PathOf("link.frl")); // the link's target's folder
    EXPECT_THAT(Names(), ElementsAre(".c.frl.2025v1", ".c.frl.backup", ".c.frl.fendrel-save-Live01",
                                     ".c.frl.fendrel-save-New001", ".c.frl.fendrel-save-Notes1",
                                     ".c.frl.fendrel-save-Old01", ".c.frl.fendrel-save-Upper1",
                                     ".d.frl.fendrel-save-Old001", "c.frl",
                                     "c.frl.fendrel-save-Old001", "link.frl"));
    Store.RemoveStaleTemporaries(PathOf("missing/x.frl"));
}

TEST_F(CollectionFileStore, WhatAKilledSaveLeavesIsRemovedAndNothingElse)
{
    const std::string path = PathOf("c.frl");
    Write(path, kCollection);
    Write(PathOf(".c.frl.backup"), kCollection);
    // A save killed halfway through its text.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TReplaceRequest request;
        request.Produce = [](const TBlockSink& sink) {
            static_cast<void>(sink(kCollection + "D 0 0 0 half"));
            ::_exit(0);
            return true;
        };
        static_cast<void>(Store.Replace(path, request));
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> names = Names();
    ASSERT_EQ(names.size(), 3u);
    const std::string left = names[1];
    EXPECT_TRUE(left.starts_with(".c.frl.") && left != ".c.frl.backup") << left;
    for (const std::string& name : names) {
        const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0), 0);
    }

    Store.RemoveStaleTemporaries(path);
    EXPECT_THAT(Names(), ElementsAre(".c.frl.backup", "c.frl"));
    EXPECT_EQ(Content(path), kCollection);
}

TEST_F(CollectionFileStore, ShortAndInterruptedTransfersAreCompleted)
{
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    Store.MaxTransfer = 4093;
    Store.Interrupt = true;
    EXPECT_EQ(Store.ReplaceWhole(PathOf("c.frl"), big), TFileOutcome::Done);
    std::string text;
    EXPECT_EQ(Store.ReadWhole(PathOf("c.frl"), text), TFileOutcome::Done);
    EXPECT_EQ(text, big);
}

TEST_F(CollectionFileStore, FullDiscLeavesTheFormerFileAsItWas)
{
    const std::string path = PathOf("c.frl");
    const std::string former = ";Fendrel File v1 begin\r\nD 0 0 0 old\r\n<\r\n";
    Write(path, former);
    for (const size_t space : {size_t{0}, size_t{10}, former.size() + 5}) {
        Store.DiscSpace = space;
        EXPECT_EQ(Store.ReplaceWhole(path, former + former), TFileOutcome::WriteFailed) << space;
        EXPECT_EQ(Content(path), former);
        EXPECT_THAT(Names(), ElementsAre("c.frl"));
    }
}

TEST_F(CollectionFileStore, ProducedTextIsWrittenAsItIsMadeAndAFailureLeavesTheFormerFile)
{
    const std::string path = PathOf("c.frl");
    const std::string former = kCollection + "D 0 0 0 old\r\n<\r\n";
    Write(path, former);
    TProducedText made;
    for (int i = 0; i < 40; ++i)
        made.Blocks.push_back(std::string(1000 + i, static_cast<char>('a' + i % 26)));
    const auto replace = [&](bool keepOriginal) {
        std::string read;
        TFileIdentity seen;
        EXPECT_EQ(Store.ReadWhole(path, read, seen), TFileOutcome::Done);
        TReplaceRequest request{"not this", seen, nullptr, keepOriginal};
        request.Produce = made.Produce();
        return Store.Replace(path, request);
    };

    // The disc fills up part-way: the making stops at the refused block.
    Store.DiscSpace = 15000;
    EXPECT_EQ(replace(false).Outcome, TFileOutcome::WriteFailed);
    EXPECT_TRUE(made.Refused);
    EXPECT_LT(made.Handed, made.Blocks.size());
    EXPECT_EQ(Content(path), former);
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
    Store.DiscSpace.reset();

    // A making that throws half-way: the error goes on, and so does the file as it was, without
    // the copy of a damaged original or a temporary file.
    made.ThrowAt = 20;
    for (const bool keepOriginal : {false, true}) {
        EXPECT_THROW((void)replace(keepOriginal), std::runtime_error);
        EXPECT_EQ(Content(path), former);
        EXPECT_THAT(Names(), ElementsAre("c.frl"));
    }
    // ...and a file that was missing stays missing.
    fs::remove(path);
    EXPECT_THROW((void)Store.Replace(
                     path, TReplaceRequest{"", std::nullopt, nullptr, false, made.Produce()}),
                 std::runtime_error);
    EXPECT_THAT(Names(), IsEmpty());
    Write(path, former);
    made.ThrowAt.reset();

    // Written whole through short and interrupted writes, in place of Text.
    Store.MaxTransfer = 333;
    Store.Interrupt = true;
    const TReplaceResult result = replace(false);
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_EQ(Content(path), made.Whole());
    TFileIdentity reread;
    std::string text;
    ASSERT_EQ(Store.ReadWhole(path, text, reread), TFileOutcome::Done);
    EXPECT_EQ(result.Identity, reread);
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
}

TEST_F(CollectionFileStore, MergedTextIsWrittenInsteadOfMakingTheProducedOne)
{
    const std::string path = PathOf("c.frl");
    Write(path, kCollection);
    std::string text;
    TFileIdentity seen;
    ASSERT_EQ(Store.ReadWhole(path, text, seen), TFileOutcome::Done);
    Write(path, "theirs, longer");
    TProducedText made{{"mine"}};
    TReplaceRequest request{{}, seen, [](std::string_view) {
                                return std::string("merged");
                            }};
    request.Produce = made.Produce();
    const TReplaceResult result = Store.Replace(path, request);
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_TRUE(result.Merged);
    EXPECT_EQ(made.Calls, 0);
    EXPECT_EQ(Content(path), "merged");
}

TEST_F(CollectionFileStore, ReadOnlyFolderSavesInPlaceAndReadOnlyFileRefusesTheSave)
{
    if (RunningAsRoot())
        GTEST_SKIP() << "root ignores permission bits";
    const std::string path = PathOf("c.frl");
    Write(path, "old content, longer than the new");
    ASSERT_EQ(::chmod(Folder.c_str(), 0500), 0);
    std::string text;
    TFileIdentity seen;
    ASSERT_EQ(Store.ReadWhole(path, text, seen), TFileOutcome::Done);
    const TReplaceResult result = Store.Replace(path, TReplaceRequest{"new", seen, nullptr, false});
    EXPECT_EQ(result.Outcome, TFileOutcome::Done);
    EXPECT_EQ(Content(path), "new");
    TFileIdentity reread;
    EXPECT_EQ(Store.ReadWhole(path, text, reread), TFileOutcome::Done);
    EXPECT_EQ(result.Identity, reread);
    EXPECT_EQ(Store.ReadWhole(PathOf("missing.frl"), text), TFileOutcome::OpenFailed);

    // A disc without room for the whole text: nothing is written.
    Store.DiscSpace = 10;
    EXPECT_EQ(Store.ReplaceWhole(path, "a text longer than ten bytes"), TFileOutcome::WriteFailed);
    EXPECT_EQ(Content(path), "new");
    Store.DiscSpace.reset();
    // The copy of a damaged original cannot be made here, so the file is not replaced.
    EXPECT_EQ(Store.Replace(path, TReplaceRequest{"newer", reread, nullptr, true}).Outcome,
              TFileOutcome::WriteFailed);
    EXPECT_EQ(Content(path), "new");
    EXPECT_THAT(Names(), ElementsAre("c.frl"));

    ASSERT_EQ(::chmod(Folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
    EXPECT_EQ(Store.ReplaceWhole(path, "newer"), TFileOutcome::OpenFailed);
    EXPECT_EQ(Content(path), "new");
}

TEST_F(CollectionFileStore, ReadOnlyFolderMakesTheProducedTextWholeBeforeWritingInPlace)
{
    if (RunningAsRoot())
        GTEST_SKIP() << "root ignores permission bits";
    const std::string path = PathOf("c.frl");
    const std::string former = "old content, shorter than the new";
    Write(path, former);
    ASSERT_EQ(::chmod(Folder.c_str(), 0500), 0);
    TProducedText made{{"first block, ", "second block, ", "last block"}};

    // A making that throws after its first block has written nothing into the file.
    made.ThrowAt = 2;
    EXPECT_THROW((void)Store.Replace(
                     path, TReplaceRequest{"", std::nullopt, nullptr, false, made.Produce()}),
                 std::runtime_error);
    EXPECT_EQ(Content(path), former);

    made.ThrowAt.reset();
    EXPECT_EQ(Store.Replace(path, TReplaceRequest{"", std::nullopt, nullptr, false, made.Produce()})
                  .Outcome,
              TFileOutcome::Done);
    EXPECT_EQ(Content(path), made.Whole());
    EXPECT_THAT(Names(), ElementsAre("c.frl"));
}

} // namespace
