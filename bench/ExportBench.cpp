// Times the export of the whole benchmark collection (1.1 million records) to CSV, HTML and JSON
// lines: the copy of the collection the export reads, then each format written to a file in a
// temporary folder, as "Экспорт..." does it.
#include "bench/BenchSupport.h"

#include "export/CatalogueExport.h"
#include "export/ExportFile.h"
#include "search/FindSnapshot.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    TFendrel collection;
    FillBenchCollection(collection);
    std::printf("records: %u\n", collection.LastId);

    std::unique_ptr<TFindSnapshot> snapshot;
    const double copy =
        BestWallSeconds(runs, [&] { snapshot = std::make_unique<TFindSnapshot>(collection); });
    std::printf("copy of the collection: %.3f s\n", copy);

    std::vector<uint32_t> discs;
    for (size_t i = 0; i < snapshot->size(); ++i)
        if (snapshot->Entry(i).Parent == TFindSnapshot::NoParent)
            discs.push_back(static_cast<uint32_t>(i));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("fendrel-export-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const TExportSource source{*snapshot, "/bench/discs.frl", 0};
    const struct {
        TExportFormat Format;
        const char* Name;
    } formats[] = {{TExportFormat::Csv, "export.csv"},
                   {TExportFormat::Html, "export.html"},
                   {TExportFormat::JsonLines, "export.jsonl"}};
    for (const auto& format : formats) {
        const std::string path = (folder / format.Name).string();
        bool written = false;
        const double seconds = BestWallSeconds(runs, [&] {
            written = WriteExportFile(path, format.Format,
                                      [&](TExportFormat chosen, const TExportSink& sink) {
                                          return ExportDiscs(source, discs, chosen, "bench", sink);
                                      });
        });
        std::printf("%-13s %.3f s (copy included: %.3f s), %.1f MB%s\n", format.Name, seconds,
                    seconds + copy, static_cast<double>(std::filesystem::file_size(path)) / 1e6,
                    written ? "" : ", FAILED");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
