#pragma once

#include "export/CatalogueExport.h"

#include <functional>
#include <string>

class IDialogs;

// Makes an export of one format into a sink; false when the sink failed.
using TExportWriter = std::function<bool(TExportFormat format, const TExportSink& sink)>;

// Writes an export to path whole or not at all: on failure nothing is left under either the name
// or a temporary, and the file that was there before, if any, stays as it was.
[[nodiscard]] bool WriteExportFile(const std::string& path, TExportFormat format,
                                   const TExportWriter& write);

// "Экспорт...": asks for the file and its format (CSV, HTML or JSON lines, by the dialog's filter)
// and writes it; a write that fails is reported in an error box ("Ошибка при записи файла " and
// the path). False when nothing was written.
bool ExportThroughDialog(IDialogs& dialogs, const std::string& boxTitle,
                         const TExportWriter& write);
