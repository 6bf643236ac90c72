#include "mounttool/MountTree.h"

#include "platform/AnsiText.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

constexpr std::string_view kDiscAttribute = "user.fendrel.disc";
constexpr std::string_view kPathAttribute = "user.fendrel.path";
constexpr std::string_view kChecksumAttribute = "user.fendrel.xxh128";

std::pair<int64_t, uint32_t> UnixTimeOfNs(int64_t ns)
{
    int64_t seconds = ns / 1'000'000'000;
    int64_t rest = ns % 1'000'000'000;
    if (rest < 0) {
        --seconds;
        rest += 1'000'000'000;
    }
    return {seconds, static_cast<uint32_t>(rest)};
}

} // namespace

std::pair<int64_t, uint32_t> UnixTimeOf(uint64_t fileTime)
{
    if (fileTime == 0)
        return {0, 0};
    constexpr uint64_t kUnixEpoch = 116444736000000000; // 1970-01-01 as a FILETIME
    constexpr int64_t kTicksPerSecond = 10'000'000;
    // Unsigned arithmetic first: a FILETIME may use all 64 bits.
    const bool before = fileTime < kUnixEpoch;
    const uint64_t distance = before ? kUnixEpoch - fileTime : fileTime - kUnixEpoch;
    const int64_t seconds = static_cast<int64_t>(distance / kTicksPerSecond);
    const uint32_t ticks = static_cast<uint32_t>(distance % kTicksPerSecond);
    if (!before)
        return {seconds, ticks * 100};
    if (ticks == 0)
        return {-seconds, 0};
    return {-seconds - 1, (kTicksPerSecond - ticks) * 100};
}

std::vector<std::string> CollectionFolderNames(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& path : paths) {
        std::string_view name = path;
        while (name.size() > 1 && name.back() == '/')
            name.remove_suffix(1);
        if (const size_t slash = name.rfind('/'); slash != std::string_view::npos)
            name.remove_prefix(slash + 1);
        if (name.size() > 4 && (name.ends_with(".frl") || name.ends_with(".FRL")))
            name.remove_suffix(4);
        // A file name is bytes; the mount shows it as the window shows names.
        const std::string base = MountName(Utf8ToAnsi(name));
        std::string unique = base;
        for (unsigned number = 2; std::find(names.begin(), names.end(), unique) != names.end();)
            unique = TwinName(base, number++, false);
        names.push_back(std::move(unique));
    }
    return names;
}

TMountTree::TMountTree(std::vector<TMountedCollection> collections)
    : Collections_(std::move(collections))
{
}

std::shared_ptr<const TMountTree> TMountTree::With(size_t collection,
                                                   std::shared_ptr<const TCollectionView> view,
                                                   int64_t fileTimeNs) const
{
    std::vector<TMountedCollection> collections = Collections_;
    collections[collection].View = std::move(view);
    collections[collection].FileTimeNs = fileTimeNs;
    return std::make_shared<const TMountTree>(std::move(collections));
}

std::optional<TMountEntry> TMountTree::Find(uint64_t ino) const
{
    if (ino == kMountRootIno)
        return Root();
    const uint64_t number = ino >> 56;
    if (number == 0 || number > Collections_.size())
        return std::nullopt;
    const int collection = static_cast<int>(number - 1);
    if (const std::optional<uint32_t> id = Collections_[number - 1].View->NodeOf(ino))
        return TMountEntry{collection, *id};
    return std::nullopt;
}

std::optional<TMountEntry> TMountTree::Lookup(const TMountEntry& folder,
                                              std::string_view name) const
{
    if (folder.Collection < 0) {
        for (size_t i = 0; i < Collections_.size(); ++i) {
            if (Collections_[i].FolderName == name)
                return TMountEntry{static_cast<int>(i), 0};
        }
        return std::nullopt;
    }
    if (const std::optional<uint32_t> id = View(folder).Child(folder.Id, name))
        return TMountEntry{folder.Collection, *id};
    return std::nullopt;
}

bool TMountTree::IsFolder(const TMountEntry& entry) const
{
    return entry.Collection < 0 || View(entry).IsFolder(entry.Id);
}

uint64_t TMountTree::Ino(const TMountEntry& entry) const
{
    return entry.Collection < 0 ? kMountRootIno : View(entry).InoOf(entry.Id);
}

std::string TMountTree::NameOf(const TMountEntry& entry) const
{
    if (entry.Collection < 0)
        return {};
    if (entry.Id == 0)
        return Collections_[static_cast<size_t>(entry.Collection)].FolderName;
    return View(entry).NameOf(entry.Id);
}

