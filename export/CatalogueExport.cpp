#include "export/CatalogueExport.h"

#include "collection/CollectionNode.h"
#include "export/HitOutput.h"
#include "platform/AnsiText.h"

#include <string>

namespace {

constexpr size_t kBlock = 1 << 20;
constexpr char kSeparator = '\\';

// The 8-bit path of the parent of one entry after another. Rows come mostly in the order of the
// tree, where the next entry's parent is the last one's or close to it, so only the part of the
// path that changed is made again.
class TParentPaths {
public:
    explicit TParentPaths(const TFindSnapshot& snapshot)
        : Snapshot_(snapshot)
    {
    }

    // The path of the entry's parent ("\Docs" or empty below the disc itself); disc gets the
    // disc's index.
    std::string_view Of(uint32_t entry, uint32_t& disc)
    {
        Up_.clear();
        uint32_t at = Snapshot_.Entry(entry).Parent;
        for (; Snapshot_.Entry(at).Parent != TFindSnapshot::NoParent;
             at = Snapshot_.Entry(at).Parent)
            Up_.push_back(at);
        disc = at;
        const size_t depth = Up_.size();
        size_t common = 0;
        while (common < depth && common < Chain_.size() &&
               Chain_[common] == Up_[depth - 1 - common])
            ++common;
        Chain_.resize(common);
        Ends_.resize(common);
        Path_.resize(common == 0 ? 0 : Ends_.back());
        for (size_t level = common; level < depth; ++level) {
            const uint32_t folder = Up_[depth - 1 - level];
            Path_ += kSeparator;
            Path_ += Snapshot_.Name(folder);
            Chain_.push_back(folder);
            Ends_.push_back(Path_.size());
        }
        return Path_;
    }

private:
    const TFindSnapshot& Snapshot_;
    std::vector<uint32_t> Up_;
    std::vector<uint32_t> Chain_; // the folders of Path_, from just below the disc down
    std::vector<size_t> Ends_;    // the length of Path_ up to each of them
    std::string Path_;
};

// Text gathered in blocks and handed on to the sink.
class TBlocks {
public:
    explicit TBlocks(const TExportSink& sink)
        : Sink_(sink)
    {
        Text.reserve(kBlock + 64 * 1024);
    }
    // Hands the block on when it is full; false once the sink failed.
    bool Check()
    {
        if (Text.size() >= kBlock)
            return Flush();
        return Ok_;
    }
    bool Flush()
    {
        if (Ok_ && !Text.empty())
            Ok_ = Sink_(Text);
        Text.clear();
        return Ok_;
    }

