#include "export/ExportCommand.h"

#include "app/Platform.h"
#include "app/WindowHost.h"
#include "collection/Fendrel.h"
#include "export/ExportFile.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "search/FindSnapshot.h"

#include <QCursor>
#include <QGuiApplication>

#include <filesystem>

TExportCommand::TExportCommand(IWindowHost& host)
    : Host_(host)
{
}

void TExportCommand::ExportSelected()
{
    const uint32_t disc = Host_.SelectedDisc();
    const TFendrel& collection = Host_.Collection();
    const TFindSnapshot snapshot(collection);
    std::vector<uint32_t> discs;
    for (size_t i = 0; i < snapshot.size(); ++i)
        if (snapshot.Entry(i).Parent == TFindSnapshot::NoParent &&
            (disc == 0 || snapshot.Entry(i).Id == disc))
            discs.push_back(static_cast<uint32_t>(i));
    const std::string& path = Host_.CollectionPath();
    const std::string title = disc != 0
                                  ? std::string(collection.GetNode(disc).Name.view())
                                  : Utf8ToAnsi(std::filesystem::path(path).filename().string());
    const TExportSource source{snapshot, path, UtcOffsetNow()};
    ExportThroughDialog(Host_.Platform().Dialogs, Host_.Title(),
                        [&](TExportFormat format, const TExportSink& sink) {
                            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
                            const bool written = ExportDiscs(source, discs, format, title, sink);
                            QGuiApplication::restoreOverrideCursor();
                            return written;
                        });
}
