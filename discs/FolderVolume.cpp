#include "discs/FolderVolume.h"

#include "discs/Drives.h"
#include "platform/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <vector>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Descriptors kept for the folders nearest the one the walk stands in; levels above them are
// reached again through "..".
constexpr size_t kKeptLevels = 16;

// Which folder a descriptor names, and on which mount it lies.
struct TFolderIdentity {
    dev_t Device = 0;
    uint64_t Inode = 0;
    std::optional<uint64_t> Mount; // the mount's id, where the kernel tells it

    [[nodiscard]] bool SameFolder(const TFolderIdentity& other) const
    {
        return Device == other.Device && Inode == other.Inode;
    }
    // A bind mount of a folder of the same file system has a mount of its own, though not a
    // device of its own.
    [[nodiscard]] bool SameMount(const TFolderIdentity& other) const
    {
        if (Mount && other.Mount)
            return *Mount == *other.Mount;
        return Device == other.Device;
    }
};

std::optional<TFolderIdentity> IdentityOf(int fd)
{
    struct statx extended {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &extended) == 0) {
        TFolderIdentity identity;
        identity.Device = makedev(extended.stx_dev_major, extended.stx_dev_minor);
        identity.Inode = extended.stx_ino;
        if (extended.stx_mask & STATX_MNT_ID)
            identity.Mount = extended.stx_mnt_id;
        return identity;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return TFolderIdentity{status.st_dev, status.st_ino, std::nullopt};
}

// The folder a walk stands in, reached from the root one name at a time. A depth-first walk asks
// for each folder next to the last one (a child, or a child of an ancestor), so getting there up
// through ".." and down by name costs a step a level moved: the whole walk is linear in the size
// of the tree, however deep it is, while only a few descriptors are open. A level reached again
// through ".." must be the folder that was left, or the walk starts again from the root.
class TFolderCursor {
public:
    TFolderCursor(TUniqueFd root, TFolderIdentity identity)
        : Root_(std::move(root))
    {
        Levels_.push_back({identity, NextSerial_++});
    }

    // Where a folder was found: its depth and the serial number of that visit.
    struct TPlace {
        size_t Depth = 0;
        uint64_t Serial = 0;
    };

    // Goes to the folder at relative (names separated by "/") below the root; its descriptor, or
    // nothing when a folder on the way cannot be opened.
    std::optional<int> MoveTo(std::string_view relative)
    {
        Levels_.resize(1);
        Open_.clear();
        while (!relative.empty()) {
            const size_t slash = relative.find('/');
            const std::string_view name = relative.substr(0, slash);
            relative.remove_prefix(slash == std::string_view::npos ? relative.size() : slash + 1);
            if (!name.empty() && !Down(name))
                return std::nullopt;
        }
        return Current();
    }

    // Goes to the subfolder name of the folder found at place; nothing when it cannot be opened,
    // and also when the walk no longer passes through that folder (the caller then goes by path).
    std::optional<int> MoveToChild(TPlace place, std::string_view name, bool& lost)
    {
        lost = place.Depth >= Levels_.size() || Levels_[place.Depth].Serial != place.Serial;
        if (lost)
            return std::nullopt;
        while (Levels_.size() - 1 > place.Depth) {
            if (!Up()) {
                lost = true;
                return std::nullopt;
            }
        }
        if (!Down(name))
            return std::nullopt;
        return Current();
    }

    [[nodiscard]] TPlace Here() const { return {Levels_.size() - 1, Levels_.back().Serial}; }
    [[nodiscard]] int Root() const { return Root_.Get(); }

private:
    struct TLevel {
        TFolderIdentity Identity;
        uint64_t Serial;
    };

    [[nodiscard]] int Current() const { return Open_.empty() ? Root_.Get() : Open_.back().Get(); }