    std::string Text;

private:
    const TExportSink& Sink_;
    bool Ok_ = true;
};

std::optional<TCalendarTime> LocalTimeOf(const TFindSnapshot::TEntry& entry, int64_t offset)
{
    return FileTimeToLocal(static_cast<uint32_t>(entry.Time >> 32),
                           static_cast<uint32_t>(entry.Time), offset);
}

// The CSV records or JSON lines of the entries.
bool WriteRows(const TExportSource& source, const std::vector<uint32_t>& entries,
               TExportFormat format, TBlocks& out)
{
    const TFindSnapshot& snapshot = source.Snapshot;
    TParentPaths parents(snapshot);
    std::string path;
    for (const uint32_t index : entries) {
        const TFindSnapshot::TEntry& entry = snapshot.Entry(index);
        if (entry.Parent == TFindSnapshot::NoParent)
            continue; // a disc is no row of its own
        uint32_t disc = 0;
        path = parents.Of(index, disc);
        path += kSeparator;
        path += snapshot.Name(index);
        TPrintedHit hit;
        hit.Collection = source.Collection;
        hit.Disc = snapshot.Name(disc);
        hit.Path = path;
        hit.Name = snapshot.Name(index);
        hit.Folder = (entry.Flags & nfFolder) != 0;
        hit.Size = entry.Size;
        hit.Time = LocalTimeOf(entry, source.UtcOffset);
        switch (format) {
        case TExportFormat::Csv:
            AppendCsvLine(out.Text, hit);
            break;
        case TExportFormat::JsonLines:
        case TExportFormat::Html:
            AppendJsonLine(out.Text, hit);
            break;
        }
        if (!out.Check())
            return false;
    }
    return true;
}

void AppendHtmlText(std::string& out, std::string_view utf8)
{
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
}

// A name as the window shows it (control characters as their pictures); when its exact bytes
// are not what the page shows, they follow in base64 in the attribute data-bytes.
void AppendHtmlName(std::string& out, std::string_view ansi)
{
    std::string text;
    std::string bytes;
    const bool differs = AppendExactUtf8(ansi, text, &bytes);
    out +=
        differs ? "<span class=\"n\" data-bytes=\"" + Base64(bytes) + "\">" : "<span class=\"n\">";
    AppendHtmlText(out, AnsiToUtf8(ansi));
    out += "</span>";
}

void BeginPage(std::string& out, std::string_view title)
{
    out += "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    AppendHtmlText(out, AnsiToUtf8(title));
    out += "</title>\n<style>\n"
           "body{font-family:\"DejaVu Sans\",sans-serif;font-size:10pt}\n"
           "ul{list-style:none;padding-left:1.5em;margin:0}\n"
           "summary{cursor:pointer}\n"
           ".t,.s,.d{color:#555;margin-left:1em}\n"
           ".s{font-variant-numeric:tabular-nums}\n"
           "table{border-collapse:collapse}\n"
           "th,td{border:1px solid #ccc;padding:1px 6px;text-align:left}\n"
           "td.s{text-align:right}\n"
           "</style>\n</head>\n<body>\n<h1>";
    AppendHtmlText(out, AnsiToUtf8(title));
    out += "</h1>\n";
}

void EndPage(std::string& out)
{
    out += "</body>\n</html>\n";
}

void AppendTotals(std::string& out, uint64_t files, uint64_t size)
{
    out += "файлов: " + std::to_string(files) + ", размер: " + std::to_string(size) + " байт";
}

bool WriteHtmlTable(const TExportSource& source, const std::vector<uint32_t>& entries,
                    std::string_view title, TBlocks& out)
{
    const TFindSnapshot& snapshot = source.Snapshot;
    BeginPage(out.Text, title);
    out.Text += "<table>\n<tr><th>Диск</th><th>Путь</th><th>Имя</th><th>Тип</th><th>Размер</th>"
                "<th>Дата</th></tr>\n";
    TParentPaths parents(snapshot);
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t size = 0;
    std::string path;
    for (const uint32_t index : entries) {
        const TFindSnapshot::TEntry& entry = snapshot.Entry(index);
        if (entry.Parent == TFindSnapshot::NoParent)
            continue;
        uint32_t disc = 0;
        path = parents.Of(index, disc);
        path += kSeparator;
        path += snapshot.Name(index);
        const bool folder = (entry.Flags & nfFolder) != 0;
        (folder ? folders : files) += 1;
        if (!folder)
            size += entry.Size;
        out.Text += "<tr><td>";
        AppendHtmlName(out.Text, snapshot.Name(disc));
        out.Text += "</td><td>";
        AppendHtmlName(out.Text, path);
        out.Text += "</td><td>";
        AppendHtmlName(out.Text, snapshot.Name(index));
        out.Text +=
            folder ? "</td><td>Папка</td><td class=\"s\">" : "</td><td>Файл</td><td class=\"s\">";
        out.Text += std::to_string(entry.Size);
        out.Text += "</td><td>";
        out.Text += DateText(LocalTimeOf(entry, source.UtcOffset));
        out.Text += "</td></tr>\n";
        if (!out.Check())
            return false;
    }
    out.Text += "</table>\n<p class=\"total\">Найдено: папок: " + std::to_string(folders) + ", ";
    AppendTotals(out.Text, files, size);
    out.Text += "</p>\n";
    EndPage(out.Text);
    return true;
}

// One disc's tree as nested lists, each folder folding under its name and totals.
bool WriteHtmlDisc(const TExportSource& source, uint32_t disc, TBlocks& out, uint64_t& discFiles,
                   uint64_t& discSize)
{
    const TFindSnapshot& snapshot = source.Snapshot;
    // The disc's entries run from it up to the next disc.
    size_t end = disc + 1;
    while (end < snapshot.size() && snapshot.Entry(end).Parent != TFindSnapshot::NoParent)
        ++end;
    // Files below each entry, and whether it is shown: only what hangs from folders is.
    std::vector<uint64_t> files(end - disc, 0);
    std::vector<bool> shown(end - disc, false);
    shown[0] = true;
    for (size_t i = disc + 1; i < end; ++i) {
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        const uint32_t parent = entry.Parent;
        shown[i - disc] = parent >= disc && parent < end && shown[parent - disc] &&
                          !(snapshot.Entry(parent).Flags & nfFile);
    }
    for (size_t i = end; i-- > disc + 1;) {
        if (!shown[i - disc])
            continue;
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        files[i - disc] += (entry.Flags & nfFile) ? 1 : 0;
        files[entry.Parent - disc] += files[i - disc];
    }
    discFiles = files[0];
    discSize = snapshot.Entry(disc).Size;

    out.Text += "<details open class=\"disc\"><summary><b>";
    AppendHtmlName(out.Text, snapshot.Name(disc));
    out.Text += "</b><span class=\"t\">";
    AppendTotals(out.Text, files[0], discSize);
    out.Text += "</span></summary>\n<ul>\n";
    std::vector<uint32_t> open{disc};
    for (size_t i = disc + 1; i < end; ++i) {
        if (!shown[i - disc])
            continue;
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        while (open.back() != entry.Parent) {
            out.Text += "</ul></details></li>\n";
            open.pop_back();
        }
        if (entry.Flags & nfFolder) {
            out.Text += "<li><details><summary>";
            AppendHtmlName(out.Text, snapshot.Name(i));
            out.Text += "<span class=\"t\">";
            AppendTotals(out.Text, files[i - disc], entry.Size);
            out.Text += "</span></summary>\n<ul>\n";
            open.push_back(static_cast<uint32_t>(i));
        } else {
            out.Text += "<li>";
            AppendHtmlName(out.Text, snapshot.Name(i));
            out.Text += "<span class=\"s\">" + std::to_string(entry.Size) + "</span>";
            out.Text += "<span class=\"d\">" + DateText(LocalTimeOf(entry, source.UtcOffset)) +
                        "</span></li>\n";
        }
        if (!out.Check())
            return false;
    }
    for (; open.size() > 1; open.pop_back())
        out.Text += "</ul></details></li>\n";
    out.Text += "</ul>\n</details>\n";
    return true;
}

} // namespace

