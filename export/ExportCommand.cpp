#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "export/ExportFile.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "search/FindSnapshot.h"

#include <QGuiApplication>
#include <QTreeView>

#include <filesystem>

void TForm_Main::Act_ExportExecute(QObject*)
{
    const uint32_t disc = SelectedDisc();
    const TFindSnapshot snapshot(Collection());
    std::vector<uint32_t> discs;
    for (size_t i = 0; i < snapshot.size(); ++i)
        if (snapshot.Entry(i).Parent == TFindSnapshot::NoParent &&
            (disc == 0 || snapshot.Entry(i).Id == disc))
            discs.push_back(static_cast<uint32_t>(i));
    const std::string title =
        disc != 0 ? std::string(Collection().GetNode(disc).Name.view())
                  : Utf8ToAnsi(std::filesystem::path(CollectionFile).filename().string());
    const TExportSource source{snapshot, CollectionFile, UtcOffsetNow()};
    ExportThroughDialog(Platform_.Dialogs, ApplicationTitle,
                        [&](TExportFormat format, const TExportSink& sink) {
                            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
                            const bool written = ExportDiscs(source, discs, format, title, sink);
                            QGuiApplication::restoreOverrideCursor();
                            return written;
                        });
}
