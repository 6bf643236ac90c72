#pragma once

// Folder trees and ISO 9660 images made during a test, and scanned trees written out as text, so
// that a whole tree compares in one assertion with a readable difference.

#include "collection/DiscTreeDiff.h"
#include "collection/Fendrel.h"
#include "discs/Volume.h"
#include "platform/AnsiText.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

// Writes bytes to path and gives the file the last-write time (seconds since 1970, UTC).
inline void WriteFileAt(const std::string& path, const std::string& bytes, int64_t time)
{
    std::ofstream(path, std::ios::binary) << bytes;
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Gives root and every folder below it the time back: writing a file touches its folder.
inline void SettleFolders(const std::string& root, int64_t time)
{
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, root.c_str(), times, 0);
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::recursive_directory_iterator(root))
        if (entry.is_directory())
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
}

// The whole of a file; empty when it cannot be read.
inline std::string FileContent(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// The paths of the changes in UTF-8, a folder's with a backslash after it.
inline std::vector<std::string> ChangePaths(const std::vector<TTreeChange>& changes)
{
    std::vector<std::string> paths;
    for (const TTreeChange& change : changes)
        paths.push_back(AnsiToUtf8(change.Path) + (change.Folder ? "\\" : ""));
    return paths;
}

// A folder, a file (sparse, of Size bytes) or, when Link is set, a symbolic link to Link.
struct TTreeEntry {
    std::string Path; // UTF-8, relative, names separated by "/"
    bool Folder = false;
    int64_t Time = 0; // last write, seconds since 1970 (UTC)
    uint64_t Size = 0;
    std::string Link;
};
inline TTreeEntry FolderEntry(std::string path, int64_t time)
{
    return {std::move(path), true, time, 0, {}};
}
inline TTreeEntry FileEntry(std::string path, int64_t time, uint64_t size)
{
    return {std::move(path), false, time, size, {}};
}
inline TTreeEntry LinkEntry(std::string path, int64_t time, std::string target)
{
    return {std::move(path), false, time, 0, std::move(target)};
}

// A temporary folder, removed with everything in it, unreadable or deeply nested parts too.
struct TScratchFolder {
    TScratchFolder()
    {
        Path = (std::filesystem::temp_directory_path() / "fendrel-XXXXXX").string();
        if (!::mkdtemp(Path.data()))
            throw std::runtime_error("cannot make a temporary folder");
    }
    ~TScratchFolder()
    {
        (void)std::system(
            ("chmod -R u+rwx '" + Path + "' 2>/dev/null; rm -rf '" + Path + "'").c_str());
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    [[nodiscard]] std::string operator/(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};

// Makes the entries below root, parents listed before children, then gives each its time.
inline void MakeTree(const std::string& root, const std::vector<TTreeEntry>& entries)
{
    std::filesystem::create_directories(root);
    for (const TTreeEntry& e : entries) {
        const std::string path = root + "/" + e.Path;
        if (e.Folder)
            std::filesystem::create_directory(path);
        else if (!e.Link.empty())
            std::filesystem::create_symlink(e.Link, path);
        else
            std::ofstream(path).close(), std::filesystem::resize_file(path, e.Size);
    }
    for (auto e = entries.rbegin(); e != entries.rend();
         ++e) { // a child's birth touches its folder
        const timespec times[2] = {{e->Time, 0}, {e->Time, 0}};
        ::utimensat(AT_FDCWD, (root + "/" + e->Path).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

// Writes an ISO 9660 image of source with xorriso. Only the first 16 MiB are kept: they hold all
// the directories, which is all a scan reads, so huge sparse files cost neither time nor space.
inline void MakeIsoImage(const std::string& source, const std::string& image,
                         const std::string& options)
{
    const std::string command = "LC_ALL=C.UTF-8 xorriso -outdev - " + options + " -map '" + source +
                                "' / 2>/dev/null | head -c 16777216 > '" + image + "'";
    if (std::system(command.c_str()) != 0 || std::filesystem::file_size(image) == 0)
        throw std::runtime_error("xorriso could not write " + image);
}

namespace disc_trees_detail {
struct TLine {
    std::string Utf8Name, Text;
    std::vector<TLine> Children;
};
inline std::string LineText(bool folder, const std::string& utf8Name, uint64_t time, uint64_t size)
{
    return std::string(folder ? "F " : "E ") + utf8Name + " t=" + std::to_string(time) +
           " s=" + std::to_string(size);
}
inline void Write(std::vector<TLine>& lines, bool sorted, std::string& out, size_t depth)
{
    if (sorted)
        std::sort(lines.begin(), lines.end(), [](const TLine& a, const TLine& b) {
            return std::tie(a.Utf8Name, a.Text) < std::tie(b.Utf8Name, b.Text);
        });
    for (TLine& line : lines) {
        out += std::string(depth * 2, ' ') + line.Text + "\n";
        Write(line.Children, sorted, out, depth + 1);
    }
}
} // namespace disc_trees_detail

// The tree below node, a line per folder (F) or file (E) with its name in UTF-8, FILETIME and
// size, indented by depth. sorted: siblings by name, for listings in no defined order.
inline std::string DumpScanned(const TFendrel& c, const TCollectionNode& node, bool sorted = false)
{
    using disc_trees_detail::TLine;
    const std::function<std::vector<TLine>(const TCollectionNode&)> lines =
        [&](const TCollectionNode& parent) {
            std::vector<TLine> result;
            for (const uint32_t id : parent.Children) {
                const TCollectionNode& n = c.GetNode(id);
                const std::string name = AnsiToUtf8(n.Name);
                const uint64_t time = (uint64_t{n.WriteTimeHigh} << 32) | n.WriteTimeLow;
                result.push_back(
                    {name, disc_trees_detail::LineText(n.Is(nfFolder), name, time, n.FullSize()),
                     lines(n)});
            }
            return result;
        };
    std::vector<TLine> top = lines(node);
    std::string out;
    disc_trees_detail::Write(top, sorted, out, 0);
    return out;
}

// What a scan of the entries should give, siblings by name: for names of the Basic Multilingual
// Plane that is also the order of a Joliet directory. Links are files of size 0.
inline std::string DumpExpected(const std::vector<TTreeEntry>& entries)
{
    using disc_trees_detail::TLine;
    const std::function<std::vector<TLine>(const std::string&)> lines =
        [&](const std::string& folder) {
            std::vector<TLine> result;
            for (const TTreeEntry& e : entries) {
                const size_t slash = e.Path.rfind('/');
                if ((slash == std::string::npos ? std::string() : e.Path.substr(0, slash)) !=
                    folder)
                    continue;
                const std::string name = e.Path.substr(slash == std::string::npos ? 0 : slash + 1);
                const uint64_t size = (e.Folder || !e.Link.empty()) ? 0 : e.Size;
                result.push_back(
                    {name,
                     disc_trees_detail::LineText(e.Folder, name, FileTimeFromUnix(e.Time), size),
                     e.Folder ? lines(e.Path) : std::vector<TLine>{}});
            }
            return result;
        };
    std::vector<TLine> top = lines("");
    std::string out;
    disc_trees_detail::Write(top, true, out, 0);
    return out;
}

// True when the ids below node were given out depth first (each folder before its contents, its
// contents before its next sibling) and every ParentId names the node holding it.
inline bool IdsArePreOrder(const TFendrel& c, const TCollectionNode& node)
{
    uint32_t next = node.Id + 1;
    const std::function<bool(const TCollectionNode&)> walk = [&](const TCollectionNode& parent) {
        return std::all_of(parent.Children.begin(), parent.Children.end(), [&](uint32_t id) {
            const TCollectionNode& child = c.GetNode(id);
            return child.Id == next++ && child.ParentId == parent.Id && walk(child);
        });
    };
    return walk(node);
}