bool ExportEntries(const TExportSource& source, const std::vector<uint32_t>& entries,
                   TExportFormat format, std::string_view title, const TExportSink& sink)
{
    TBlocks out(sink);
    switch (format) {
    case TExportFormat::Csv:
        out.Text += kUtf8ByteOrderMark;
        out.Text += CsvHeader();
        [[fallthrough]];
    case TExportFormat::JsonLines:
        if (!WriteRows(source, entries, format, out))
            return false;
        break;
    case TExportFormat::Html:
        if (!WriteHtmlTable(source, entries, title, out))
            return false;
        break;
    }
    return out.Flush();
}

bool ExportDiscs(const TExportSource& source, const std::vector<uint32_t>& discs,
                 TExportFormat format, std::string_view title, const TExportSink& sink)
{
    if (format != TExportFormat::Html) {
        std::vector<uint32_t> entries;
        for (const uint32_t disc : discs)
            for (size_t i = disc + 1; i < source.Snapshot.size() &&
                                      source.Snapshot.Entry(i).Parent != TFindSnapshot::NoParent;
                 ++i)
                entries.push_back(static_cast<uint32_t>(i));
        return ExportEntries(source, entries, format, title, sink);
    }
    TBlocks out(sink);
    BeginPage(out.Text, title);
    uint64_t files = 0;
    uint64_t size = 0;
    for (const uint32_t disc : discs) {
        uint64_t discFiles = 0;
        uint64_t discSize = 0;
        if (!WriteHtmlDisc(source, disc, out, discFiles, discSize))
            return false;
        files += discFiles;
        size += discSize;
    }
    out.Text += "<p class=\"total\">Дисков: " + std::to_string(discs.size()) + ", ";
    AppendTotals(out.Text, files, size);
    out.Text += "</p>\n";
    EndPage(out.Text);
    return out.Flush();
}
