#include "export/ExportFile.h"

#include "platform/AnsiText.h"
#include "platform/Dialogs.h"
#include "platform/ReplacingFile.h"

#include <algorithm>
#include <array>

namespace {

struct TFormatEntry {
    TExportFormat Format;
    const char* Text; // UTF-8
    const char* Pattern;
    const char* Suffix;
};

constexpr std::array<TFormatEntry, 3> kFormats{{
    {TExportFormat::Csv, "Таблица CSV (*.csv)", "*.csv", "csv"},
    {TExportFormat::Html, "Страница HTML (*.html)", "*.html", "html"},
    {TExportFormat::JsonLines, "JSON по строкам (*.jsonl)", "*.jsonl", "jsonl"},
}};

} // namespace

bool WriteExportFile(const std::string& path, TExportFormat format, const TExportWriter& write)
{
    TReplacingFile file(path);
    if (!file.Opened())
        return false;
    return write(format, [&file](std::string_view block) { return file.Write(block); }) &&
           file.Commit();
}

bool ExportThroughDialog(IDialogs& dialogs, const std::string& boxTitle, const TExportWriter& write)
{
    std::vector<TFileFilter> filters(kFormats.size());
    std::transform(kFormats.begin(), kFormats.end(), filters.begin(),
                   [](const TFormatEntry& entry) {
                       return TFileFilter{Ansi(entry.Text), entry.Pattern, entry.Suffix};
                   });
    const std::optional<TSaveChoice> choice = dialogs.SaveFileDialogOf(Ansi("Экспорт"), filters);
    if (!choice)
        return false;
    const TExportFormat format = kFormats[std::min(choice->Filter, kFormats.size() - 1)].Format;
    if (WriteExportFile(choice->Path, format, write))
        return true;
    dialogs.MessageBox(Ansi("Ошибка при записи файла ") + Utf8ToAnsi(choice->Path), boxTitle,
                       TMessageKind::Error);
    return false;
}
