// fendrel-mount run as a program, mounting for real. Skips where the machine has no FUSE; every
// mount is undone when its test ends, however it ends.
#include "Nodes.h"
#include "support/DiscTrees.h"

#include "collection/Fendrel.h"
#include "discs/Drives.h"
#include "platform/AnsiText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

extern char** environ;

namespace {

using namespace std::chrono_literals;

// 1 February 2005 05:07:09 UTC as a FILETIME, and as seconds since 1970.
constexpr uint64_t kFeb = 0x01C5081BE17AFC80;
constexpr int64_t kFebSeconds = 1107234429;

bool MachineHasFuse()
{
    if (::access("/dev/fuse", F_OK) != 0)
        return false;
    return std::system("command -v fusermount3 >/dev/null 2>&1") == 0;
}

#define SKIP_WITHOUT_FUSE()                                                                        \
    if (!MachineHasFuse())                                                                         \
    GTEST_SKIP() << "this machine has no /dev/fuse or no fusermount3: the mount is not tried"

bool IsMountPoint(const std::string& folder)
{
    std::error_code error;
    const fs::path real = fs::canonical(folder, error);
    return !error && MountedDeviceAt(real.string(), ReadMountInfo()).has_value();
}

void Unmount(const std::string& folder, bool lazy)
{
    const std::string command =
        std::string("fusermount3 -u ") + (lazy ? "-z " : "") + "'" + folder + "' 2>/dev/null";
    (void)std::system(command.c_str());
}

// A run of fendrel-mount: mounted on construction, when it can be, and unmounted on destruction
// whatever the test did.
class TMountRun {
public:
    TMountRun(const std::vector<std::string>& arguments, std::string folder, std::string err)
        : Folder_(std::move(folder))
        , Err_(std::move(err))
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, Err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<std::string> all{FENDREL_MOUNT_PROGRAM};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&Child_, all[0].c_str(), &actions, nullptr, argv.data(), environ) != 0)
            Child_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        // Mounted, or given up: the program ended, or it took far too long.
        for (auto until = std::chrono::steady_clock::now() + 20s;
             Child_ != 0 && std::chrono::steady_clock::now() < until;
             std::this_thread::sleep_for(20ms)) {
            if (IsMountPoint(Folder_)) {
                Mounted_ = true;
                break;
            }
            if (Reap(false))
                break;
        }
    }
    ~TMountRun()
    {
        if (Child_ == 0 || Status_)
            return;
        Unmount(Folder_, false);
        if (Wait(10s))
            return;
        ::kill(Child_, SIGKILL);
        Unmount(Folder_, true);
        (void)Wait(10s);
    }
    TMountRun(const TMountRun&) = delete;
    TMountRun& operator=(const TMountRun&) = delete;

    [[nodiscard]] bool Mounted() const { return Mounted_; }
    // Unmounts the folder and returns the program's exit status (-1 when it did not end).
    int Stop()
    {
        if (!Status_) {
            Unmount(Folder_, false);
            (void)Wait(10s);
        }
        return Status_.value_or(-1);
    }
    // Waits for the program to end by itself.
    int Ended()
    {
        (void)Wait(20s);
        return Status_.value_or(-1);
    }
    [[nodiscard]] std::string Err() const { return FileContent(Err_); }

private:
    bool Reap(bool block)
    {
        int status = 0;
        if (::waitpid(Child_, &status, block ? 0 : WNOHANG) != Child_)
            return false;
        Status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    bool Wait(std::chrono::milliseconds most)
    {
        for (auto until = std::chrono::steady_clock::now() + most;
             std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
            if (Status_ || Reap(false))
                return true;
        }
        return false;
    }

    std::string Folder_;
    std::string Err_;
    pid_t Child_ = 0;
    bool Mounted_ = false;
    std::optional<int> Status_;
};

uint32_t Add(TFendrel& collection, uint32_t parent, uint32_t kind, const std::string& utf8,
             uint64_t size = 0, uint64_t time = kFeb)
{
    return AddEntry(collection, parent, kind, utf8, size, time);
}

// Writes the collection as another program saves it: a new file renamed over the old one.
void Save(TFendrel& collection, const std::string& path)
{
    const std::string temporary = path + ".new";
    std::ofstream(temporary, std::ios::binary) << collection.SaveToText();
    fs::rename(temporary, path);
}

// Every entry below root: "path d|f size mtime", sorted.
std::vector<std::string> Listing(const std::string& root)
{
    std::vector<std::string> lines;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0)
            continue;
        lines.push_back(fs::relative(entry.path(), root).string() +
                        (S_ISDIR(status.st_mode) ? " d " : " f ") + std::to_string(status.st_size) +
                        " " + std::to_string(status.st_mtim.tv_sec));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The error's text in angle brackets, as Attribute gives a failure.
