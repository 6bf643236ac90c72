// Discs read where they are mounted: a folder stands for the mounted disc in the drive table.

#include "support/DiscTrees.h"

#include "discs/Drives.h"
#include "discs/FolderVolume.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

namespace {

constexpr int64_t kTime = 1262304000; // 2010-01-01 00:00:00 UTC

class MountedDisc : public ::testing::Test {
protected:
    MountedDisc()
    {
        Drives.Add('E', {TDriveSource::TKind::Folder, Scratch / "disc", Ansi("Фото")});
    }

    const TCollectionNode& Scan(const std::vector<TTreeEntry>& tree, size_t count)
    {
        MakeTree(Scratch / "disc", tree);
        const std::unique_ptr<IVolume> volume = Drives.OpenVolume('E');
        EXPECT_EQ(volume->Label(), Ansi("Фото"));
        EXPECT_EQ(Collection.ScanDisc("disc", *volume), static_cast<int32_t>(count));
        return Collection.GetNode(Collection.Discs.back());
    }

    TScratchFolder Scratch;
    TDriveTable Drives;
    TFendrel Collection;
};

TEST_F(MountedDisc, TreeIsReadWholeWithLinksAsFilesNeverFollowed)
{
    const std::vector<TTreeEntry> tree = {FolderEntry("Альбом", kTime + 1),
                                          FileEntry("Альбом/Снимок 001.jpg", kTime + 2, 300000),
                                          LinkEntry("Альбом/loop", kTime + 3, ".."),
                                          LinkEntry("dangling", kTime + 5, "nowhere"),
                                          FolderEntry("Empty", kTime + 6),
                                          FolderEntry("a\\b", kTime + 7), // "\" is just a character
                                          FileEntry("a\\b/inside", kTime + 8, 1),
                                          FileEntry(".hidden", kTime + 9, 2),
                                          FileEntry("sparse", kTime + 10, (1ull << 32) + 5)};
    const TCollectionNode& disc = Scan(tree, tree.size());
    EXPECT_EQ(DumpScanned(Collection, disc, true), DumpExpected(tree));
    EXPECT_TRUE(IdsArePreOrder(Collection, disc));
}

// Linux names are bytes: UTF-8 mostly, but any byte but "/" and zero may stand in them.
TEST_F(MountedDisc, EveryNameIsKeptExactlyAndTimesKeepTheirFraction)
{
    MakeTree(Scratch / "disc",
             {FileEntry("line\r\nbreak", kTime, 1), FileEntry("bad\xFF", kTime, 2),
              FileEntry("bad\xFE", kTime, 3), FolderEntry("Müller \xC3", kTime),
              FileEntry("Müller \xC3/日本語.txt", kTime, 4), FileEntry(" leading", kTime, 5),
              FileEntry("😀", kTime, 6)});
    const timespec precise[2] = {{kTime, 123456789}, {kTime, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (Scratch / "disc/bad\xFF").c_str(), precise, 0), 0);
    const TCollectionNode& disc = Scan({}, 7);
    const std::string t = " t=" + std::to_string(FileTimeFromUnix(kTime)) + " s=";
    EXPECT_EQ(DumpScanned(Collection, disc, true),
              "E  leading" + t + "5\nF Müller \xEF\xBF\xBD" + t + "0\n  E 日本語.txt" + t +
                  "4\nE bad\xEF\xBF\xBD" + t +
                  "3\nE bad\xEF\xBF\xBD t=" + std::to_string(FileTimeFromUnix(kTime) + 1234567) +
                  " s=2\nE line␍␊break" + t + "1\nE 😀" + t + "6\n");

    // Shown alike, the two bad names are stored apart, each byte as it was.
    std::set<std::string> names;
    for (const uint32_t id : disc.Children)
        names.insert(Collection.GetNode(id).Name.str());
    EXPECT_EQ(names.size(), 6u);
    EXPECT_TRUE(names.contains("bad\x98"
                               "00DCFF"));
    EXPECT_TRUE(names.contains("bad\x98"
                               "00DCFE"));

    // Saved and loaded again, every name comes back byte for byte, each record on its line.
    const std::string text = Collection.SaveToText();
    TFendrel reloaded;
    ASSERT_TRUE(reloaded.LoadFromText(text));
    EXPECT_EQ(reloaded.SaveToText(), text);
    EXPECT_EQ(DumpScanned(reloaded, reloaded.GetNode(reloaded.Discs.at(0)), true),
              DumpScanned(Collection, disc, true));
}

TEST_F(MountedDisc, UnreadableFolderStaysEmptyAndTheWalkGoesOn)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    MakeTree(Scratch / "disc", {FolderEntry("locked", kTime), FileEntry("locked/secret", kTime, 1),
                                FolderEntry("z", kTime), FileEntry("z/open", kTime, 1)});
    ASSERT_EQ(::chmod((Scratch / "disc/locked").c_str(), 0), 0);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(Collection, Scan({}, 3), true),
              "F locked t=" + t + " s=0\nF z t=" + t + " s=0\n  E open t=" + t + " s=1\n");
}