    // Into the subfolder name: never through a link, never onto another file system.
    bool Down(std::string_view name)
    {
        if (name == "." || name == ".." || name.find('\0') != std::string_view::npos)
            return false;
        TUniqueFd folder(::openat(Current(), std::string(name).c_str(), kFolderFlags));
        if (!folder)
            return false;
        const std::optional<TFolderIdentity> identity = IdentityOf(folder.Get());
        if (!identity || !identity->SameMount(Levels_.front().Identity))
            return false;
        Levels_.push_back({*identity, NextSerial_++});
        Open_.push_back(std::move(folder));
        if (Open_.size() > kKeptLevels)
            Open_.pop_front();
        return true;
    }

    // To the parent; false when it cannot be reached or is not the folder that was left.
    bool Up()
    {
        const size_t depth = Levels_.size() - 1; // more than 0: the root has no parent here
        if (Open_.size() == 1 && depth > 1) {
            TUniqueFd parent(::openat(Open_.back().Get(), "..", kFolderFlags));
            const std::optional<TFolderIdentity> identity =
                parent ? IdentityOf(parent.Get()) : std::nullopt;
            if (!identity || !identity->SameFolder(Levels_[depth - 1].Identity))
                return false;
            Open_.push_front(std::move(parent));
        }
        Open_.pop_back();
        Levels_.pop_back();
        return true;
    }

    TUniqueFd Root_;
    std::vector<TLevel> Levels_; // the root and each folder down to where the walk stands
    std::deque<TUniqueFd> Open_; // descriptors of the deepest levels below the root
    uint64_t NextSerial_ = 0;
};