std::string Failure(int error)
{
    std::string text(1, '<');
    text += std::strerror(error);
    text += '>';
    return text;
}

std::string Attribute(const std::string& path, const char* name)
{
    char value[4096];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? Failure(errno) : std::string(value, static_cast<size_t>(size));
}

// The error an open for reading ends with; 0 when it opened.
int OpenError(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

// Waits until check holds, a few seconds at most.
bool Eventually(const std::function<bool()>& check)
{
    for (auto until = std::chrono::steady_clock::now() + 8s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
        if (check())
            return true;
    }
    return check();
}

class MountTool : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(Mount()); }
    [[nodiscard]] std::string Mount() const { return Scratch / "mnt"; }
    [[nodiscard]] std::string M(const std::string& relative) const
    {
        return Mount() + "/" + relative;
    }
    std::unique_ptr<TMountRun> Run(std::vector<std::string> arguments)
    {
        arguments.push_back(Mount());
        return std::make_unique<TMountRun>(arguments, Mount(), Scratch / "err.txt");
    }

    TScratchFolder Scratch;
};

} // namespace

TEST_F(MountTool, TheTreeSizesTimesAndAttributesAreTheCollections)
{
    SKIP_WITHOUT_FUSE();
    TFendrel collection;
    const uint32_t photos = Add(collection, 0, nfDisc, "Фото");
    const uint32_t summer = Add(collection, photos, nfFolder, "Лето 2005");
    const uint32_t big = Add(collection, summer, nfFile, "фильм.mkv", uint64_t{5} << 30);
    collection.Checksums[big] = {0x0123456789ABCDEF, 0xFEDCBA9876543210};
    Add(collection, summer, nfFile, "IMG.JPG", 304'114);
    Add(collection, summer, nfFile, "IMG.JPG", 7); // twins, as a file made elsewhere may hold
    std::string odd = "caf";
    AppendEscape(odd, kRawByteEscapes + 0xE9); // a byte that was not UTF-8
    TCollectionNode& oddNode = collection.GetNode(Add(collection, photos, nfFile, "x", 1));
    oddNode.Name = odd;
    Add(collection, photos, nfFile, "a/b", 2);
    Add(collection, 0, nfDisc, "Фото"); // a second disc of that title
    const std::string file = Scratch / "discs.frl";
    Save(collection, file);

    const auto run = Run({file});
    ASSERT_TRUE(run->Mounted()) << run->Err();
    const std::string feb = std::to_string(kFebSeconds);
    struct stat savedFile {};
    ASSERT_EQ(::stat(file.c_str(), &savedFile), 0);
    const std::string saved = std::to_string(savedFile.st_mtim.tv_sec);
    const std::vector<std::string> expected{
        "Фото (2) d 0 " + saved,
        "Фото d 0 " + saved,
        "Фото/a\u2215b f 2 " + feb,
        "Фото/caf\uFFFD f 1 " + feb,
        "Фото/Лето 2005 d 0 " + feb,
        "Фото/Лето 2005/IMG (2).JPG f 7 " + feb,
        "Фото/Лето 2005/IMG.JPG f 304114 " + feb,
        "Фото/Лето 2005/фильм.mkv f 5368709120 " + feb,
    };
    std::vector<std::string> sorted = expected;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Listing(Mount()), sorted);

    const std::string movie = M("Фото/Лето 2005/фильм.mkv");
    EXPECT_EQ(Attribute(movie, "user.fendrel.disc"), "Фото");
    EXPECT_EQ(Attribute(movie, "user.fendrel.path"), "\\Лето 2005\\фильм.mkv");
    EXPECT_EQ(Attribute(movie, "user.fendrel.xxh128"), "FEDCBA98765432100123456789ABCDEF");
    EXPECT_EQ(Attribute(M("Фото/Лето 2005/IMG.JPG"), "user.fendrel.xxh128"), Failure(ENODATA));
    char names[256];
    const ssize_t size = ::listxattr(movie.c_str(), names, sizeof names);
    ASSERT_GT(size, 0);
    EXPECT_EQ(std::string(names, size),
              std::string("user.fendrel.disc\0user.fendrel.path\0user.fendrel.xxh128\0", 56));

    // Nothing is ever written.
    EXPECT_EQ(::open(M("Фото/new.txt").c_str(), O_WRONLY | O_CREAT, 0600), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::open(movie.c_str(), O_WRONLY), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(run->Stop(), 0);
}

TEST_F(MountTool, SeveralCollectionsHaveAFolderEach)
{
    SKIP_WITHOUT_FUSE();
    fs::create_directory(Scratch / "other");
    TFendrel first;
    Add(first, 0, nfDisc, "Backup");
    Save(first, Scratch / "discs.frl");
    TFendrel second;
    Add(second, Add(second, 0, nfDisc, "Backup"), nfFile, "a.txt", 3);
    Save(second, Scratch / "other/discs.frl");
    const auto run = Run({Scratch / "discs.frl", Scratch / "other/discs.frl"});
    ASSERT_TRUE(run->Mounted()) << run->Err();
    std::vector<std::string> names;
    for (std::string line : Listing(Mount())) {
        for (int field = 0; field < 3; ++field) // the kind, the size and the time
            line.erase(line.rfind(' '));
        names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("discs", "discs (2)", "discs (2)/Backup",
                                   "discs (2)/Backup/a.txt", "discs/Backup"));
}

TEST_F(MountTool, AFileIsReadFromItsMediumWhenItIsThereAndFailsLoudlyWhenNot)
{
    SKIP_WITHOUT_FUSE();
    MakeTree(Scratch / "stick", {FolderEntry("Docs", 1000), FileEntry("Docs/empty.txt", 1000, 0)});
    WriteFileAt(Scratch / "stick/Docs/a.txt", "the real bytes\n", 1000);
    WriteFileAt(Scratch / "stick/b.txt", "twelve bytes", 1000);
    MakeTree(Scratch / "gone", {FileEntry("c.txt", 1000, 5)});
    MakeTree(Scratch / "iso", {FolderEntry("Music", 1000)});
    WriteFileAt(Scratch / "iso/Music/track.txt", "from the image\n", 1000);
    const std::string image = Scratch / "disc.iso";
    ASSERT_EQ(std::system(("xorriso -outdev '" + image + "' -map '" + (Scratch / "iso") +
                           "' / >/dev/null 2>&1")
                              .c_str()),
              0);

    TFendrel collection;
    TDriveTable drives;
    for (const auto& [title, volume] : {std::pair{"Флешка", drives.OpenFolder(Scratch / "stick")},
                                        std::pair{"Пропавший", drives.OpenFolder(Scratch / "gone")},
                                        std::pair{"Образ", drives.OpenImage(image)}}) {
        ASSERT_TRUE(volume);
        collection.ScanDisc(Ansi(title), *volume);
    }
    const std::string file = Scratch / "discs.frl";
    Save(collection, file);
    fs::remove_all(Scratch / "gone");
    WriteFileAt(Scratch / "stick/b.txt", "now longer than twelve", 1000);

    const auto run = Run({file});
    ASSERT_TRUE(run->Mounted()) << run->Err();
    EXPECT_EQ(FileContent(M("Флешка/Docs/a.txt")), "the real bytes\n");
    EXPECT_EQ(FileContent(M("Образ/Music/track.txt")), "from the image\n");
    EXPECT_EQ(OpenError(M("Флешка/Docs/empty.txt")), 0);
    EXPECT_EQ(OpenError(M("Пропавший/c.txt")), ENOMEDIUM);
    EXPECT_EQ(OpenError(M("Флешка/b.txt")), ESTALE); // changed since it was recorded
    // cp makes no empty copy of a file whose medium is away.
    EXPECT_NE(
        std::system(
            ("cp '" + M("Пропавший/c.txt") + "' '" + (Scratch / "copy") + "' 2>/dev/null").c_str()),
        0);
    EXPECT_FALSE(fs::exists(Scratch / "copy"));
    EXPECT_EQ(run->Stop(), 0);

    const auto without = Run({"--no-content", file});
    ASSERT_TRUE(without->Mounted()) << without->Err();
    EXPECT_EQ(OpenError(M("Флешка/Docs/a.txt")), ENOMEDIUM);
}

TEST_F(MountTool, ASaveByAnotherProgramIsShownAndADamagedOneKeepsTheLastView)
{
    SKIP_WITHOUT_FUSE();
    TFendrel collection;
    const uint32_t disc = Add(collection, 0, nfDisc, "Backup");
    const uint32_t docs = Add(collection, disc, nfFolder, "Docs");
    Add(collection, docs, nfFile, "a.txt", 3);
    const std::string file = Scratch / "discs.frl";
    Save(collection, file);
    const auto run = Run({file});
    ASSERT_TRUE(run->Mounted()) << run->Err();
    struct stat before {};
    ASSERT_EQ(::stat(M("Backup/Docs/a.txt").c_str(), &before), 0);
    // A shell standing in a folder of the mount, which it has listed, keeps it across a save.
    const int standing = ::open(M("Backup/Docs").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(standing, 0);
    EXPECT_EQ(Listing(M("Backup/Docs")).size(), 1U);

    Add(collection, docs, nfFile, "b.txt", 4); // the folder keeps its recorded time
    Add(collection, 0, nfDisc, "Новый");
    Save(collection, file);
    EXPECT_TRUE(Eventually([&] { return fs::exists(M("Новый")); }));
    struct stat after {};
    ASSERT_EQ(::stat(M("Backup/Docs/a.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    struct stat inside {};
    EXPECT_EQ(::fstatat(standing, "b.txt", &inside, 0), 0);
    // Its listing is the new one too, once the kernel has been told to forget the old one (the
    // new disc may be seen a moment before).
    DIR* folder = ::fdopendir(standing);
    ASSERT_NE(folder, nullptr);
    std::vector<std::string> listed;
    EXPECT_TRUE(Eventually([&] {
        listed.clear();
        ::rewinddir(folder);
        while (const dirent* entry = ::readdir(folder))
            listed.emplace_back(entry->d_name);
        return listed.size() == 4;
    }));
    ::closedir(folder);
    std::sort(listed.begin(), listed.end());
    EXPECT_THAT(listed, ElementsAre(".", "..", "a.txt", "b.txt"));

    // Damaged: the last good view stays, and that is said.
    std::ofstream(file + ".new", std::ios::binary) << ";Fendrel File v1 begin\r\nD 0 0 0 Cut";
    fs::rename(file + ".new", file);
    EXPECT_TRUE(Eventually([&] { return run->Err().find("поврежден") != std::string::npos; }))
        << run->Err();
    EXPECT_TRUE(fs::exists(M("Новый")));
    EXPECT_TRUE(fs::exists(M("Backup/Docs/b.txt")));
    EXPECT_EQ(run->Stop(), 1);
}

TEST_F(MountTool, HostileCollectionsAreMountedAsFendrelFindReadsThem)
{
    SKIP_WITHOUT_FUSE();
    TFendrel collection;
    uint32_t at = Add(collection, 0, nfDisc, "deep");
    for (int level = 0; level < 300'000; ++level)
        at = Add(collection, at, nfFolder, "F");
    Add(collection, at, nfFile, "bottom.txt", 1);
    const std::string deep = Scratch / "deep.frl";
    Save(collection, deep);
    // A file of 2 GiB: a disc, then zeros (sparse), where the reader stops.
    const std::string huge = Scratch / "huge.frl";
    std::ofstream(huge, std::ios::binary) << ";Fendrel File v1 begin\r\nD 0 0 0 Big\r\n<\r\n";
    fs::resize_file(huge, uint64_t{2} << 30);

    const auto run = Run({deep, huge});
    ASSERT_TRUE(run->Mounted()) << run->Err();
    EXPECT_TRUE(fs::is_directory(M("huge/Big")));
    // A walk down a hundred levels, by file descriptors as find walks.
    int fd = ::open(M("deep/deep").c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 100 && fd >= 0; ++level) {
        const int next = ::openat(fd, "F", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    EXPECT_GE(fd, 0);
    std::string path = Attribute("/proc/self/fd/" + std::to_string(fd), "user.fendrel.path");
    EXPECT_EQ(path.size(), 200U);
    ::close(fd);
    EXPECT_EQ(run->Stop(), 0);
}

TEST_F(MountTool, WhatCannotBeMountedIsSaidWithExitCode2)
{
    SKIP_WITHOUT_FUSE();
    const auto missing = Run({Scratch / "missing.frl"});
    EXPECT_FALSE(missing->Mounted());
    EXPECT_EQ(missing->Ended(), 2);
    EXPECT_THAT(missing->Err(), HasSubstr("missing.frl: не удаётся открыть файл"));

    TFendrel collection;
    Save(collection, Scratch / "empty.frl");
    TMountRun noFolder({Scratch / "empty.frl", Scratch / "nowhere"}, Scratch / "nowhere",
                       Scratch / "err2.txt");
    EXPECT_EQ(noFolder.Ended(), 2);
    EXPECT_THAT(noFolder.Err(), HasSubstr("nowhere: нет такой папки"));

    const auto usage = Run({});
    EXPECT_EQ(usage->Ended(), 2);
    EXPECT_THAT(usage->Err(), HasSubstr("fendrel-mount --help"));
}