TEST_F(MountedDisc, PathsLongerThanTheSystemLimitAreStillRead)
{
    // 1,100 levels of "abc/" make a path of 4,400 bytes, more than one call may name.
    MakeTree(Scratch / "disc", {});
    int fd = ::open((Scratch / "disc").c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 1100 && fd >= 0; ++level) {
        ::mkdirat(fd, "abc", 0755);
        const int next = ::openat(fd, "abc", O_RDONLY | O_DIRECTORY);
        ::close(std::exchange(fd, next));
    }
    ::close(::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644));
    ::close(fd);
    Scan({}, 1101);
    EXPECT_EQ(Collection.GetNode(Collection.LastId).Name.str(), "bottom");
}

// A chain of depth nested folders "abc" below folder, with a file "bottom" at its end.
void MakeChain(const std::string& folder, int depth)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        ::mkdirat(fd, "abc", 0755);
        const int next = ::openat(fd, "abc", O_RDONLY | O_DIRECTORY);
        ::close(std::exchange(fd, next));
    }
    ::close(::openat(fd, "bottom", O_WRONLY | O_CREAT, 0644));
    ::close(fd);
}

TEST_F(MountedDisc, DeepWalkKeepsFewDescriptorsOpen)
{
    MakeTree(Scratch / "disc", {});
    MakeChain(Scratch / "disc", 3000);
    // Room for 40 descriptors more than are open now: far fewer than the depth.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const auto open = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(open + 40);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const std::unique_ptr<IVolume> volume = Drives.OpenVolume('E');
    const int32_t count = volume ? Collection.ScanDisc("deep", *volume) : -1;
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(count, 3001);
}

// Forwards to a volume; the first time the walk opens a folder deeper than depth, the change
// runs with that folder's path.
class TChangingVolume final : public IVolume {
public:
    TChangingVolume(IVolume& volume, size_t depth, std::function<void(const std::string&)> change)
        : Volume_(volume)
        , Depth_(depth)
        , Change_(std::move(change))
    {
    }
    [[nodiscard]] std::string Label() const override { return Volume_.Label(); }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        return Volume_.OpenFolder(path);
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override
    {
        if (Change_ && static_cast<size_t>(std::count(path.begin(), path.end(), '/')) > Depth_)
            std::exchange(Change_, nullptr)(path);
        return Volume_.OpenSubfolder(listing, rawName, path);
    }

private:
    IVolume& Volume_;
    size_t Depth_;
    std::function<void(const std::string&)> Change_;
};

// Two long chains side by side; near the bottom of the first, a folder high in that chain is
// moved away. The way back up through ".." then leads elsewhere: the walk notices, and reads the
// second chain where it is.
TEST_F(MountedDisc, FolderMovedDuringTheWalkDoesNotMisleadIt)
{
    MakeTree(Scratch / "disc",
             {FolderEntry("top", kTime), FolderEntry("top/p", kTime), FolderEntry("top/q", kTime)});
    MakeChain(Scratch / "disc/top/p", 30);
    MakeChain(Scratch / "disc/top/q", 30);
    const std::unique_ptr<IVolume> folder = Drives.OpenVolume('E');
    ASSERT_NE(folder, nullptr);
    TChangingVolume volume(*folder, 25, [&](const std::string& path) {
        const std::string chain = Scratch / "disc/top/" + path.substr(5, 1); // "/top/p/..."
        std::filesystem::rename(chain + "/abc", Scratch / "disc/moved");
    });
    EXPECT_EQ(Collection.ScanDisc("moving", volume), 3 + 2 * 31);
}

// Runs body in a child process with a mount namespace of its own, where it may mount file
// systems; the child's exit code, or nothing when the system allows no such namespace.
std::optional<int> InMountNamespace(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        bool entered = uid == 0 && ::unshare(CLONE_NEWNS) == 0;
        if (!entered && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
            entered = true;
        }
        // Mounts made here must not reach the rest of the machine.
        if (!entered || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 77)
        return std::nullopt;
    return WEXITSTATUS(status);
}

