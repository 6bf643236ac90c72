#include "browse/FolderListing.h"

#include "collection/NameOrder.h"
#include "platform/AnsiText.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iterator>

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000; // FILETIME counts 100 ns
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86'400;
constexpr int64_t kDaysFrom1601To1970 = 134'774;

std::string OneDecimal(double value, const char* unit)
{
    // to_chars formats as the "C" locale does, rounding to the nearest tenth with ties to even.
    char text[48];
    const auto result =
        std::to_chars(text, text + sizeof text - 4, value, std::chars_format::fixed, 1);
    return std::string(text, result.ptr) + unit;
}

struct TPathAndDisc {
    std::string Path;
    std::string DiscTitle;
};

// Follows ParentId up to the disc, collecting the names on the way.
TPathAndDisc WalkToDisc(const TFendrel& collection, const TCollectionNode& start)
{
    std::vector<std::string_view> names; // from the node upwards
    TPathAndDisc result;
    for (uint32_t id = start.Id; id != 0;) {
        const TCollectionNode& node = collection.GetNode(id);
        if (node.ParentId != 0)
            names.push_back(node.Name.view());
        else
            result.DiscTitle = std::string(node.Name);
        id = node.ParentId;
    }
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        result.Path += '\\';
        result.Path += *name;
    }
    return result;
}

TListRow RowOf(const TFendrel& collection, const TCollectionNode& node, int64_t offsetSeconds)
{
    static const std::string folderType = Ansi("Каталог");
    static const std::string fileType = Ansi("Файл");
    const bool folder = node.Is(nfFolder);
    TListRow row;
    row.Caption = std::string(node.Name);
    row.SubItems[0] = folder ? folderType : fileType;
    if (const auto time = FileTimeToLocal(node.WriteTimeHigh, node.WriteTimeLow, offsetSeconds)) {
        row.SubItems[1] = FormatDate(*time);
        row.SubItems[2] = FormatTime(*time);
    }
    row.SubItems[3] = FormatSize(folder ? collection.SumFileSizes(node) : node.FullSize());
    row.Image = folder ? 2 : 3;
    row.Data = node.Id;
    return row;
}

} // namespace

std::vector<const TCollectionNode*> MergeByName(std::vector<const TCollectionNode*> nodes)
{
    nodes.resize(MergeByNameInPlace(
        std::span<const TCollectionNode*>(nodes),
        [](const TCollectionNode* node) -> const TCollectionNode& { return *node; }));
    return nodes;
}

std::string FormatSize(uint64_t bytes)
{
    constexpr uint64_t kKilo = 1024;
    constexpr uint64_t kMega = kKilo * kKilo;
    if (bytes > kMega)
        return OneDecimal(static_cast<double>(bytes) / kMega, " M");
    if (bytes > kKilo)
        return OneDecimal(static_cast<double>(bytes) / kKilo, " k");
    return std::to_string(bytes);
}

std::optional<TCalendarTime> FileTimeToLocal(uint32_t high, uint32_t low, int64_t offsetSeconds)
{
    const uint64_t stored = (uint64_t{high} << 32) | low;
    if (stored > static_cast<uint64_t>(INT64_MAX))
        return std::nullopt;
    int64_t local = 0;
    if (__builtin_add_overflow(static_cast<int64_t>(stored), offsetSeconds * kTicksPerSecond,
                               &local) ||
        local < 0)
        return std::nullopt;

    using namespace std::chrono;
    const int64_t dayNumber = local / kTicksPerDay;
    const int64_t secondOfDay = (local % kTicksPerDay) / kTicksPerSecond;
    const year_month_day date{sys_days{days{dayNumber - kDaysFrom1601To1970}}};
    TCalendarTime time;
    time.Year = static_cast<int>(date.year());
    time.Month = static_cast<int>(static_cast<unsigned>(date.month()));
    time.Day = static_cast<int>(static_cast<unsigned>(date.day()));
    time.Hour = static_cast<int>(secondOfDay / 3600);
    time.Minute = static_cast<int>(secondOfDay / 60 % 60);
    time.Second = static_cast<int>(secondOfDay % 60);
    return time;
}

std::string FormatDate(const TCalendarTime& time)
{
    char text[48];
    std::snprintf(text, sizeof text, "%d.%02d.%04d", time.Day, time.Month, time.Year);
    return text;
}

std::string FormatTime(const TCalendarTime& time)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.Hour, time.Minute, time.Second);
    return text;
}

std::vector<TListRow> ListRows(const TFendrel& collection, uint32_t id, int64_t utcOffsetSeconds)
{
    std::vector<TListRow> rows;
    if (id == 0) {
        static const std::string discType = Ansi("Диск");
        for (const uint32_t discId : collection.Discs) {
            const TCollectionNode& disc = collection.GetNode(discId);
            if (disc.Is(nfFilteredOut))
                continue;
            TListRow& row = rows.emplace_back();
            row.Caption = std::string(disc.Name);
            row.SubItems[0] = discType;
            row.Image = 1;
            row.Data = discId;
        }
        return rows;
    }

    std::vector<const TCollectionNode*> folders;
    std::vector<const TCollectionNode*> others;
    for (const uint32_t childId : collection.GetNode(id).Children) {
        const TCollectionNode& child = collection.GetNode(childId);
        if (child.Is(nfFilteredOut))
            continue;
        (child.Is(nfFolder) ? folders : others).push_back(&child);
    }
    folders = MergeByName(std::move(folders));
    others = MergeByName(std::move(others));
    rows.reserve(folders.size() + others.size());
    const auto row = [&](const TCollectionNode* node) {
        return RowOf(collection, *node, utcOffsetSeconds);
    };
    for (const auto* group : {&folders, &others})
        std::transform(group->begin(), group->end(), std::back_inserter(rows), row);
    return rows;
}

std::string FullPath(const TFendrel& collection, const TCollectionNode& node)
{
    return WalkToDisc(collection, node).Path;
}

std::string FileInformationText(const TFendrel& collection, const TCollectionNode& file)
{
    static const std::string nameLabel = Ansi("Файл: ");
    static const std::string pathLabel = Ansi("Полное имя: ");
    static const std::string discLabel = Ansi("Находится на диске ");
    const TPathAndDisc where = WalkToDisc(collection, file);
    return nameLabel + std::string(file.Name) + "\r\n" + pathLabel + where.Path + "\r\n" +
           discLabel + where.DiscTitle;
}
