#pragma once

#include "search/FindSnapshot.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// The forms the catalogue is exported in.
enum class TExportFormat {
    Csv,       // a table for spreadsheets: the UTF-8 byte order mark, a header line, a record each
    Html,      // one page that needs no other file and no script
    JsonLines, // a JSON object a line, as fendrel-find --json prints them
};

// Where the exported entries come from.
struct TExportSource {
    const TFindSnapshot& Snapshot;
    std::string_view Collection; // the collection file's path, in the file system's bytes
    int64_t UtcOffset = 0;       // of the local time every date is shown in
};

// Takes the text as it is made, in blocks of about a megabyte; false when it could not be
// written, which ends the export.
using TExportSink = std::function<bool(std::string_view)>;

// The entries (snapshot indexes of files and folders) in their order: a CSV record or a JSON
// line each, or a page with a table of them and their totals. title (8-bit) heads the page.
// False when the sink failed.
bool ExportEntries(const TExportSource& source, const std::vector<uint32_t>& entries,
                   TExportFormat format, std::string_view title, const TExportSink& sink);

// Each disc (a snapshot index of one) with every folder and file below it, in the order of the
// tree: a CSV record or a JSON line for each file and folder, or a page of nested lists that
// fold, with the number of files and their size for every folder and disc. False when the sink
// failed.
bool ExportDiscs(const TExportSource& source, const std::vector<uint32_t>& discs,
                 TExportFormat format, std::string_view title, const TExportSink& sink);
