#include "platform/CollectionFileStore.h"
#include "support/FaultyCollectionFileStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;

namespace {

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

TEST_F(CollectionFileStore, ReplaceKeepsPermissionsAndFollowsSymbolicLinks)
{
    const std::string path = PathOf("c.frl");
    Write(path, "a much longer old content");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::Done);
    EXPECT_EQ(Content(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

    fs::create_symlink(path, PathOf("link.frl"));
    EXPECT_EQ(Store.ReplaceWhole(PathOf("link.frl"), "through the link"), TFileOutcome::Done);
    EXPECT_TRUE(fs::is_symlink(PathOf("link.frl")));
    EXPECT_EQ(Content(path), "through the link");
    EXPECT_THAT(Names(), ElementsAre("c.frl", "link.frl"));
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

TEST_F(CollectionFileStore, ReadOnlyFolderOrFileRefusesTheSave)
{
    if (RunningAsRoot())
        GTEST_SKIP() << "root ignores permission bits";
    const std::string path = PathOf("c.frl");
    Write(path, "old");
    ASSERT_EQ(::chmod(Folder.c_str(), 0500), 0);
    EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::WriteFailed);
    EXPECT_EQ(Content(path), "old");
    std::string text;
    EXPECT_EQ(Store.ReadWhole(PathOf("missing.frl"), text), TFileOutcome::OpenFailed);
    EXPECT_EQ(Store.ReadWhole(path, text), TFileOutcome::Done);

    ASSERT_EQ(::chmod(Folder.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
    EXPECT_EQ(Store.ReplaceWhole(path, "new"), TFileOutcome::OpenFailed);
    EXPECT_EQ(Content(path), "old");
}

} // namespace