struct TDirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Reads the entries of the open folder through a descriptor of its own. "." and ".." are left
// out.
std::vector<TFindData> ReadEntries(int folder)
{
    std::vector<TFindData> entries;
    TUniqueFd own(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!own)
        return entries;
    std::unique_ptr<DIR, TDirCloser> dir(::fdopendir(own.Get()));
    if (!dir)
        return entries;
    (void)own.Release();    // the DIR owns it now
    ::rewinddir(dir.get()); // the copy shares its position with the folder's descriptor
    const int dirFd = ::dirfd(dir.get());
    while (const dirent* found = ::readdir(dir.get())) {
        const std::string_view raw = found->d_name;
        if (raw == "." || raw == "..")
            continue;
        TFindData entry;
        struct stat status {};
        if (::fstatat(dirFd, found->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.IsFolder = S_ISDIR(status.st_mode);
            entry.LastWriteTime = FileTimeFromUnix(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
            // Folders, links and special files have no size of their own to record.
            entry.Size = S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
        } else if (errno == ENOENT) {
            continue; // removed since the folder was read
        } else {
            // Listed but not accessible (a folder without search permission): keep what the
            // listing tells.
            entry.IsFolder = found->d_type == DT_DIR;
        }
        entry.RawName = raw;
        entry.Name = NameFromDisc(raw);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// A file of the folder, read through a descriptor of its own.
class TFolderFile final : public IFileContent {
public:
    TFolderFile(TUniqueFd fd, bool ordinary)
        : Fd_(std::move(fd))
        , Ordinary_(ordinary)
    {
        if (Ordinary_)
            (void)::posix_fadvise(Fd_.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    [[nodiscard]] std::optional<size_t> Read(uint64_t offset, std::span<uint8_t> out) override
    {
        if (!Ordinary_)
            return 0;
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = ::pread(Fd_.Get(), out.data() + done, out.size() - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return std::nullopt;
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        return done;
    }
    [[nodiscard]] bool Ordinary() const override { return Ordinary_; }

private:
    TUniqueFd Fd_;
    bool Ordinary_;
};

// Opens the file at path below root without following a symbolic link on the way and without
// leaving the root's mount, as the walk that listed it did. A pipe is opened without waiting for
// its writer.
TUniqueFd OpenBelow(int root, std::string_view path)
{
    while (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    const std::string relative(path);
    open_how how{};
    how.flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS)
        return TUniqueFd(static_cast<int>(fd));
    // Kernels before 5.6: only the file itself is kept from being a link.
    return TUniqueFd(::openat(root, relative.c_str(), static_cast<int>(how.flags)));
}

class TFolderVolume;

// A folder read whole when opened, so that no descriptor stays open for it while the scan walks
// its subfolders; it remembers where the walk found it, to open those from there.
class TFolderListing final : public IFolderListing {
public:
    TFolderListing(const TFolderVolume& volume, TFolderCursor::TPlace place,
                   std::vector<TFindData> entries)
        : Volume(&volume)
        , Place(place)
        , Entries_(std::move(entries))
    {
    }
    bool Next(TFindData& entry) override
    {
        if (Next_ == Entries_.size())
            return false;
        entry = std::move(Entries_[Next_++]);
        return true;
    }

    const TFolderVolume* Volume; // the volume that gave the listing; not owned
    TFolderCursor::TPlace Place;

private:
    std::vector<TFindData> Entries_;
    size_t Next_ = 0;
};

class TFolderVolume final : public IVolume {
public:
    TFolderVolume(TUniqueFd root, TFolderIdentity identity, std::string label)
        : Cursor_(std::move(root), identity)
        , Label_(std::move(label))
    {
    }
    [[nodiscard]] std::string Label() const override { return Label_; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        return ListHere(Cursor_.MoveTo(path));
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override
    {
        const auto* own = dynamic_cast<const TFolderListing*>(&listing);
        if (!own || own->Volume != this)
            return OpenFolder(path);
        bool lost = false;
        const std::optional<int> folder = Cursor_.MoveToChild(own->Place, rawName, lost);
        if (lost)
            return OpenFolder(path);
        return ListHere(folder);
    }
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        (void)where;
        TUniqueFd fd = OpenBelow(Cursor_.Root(), path);
        if (!fd) {
            // A symbolic link is listed as a file of no content.
            if (errno == ELOOP)
                return std::make_unique<TFolderFile>(TUniqueFd(), false);
            return nullptr;
        }
        struct stat status {};
        if (::fstat(fd.Get(), &status) != 0)
            return nullptr;
        const bool ordinary = S_ISREG(status.st_mode);
        return std::make_unique<TFolderFile>(ordinary ? std::move(fd) : TUniqueFd(), ordinary);
    }

private:
    std::unique_ptr<IFolderListing> ListHere(std::optional<int> folder)
    {
        if (!folder)
            return nullptr;
        return std::make_unique<TFolderListing>(*this, Cursor_.Here(), ReadEntries(*folder));
    }

    TFolderCursor Cursor_;
    std::string Label_;
};

} // namespace

std::unique_ptr<IVolume> OpenFolderVolume(const std::string& folder, std::string label)
{
    TUniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return nullptr;
    const std::optional<TFolderIdentity> identity = IdentityOf(root.Get());
    if (!identity)
        return nullptr;
    return std::make_unique<TFolderVolume>(std::move(root), *identity, std::move(label));
}

std::string FolderLabel(const std::string& folder, const std::string& byLabel)
{
    TUniqueFd self(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (self) {
        const TUniqueFd parent(::openat(self.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        const std::optional<TFolderIdentity> here = IdentityOf(self.Get());
        const std::optional<TFolderIdentity> above =
            parent ? IdentityOf(parent.Get()) : std::nullopt;
        // The root of the whole tree is its own parent.
        const bool mountPoint =
            here && (!above || !here->SameMount(*above) || here->SameFolder(*above));
        if (mountPoint) {
            if (const std::optional<std::string> label = UdevLabelOf(here->Device, byLabel))
                return NameFromDisc(*label);
        }
    }
    std::string_view name = folder;
    while (name.size() > 1 && name.back() == '/')
        name.remove_suffix(1);
    if (const size_t slash = name.rfind('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    if (name == "." || name == "..") {
        char resolved[PATH_MAX];
        if (::realpath(folder.c_str(), resolved))
            return FolderLabel(resolved, byLabel);
        name = {};
    }
    return NameFromDisc(name);
}
