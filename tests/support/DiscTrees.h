#pragma once

// Folder trees and ISO 9660 images made during a test, and scanned trees written out as text so
// that a whole tree compares in one assertion with a readable difference.

#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "platform/Volume.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iconv.h>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// One entry of a tree to build: a folder, a file (sparse, of Size bytes) or a symbolic link.
struct TTreeEntry {
    std::string Path; // UTF-8, relative, names separated by "/"
    bool Folder = false;
    int64_t Time = 0;  // last write, seconds since 1970 (UTC)
    uint64_t Size = 0; // files only
    std::string Link;  // when not empty, the entry is a symbolic link to this target
};

[[nodiscard]] inline TTreeEntry FolderEntry(std::string path, int64_t time)
{
    return {std::move(path), true, time, 0, {}};
}
[[nodiscard]] inline TTreeEntry FileEntry(std::string path, int64_t time, uint64_t size)
{
    return {std::move(path), false, time, size, {}};
}
[[nodiscard]] inline TTreeEntry LinkEntry(std::string path, int64_t time, std::string target)
{
    return {std::move(path), false, time, 0, std::move(target)};
}

// A temporary folder, removed with everything in it.
class TScratchFolder {
public:
    TScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fendrel-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        Path = pattern;
    }
    ~TScratchFolder()
    {
        // Folders a test made unreadable, and trees deeper than a path may name, go too.
        const std::string command =
            "chmod -R u+rwx '" + Path + "' 2>/dev/null; rm -rf '" + Path + "'";
        (void)std::system(command.c_str());
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    [[nodiscard]] std::string operator/(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
};

// Makes the entries below root, parents before children, then gives each its time.
inline void MakeTree(const std::string& root, const std::vector<TTreeEntry>& entries)
{
    std::filesystem::create_directories(root);
    for (const TTreeEntry& entry : entries) {
        const std::string path = root + "/" + entry.Path;
        if (entry.Folder) {
            std::filesystem::create_directory(path);
        } else if (!entry.Link.empty()) {
            std::filesystem::create_symlink(entry.Link, path);
        } else {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(entry.Size)) != 0)
                throw std::runtime_error("cannot make " + path);
            ::close(fd);
        }
    }
    // Children first: making a child changes its folder's time.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const timespec times[2] = {{it->Time, 0}, {it->Time, 0}};
        ::utimensat(AT_FDCWD, (root + "/" + it->Path).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

// Writes an ISO 9660 image of the folder source with xorriso. Only the image's first 16 MiB are
// kept: they hold every directory, which is all a scan reads, so a tree of huge sparse files
// costs neither time nor disk space.
inline void MakeIsoImage(const std::string& source, const std::string& image,
                         const std::string& options)
{
    const std::string command = "LC_ALL=C.UTF-8 xorriso -outdev - " + options + " -map '" + source +
                                "' / 2>/dev/null | head -c 16777216 > '" + image + "'";
    if (std::system(command.c_str()) != 0 || std::filesystem::file_size(image) == 0)
        throw std::runtime_error("xorriso could not write " + image);
}

// Sibling orders for the expected tree.
enum class TOrder {
    Joliet,  // as a Joliet directory stores them: by UTF-16 code units
    ByBytes, // by the bytes of the 8-bit names (for listings in no defined order)
};

namespace disc_trees_detail {

inline std::string Utf16BigEndian(const std::string& utf8)
{
    iconv_t cd = ::iconv_open("UTF-16BE", "UTF-8");
    std::string out(utf8.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = out.data();
    size_t outLeft = out.size();
    ::iconv(cd, &in, &inLeft, &to, &outLeft);
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

struct TLine {
    std::string Name; // 8-bit
    std::string Text;
    std::vector<TLine> Children;
};

inline std::string LineText(bool folder, const std::string& ansiName, uint64_t time, uint32_t size)
{
    return std::string(folder ? "F " : "E ") + AnsiToUtf8(ansiName) + " t=" + std::to_string(time) +
           " s=" + std::to_string(size);
}

inline void Write(std::vector<TLine>& lines, bool sortByBytes, std::string& out, int depth)
{
    if (sortByBytes)
        std::sort(lines.begin(), lines.end(),
                  [](const TLine& a, const TLine& b) { return a.Name < b.Name; });
    for (TLine& line : lines) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + line.Text + "\n";
        Write(line.Children, sortByBytes, out, depth + 1);
    }
}

} // namespace disc_trees_detail

// The tree below node as text: one line per folder (F) or file (E) with its name, FILETIME and
// size, indented by depth. sortByBytes puts siblings in byte order first.
inline std::string DumpScanned(const TFendrel& collection, const TCollectionNode& node,
                               bool sortByBytes = false)
{
    using disc_trees_detail::TLine;
    const std::function<std::vector<TLine>(const TCollectionNode&)> lines =
        [&](const TCollectionNode& parent) {
            std::vector<TLine> result;
            for (const uint32_t id : parent.Children) {
                const TCollectionNode& child = collection.GetNode(id);
                const uint64_t time = (uint64_t{child.WriteTimeHigh} << 32) | child.WriteTimeLow;
                result.push_back({child.Name.str(),
                                  disc_trees_detail::LineText(child.Is(nfFolder), child.Name.str(),
                                                              time, child.Size),
                                  lines(child)});
            }
            return result;
        };
    std::vector<TLine> top = lines(node);
    std::string out;
    disc_trees_detail::Write(top, sortByBytes, out, 0);
    return out;
}

// What a scan of the entries should give, in the same form. Links are files of size 0.
inline std::string DumpExpected(const std::vector<TTreeEntry>& entries, TOrder order)
{
    using disc_trees_detail::TLine;
    struct TItem {
        const TTreeEntry* Entry;
        std::string Key;
    };
    std::map<std::string, std::vector<TItem>> byParent;
    for (const TTreeEntry& entry : entries) {
        const size_t slash = entry.Path.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : entry.Path.substr(0, slash);
        const std::string name = entry.Path.substr(slash == std::string::npos ? 0 : slash + 1);
        const std::string key =
            order == TOrder::Joliet ? disc_trees_detail::Utf16BigEndian(name) : Utf8ToAnsi(name);
        byParent[parent].push_back({&entry, key});
    }
    const std::function<std::vector<TLine>(const std::string&)> lines =
        [&](const std::string& path) {
            std::vector<TLine> result;
            auto found = byParent.find(path);
            if (found == byParent.end())
                return result;
            std::vector<TItem> items = found->second;
            std::sort(items.begin(), items.end(),
                      [](const TItem& a, const TItem& b) { return a.Key < b.Key; });
            for (const TItem& item : items) {
                const TTreeEntry& e = *item.Entry;
                const size_t slash = e.Path.rfind('/');
                const std::string name =
                    Utf8ToAnsi(e.Path.substr(slash == std::string::npos ? 0 : slash + 1));
                const uint32_t size =
                    (e.Folder || !e.Link.empty()) ? 0 : static_cast<uint32_t>(e.Size);
                result.push_back(
                    {name,
                     disc_trees_detail::LineText(e.Folder, name, FileTimeFromUnix(e.Time), size),
                     e.Folder ? lines(e.Path) : std::vector<TLine>{}});
            }
            return result;
        };
    std::vector<TLine> top = lines("");
    std::string out;
    disc_trees_detail::Write(top, order == TOrder::ByBytes, out, 0);
    return out;
}

// True when the ids below node were given out depth first, each folder before its contents and
// its contents before its next sibling, and every ParentId names the node holding it.
inline bool IdsArePreOrder(const TFendrel& collection, const TCollectionNode& node)
{
    uint32_t next = node.Id + 1;
    const std::function<bool(const TCollectionNode&)> walk = [&](const TCollectionNode& parent) {
        for (const uint32_t id : parent.Children) {
            const TCollectionNode& child = collection.GetNode(id);
            if (child.Id != next++ || child.ParentId != parent.Id || !walk(child))
                return false;
        }
        return true;
    };
    return walk(node);
}