// A file system mounted inside the folder, and a bind mount of another folder, are listed as
// empty folders: the walk stays where the disc is.
TEST_F(MountedDisc, OtherFileSystemsInsideAreNotEntered)
{
    MakeTree(Scratch / "disc", {FolderEntry("inner", kTime), FolderEntry("bound", kTime),
                                FolderEntry("plain", kTime), FileEntry("plain/p.txt", kTime, 1)});
    MakeTree(Scratch / "other", {FileEntry("other.txt", kTime, 2)});
    const std::string result = Scratch / "result.txt";
    const std::optional<int> exit = InMountNamespace([&] {
        if (::mount("none", (Scratch / "disc/inner").c_str(), "tmpfs", 0, nullptr) != 0 ||
            ::mount((Scratch / "other").c_str(), (Scratch / "disc/bound").c_str(), nullptr, MS_BIND,
                    nullptr) != 0)
            return 77;
        MakeTree(Scratch / "disc/inner", {FileEntry("mounted.txt", kTime, 3)});
        const std::unique_ptr<IVolume> volume = Drives.OpenVolume('E');
        if (!volume)
            return 1;
        const int32_t count = Collection.ScanDisc("disc", *volume);
        std::ofstream(result) << count << '\n'
                              << DumpScanned(Collection, Collection.GetNode(Collection.Discs[0]),
                                             true);
        return 0;
    });
    if (!exit)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_EQ(exit, 0);
    std::ostringstream text;
    text << std::ifstream(result).rdbuf();
    // Mounted roots show their own times; only names and contents matter here.
    std::string shown = text.str();
    for (size_t at = 0; (at = shown.find(" t=", at)) != std::string::npos;)
        shown.erase(at, shown.find(' ', at + 1) - at);
    EXPECT_EQ(shown, "4\nF bound s=0\nF inner s=0\nF plain s=0\n  E p.txt s=1\n");
}

// A removable medium: the label is the file system's own where udev knows it, else the name of
// the folder it is mounted at. Any other folder is proposed under its own name.
TEST(FolderLabel, IsTheFileSystemLabelAtAMountPointAndTheFolderNameElsewhere)
{
    TScratchFolder scratch;
    MakeTree(scratch / "media/USB STICK", {FolderEntry("DCIM", kTime)});
    MakeTree(scratch / "by-label", {});
    EXPECT_EQ(FolderLabel(scratch / "media/USB STICK", scratch / "by-label"), "USB STICK");
    EXPECT_EQ(FolderLabel(scratch / "media/USB STICK/", scratch / "by-label"), "USB STICK");
    EXPECT_EQ(FolderLabel(scratch / "media/USB STICK/DCIM/..", scratch / "by-label"), "USB STICK");
    MakeTree(scratch / "media/Фото", {});
    EXPECT_EQ(FolderLabel(scratch / "media/Фото", scratch / "by-label"), Ansi("Фото"));
    EXPECT_EQ(FolderLabel("/", scratch / "by-label"), "");

    const std::string result = scratch / "result.txt";
    const std::optional<int> exit = InMountNamespace([&] {
        const std::string medium = scratch / "media/USB STICK";
        if (::mount("none", medium.c_str(), "tmpfs", 0, nullptr) != 0)
            return 77;
        std::ofstream out(result);
        out << AnsiToUtf8(FolderLabel(medium, scratch / "by-label")) << "\n";
        // udev's entry for the medium: a device node of its number, named by its label.
        struct stat status {};
        ::stat(medium.c_str(), &status);
        const std::string node =
            scratch / "by-label/\\xd0\\xa4\\xd0\\xbe\\xd1\\x82\\xd0\\xbe\\x202004";
        if (::mknod(node.c_str(), S_IFBLK | 0600, status.st_dev) == 0)
            out << AnsiToUtf8(FolderLabel(medium, scratch / "by-label")) << "\n";
        MakeTree(medium, {FolderEntry("DCIM", kTime)});
        out << FolderLabel(medium + "/DCIM", scratch / "by-label") << "\n";
        return 0;
    });
    if (!exit)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_EQ(exit, 0);
    std::ostringstream text;
    text << std::ifstream(result).rdbuf();
    // The device node can be made only by root.
    EXPECT_TRUE(text.str() == "USB STICK\nФото 2004\nDCIM\n" || text.str() == "USB STICK\nDCIM\n")
        << text.str();
}

} // namespace
