#include "platform/FolderVolume.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the folder at relative (names separated by "/") below the folder base. A relative path
// too long for one call is opened a piece at a time, so depth never makes a folder unreadable.
TUniqueFd OpenFolderAt(int base, std::string_view relative)
{
    constexpr size_t longest = PATH_MAX - 1;
    TUniqueFd current;
    while (relative.size() > longest) {
        const size_t cut = relative.rfind('/', longest);
        if (cut == std::string_view::npos || cut == 0)
            return {};
        TUniqueFd next(::openat(current ? current.Get() : base,
                                std::string(relative.substr(0, cut)).c_str(), kFolderFlags));
        if (!next)
            return {};
        current = std::move(next);
        relative.remove_prefix(cut + 1);
    }
    const std::string last = relative.empty() ? std::string(".") : std::string(relative);
    return TUniqueFd(::openat(current ? current.Get() : base, last.c_str(), kFolderFlags));
}

struct TDirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// A folder read whole when opened, so that no descriptor stays open while the scan walks its
// subfolders: depth then costs memory only.
class TFolderListing final : public IFolderListing {
public:
    explicit TFolderListing(std::vector<TFindData> entries)
        : Entries_(std::move(entries))
    {
    }
    bool Next(TFindData& entry) override
    {
        if (Next_ == Entries_.size())
            return false;
        entry = std::move(Entries_[Next_++]);
        return true;
    }

private:
    std::vector<TFindData> Entries_;
    size_t Next_ = 0;
};

// Reads the entries of an open folder. "." and ".." are left out.
std::vector<TFindData> ReadEntries(TUniqueFd folder)
{
    std::vector<TFindData> entries;
    std::unique_ptr<DIR, TDirCloser> dir(::fdopendir(folder.Get()));
    if (!dir)
        return entries;
    (void)folder.Release(); // the DIR owns it now
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
            entry.SizeLow = S_ISREG(status.st_mode) ? static_cast<uint32_t>(status.st_size) : 0;
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

class TFolderVolume final : public IVolume {
public:
    TFolderVolume(TUniqueFd root, std::string label)
        : Root_(std::move(root))
        , Label_(std::move(label))
    {
    }
    [[nodiscard]] std::string Label() const override { return Label_; }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        std::string_view relative = path;
        while (!relative.empty() && relative.front() == '/')
            relative.remove_prefix(1);
        // Without the trailing "/", O_NOFOLLOW also refuses a link in the last place.
        while (!relative.empty() && relative.back() == '/')
            relative.remove_suffix(1);
        TUniqueFd folder = OpenFolderAt(Root_.Get(), relative);
        if (!folder)
            return nullptr;
        return std::make_unique<TFolderListing>(ReadEntries(std::move(folder)));
    }

private:
    TUniqueFd Root_;
    std::string Label_;
};

} // namespace

std::unique_ptr<IVolume> OpenFolderVolume(const std::string& folder, std::string label)
{
    TUniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return nullptr;
    return std::make_unique<TFolderVolume>(std::move(root), std::move(label));
}