TMountEntry TMountTree::Parent(const TMountEntry& entry) const
{
    if (entry.Collection < 0 || (entry.Id == 0 && !Several()))
        return Root();
    if (entry.Id == 0)
        return {-1, 0};
    return {entry.Collection, View(entry).Collection().GetNode(entry.Id).ParentId};
}

TEntryAttributes TMountTree::Attributes(const TMountEntry& entry) const
{
    TEntryAttributes attributes;
    attributes.Ino = Ino(entry);
    attributes.Folder = true;
    if (entry.Collection < 0 || entry.Id == 0) {
        // The folders the mount makes carry the time of the newest collection file they show.
        int64_t newest = 0;
        for (size_t i = 0; i < Collections_.size(); ++i) {
            if (entry.Collection < 0 || static_cast<size_t>(entry.Collection) == i)
                newest = std::max(newest, Collections_[i].FileTimeNs);
        }
        std::tie(attributes.Seconds, attributes.Nanoseconds) = UnixTimeOfNs(newest);
        return attributes;
    }
    const TMountedCollection& mounted = Collections_[static_cast<size_t>(entry.Collection)];
    const TFendrel& collection = mounted.View->Collection();
    const TCollectionNode& node = collection.GetNode(entry.Id);
    attributes.Folder = !node.Is(nfFile);
    attributes.Size = attributes.Folder ? 0 : node.FullSize();
    uint64_t time = uint64_t{node.WriteTimeHigh} << 32 | node.WriteTimeLow;
    if (node.ParentId == 0 && time == 0) {
        // A disc has no time of its own: the time of its last update or its addition.
        if (const auto record = collection.DiscRecords.find(entry.Id);
            record != collection.DiscRecords.end())
            time = record->second.Updated != 0 ? record->second.Updated : record->second.Added;
        if (time == 0) {
            std::tie(attributes.Seconds, attributes.Nanoseconds) = UnixTimeOfNs(mounted.FileTimeNs);
            return attributes;
        }
    }
    std::tie(attributes.Seconds, attributes.Nanoseconds) = UnixTimeOf(time);
    return attributes;
}

size_t TMountTree::Count(const TMountEntry& folder) const
{
    if (folder.Collection < 0)
        return Collections_.size();
    return View(folder).EntriesOf(folder.Id).size();
}

TMountEntry TMountTree::EntryAt(const TMountEntry& folder, size_t index) const
{
    if (folder.Collection < 0)
        return {static_cast<int>(index), 0};
    return {folder.Collection, View(folder).EntriesOf(folder.Id)[index]};
}

std::vector<std::string> TMountTree::AttributeNames(const TMountEntry& entry) const
{
    std::vector<std::string> names;
    if (entry.Collection < 0 || entry.Id == 0)
        return names;
    names.emplace_back(kDiscAttribute);
    names.emplace_back(kPathAttribute);
    if (View(entry).Collection().Checksums.contains(entry.Id))
        names.emplace_back(kChecksumAttribute);
    return names;
}

std::optional<std::string> TMountTree::Attribute(const TMountEntry& entry,
                                                 std::string_view name) const
{
    if (entry.Collection < 0 || entry.Id == 0)
        return std::nullopt;
    const TFendrel& collection = View(entry).Collection();
    if (name == kDiscAttribute || name == kPathAttribute) {
        std::vector<uint32_t> chain;
        for (uint32_t at = entry.Id; at != 0; at = collection.GetNode(at).ParentId)
            chain.push_back(at);
        if (name == kDiscAttribute)
            return AnsiToUtf8(collection.GetNode(chain.back()).Name.view());
        if (chain.size() == 1)
            return "\\";
        std::string path;
        for (auto at = chain.rbegin() + 1; at != chain.rend(); ++at) {
            path += '\\';
            path += collection.GetNode(*at).Name.view();
        }
        return AnsiToUtf8(path);
    }
    if (name == kChecksumAttribute) {
        const auto checksum = collection.Checksums.find(entry.Id);
        if (checksum == collection.Checksums.end())
            return std::nullopt;
        char digits[33];
        std::snprintf(digits, sizeof digits, "%016llX%016llX",
                      static_cast<unsigned long long>(checksum->second.High),
                      static_cast<unsigned long long>(checksum->second.Low));
        return std::string(digits, 32);
    }
    return std::nullopt;
}

uint64_t TMountTree::Entries() const
{
    uint64_t entries = Collections_.size();
    for (const TMountedCollection& mounted : Collections_)
        entries += mounted.View->Entries();
    return entries;
}

uint64_t TMountTree::Bytes() const
{
    uint64_t bytes = 0;
    for (const TMountedCollection& mounted : Collections_)
        bytes += mounted.View->Bytes();
    return bytes;
}
