#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "collection/CollectionChange.h"
#include "platform/CollectionFileStore.h"
#include "platform/HelpViewer.h"
#include "platform/QtText.h"
#include "search/NameIndexStore.h"

#include <QItemSelectionModel>
#include <QTreeView>

namespace {

constexpr const char* kHelpFile = "Fendrel.chm";

// Qt reads "[*]" in a window title as the place of the modified mark; a doubled one shows as
// the literal text, which a path may hold.
QString LiteralTitle(QString title)
{
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

} // namespace

void TForm_Main::Act_NewCollectionExecute(QObject* sender)
{
    if (sender && !MayCloseCollection())
        return;
    if (const auto path = Platform_.Dialogs.SaveFileDialog(SaveDlg_Collection)) {
        CollectionFile = *path;
        OpenCollectionFile();
    } else if (!sender) {
        close();
    }
}

void TForm_Main::Act_LoadCollectionExecute(QObject*)
{
    if (!MayCloseCollection())
        return;
    if (const auto path = Platform_.Dialogs.OpenFileDialog(OpenDlg_Collection)) {
        CollectionFile = *path;
        OpenCollectionFile();
    }
}

void TForm_Main::OpenCollectionFile()
{
    if (CollectionFile.empty())
        return;
    TFileIdentity identity;
    bool loaded = false;
    bool whole = false;
    // The collection is read straight from the file's text, which is not kept after the load.
    const auto load = [&](std::string_view text) {
        ReplaceCollection();
        // The waiting changes belonged to the collection that has gone.
        Pending_.Clear();
        size_t readTo = 0;
        try {
            loaded = Collection().LoadFromText(text, readTo);
        } catch (...) {
            // Out of memory part-way: what was read must never be saved over the whole file.
            CollectionFile.clear();
            LoadedFile_.clear();
            KnownFile_.clear();
            throw;
        }
        // A load that stopped early (damage, a zero byte, a closing line before the end) holds
        // only part of the file: the file itself is kept aside before anything replaces it.
        whole = loaded && readTo == text.size();
    };
    const TFileOutcome outcome =
        Platform_.CollectionFiles.ReadInPlace(CollectionFile, load, identity);
    if (outcome != TFileOutcome::Done) {
        // The collection in memory stays, and so does the file it belongs to: a later save must
        // not write it over the file that failed to open.
        if (LoadedFile_.empty() && UnopenedLastCollection_.empty())
            UnopenedLastCollection_ = CollectionFile;
        CollectionFile = LoadedFile_;
        MessageBox(Ansi(outcome == TFileOutcome::OpenFailed ? "Ошибка при открытии файла коллекции"
                                                            : "Ошибка при загрузке коллекции"),
                   ApplicationTitle, TMessageKind::Error);
        return;
    }
    Platform_.CollectionFiles.RemoveStaleTemporaries(CollectionFile);
    LoadedFile_ = CollectionFile;
    KnownFile_ = CollectionFile;
    KnownIdentity_ = identity;
    KeepDamagedOriginal_ = !whole;
    if (!whole)
        MessageBox(Ansi("Файл коллекции поврежден или имеет неверный формат"), ApplicationTitle,
                   TMessageKind::Error);
    Caption_ = LiteralTitle("Fendrel - " + DisplayPath(CollectionFile));
    ShowCaption();
    TreeView_Main->selectionModel()->clear();
    ResetFilters(/*unmarked=*/true); // a collection read from its file has no marks
}

bool TForm_Main::SaveCollectionFile(const TCollectionChange& change, TAfterSave after)
{
    Pending_.Add(change);
    ShowCaption(); // unsaved until the save succeeds, whatever ends it
    return SavePendingChanges(after);
}

bool TForm_Main::SavePendingChanges(TAfterSave after)
{
    const bool known = !KnownFile_.empty() && KnownFile_ == CollectionFile;
    TReplaceRequest request;
    // The text goes to the file block by block as it is made: the whole of it, as large as the
    // collection's file, is never held beside the collection and the tree.
    request.Produce = [this](const TBlockSink& sink) {
        return Collection().SaveInBlocks(sink);
    };
    if (known)
        request.Expected = KnownIdentity_;
    request.KeepOriginal = known && KeepDamagedOriginal_;
    // Another program saved the file since this window read it: its collection is taken as it is
    // now, with every change this window has made since its last successful save made on it
    // again, unless it cannot be read whole.
    std::unique_ptr<TFendrel> merged;
    request.Merge = [&](std::string_view current) -> std::optional<std::string> {
        auto newer = std::make_unique<TFendrel>(&Progress_);
        size_t readTo = 0;
        if (!newer->LoadFromText(current, readTo) || readTo != current.size())
            return std::nullopt;
        Pending_.ApplyTo(Collection(), *newer);
        std::string newerText = newer->SaveToText();
        merged = std::move(newer);
        return newerText;
    };

    // Without filters, what a successful save ends with is the tree rebuilt from the collection
    // in memory; that is made while the disc takes the file, and it is right after a failed save
    // too, where the collection in memory holds the change all the same. With filters, a failed
    // save keeps them and their marks, so the tree waits for the outcome.
    bool rebuilt = false;
    if (Filters.empty()) {
        request.WhileSyncing = [&] {
            if (merged)
                return; // the collection shown now is about to be replaced
            try {
                FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
                rebuilt = true;
            } catch (...) {
                // Left to the rebuild after a successful save, which shows its error as ever.
            }
        };
    }

    const TReplaceResult result = Platform_.CollectionFiles.Replace(CollectionFile, request);
    if (result.Outcome != TFileOutcome::Done) {
        MessageBox(Ansi(result.Outcome == TFileOutcome::WriteFailed
                            ? "Ошибка при сохранении коллекции. Возможно, нет места на диске"
                            : "Ошибка при открытии файла коллекции"),
                   ApplicationTitle, TMessageKind::Error);
        return false;
    }
    KnownFile_ = CollectionFile;
    KnownIdentity_ = result.Identity;
    KeepDamagedOriginal_ = false;
    Pending_.Clear();
    ShowCaption();
    RefreshNameIndexLater(CollectionFile);
    if (result.Merged) {
        // The ids of the tree's items belong to the collection that goes now.
        ReplaceCollection(std::move(merged));
        after = TAfterSave::SelectRoot;
    }
    if (!rebuilt || result.Merged) {
        if (after == TAfterSave::SelectRoot)
            TreeView_Main->selectionModel()->clear();
        ResetFilters();
    } else if (after == TAfterSave::SelectRoot) {
        TreeView_Main->selectionModel()->clear();
        if (const int root = FindTreeItem(*TreeView_Main, 0); root >= 0)
            SelectTreeItem(*TreeView_Main, root);
    }
    if (result.Merged)
        MessageBox(Ansi("Файл коллекции был изменен другой программой. Сохранены изменения "
                        "обеих программ."),
                   ApplicationTitle, TMessageKind::Information);
    return true;
}

bool TForm_Main::MayCloseCollection()
{
    if (Pending_.empty())
        return true;
    const std::string question =
        Ansi("Последние изменения коллекции не сохранены в ее файле. Попробовать сохранить их "
             "снова?\r\n\r\nДа - сохранить; если не получится, коллекция останется открытой.\r\n"
             "Нет - отказаться от этих изменений.");
    if (MessageBox(question, ApplicationTitle, TMessageKind::Question) != TMessageResult::Yes)
        return true;
    return SavePendingChanges(TAfterSave::KeepSelection);
}

void TForm_Main::ShowCaption()
{
    const QString caption = Caption_.isEmpty() ? Display(ApplicationTitle) : Caption_;
    setWindowTitle(Pending_.empty() ? caption : caption + QStringLiteral(" *"));
}

void TForm_Main::Act_ExitExecute(QObject*)
{
    close();
}

void TForm_Main::Act_HelpContentsExecute(QObject*)
{
    if (!Platform_.Help.OpenHelpFile(kHelpFile))
        MessageBox(Ansi("Ошибка вызова справки - проверьте наличие файла Fendrel.chm"),
                   ApplicationTitle, TMessageKind::Error);
}

void TForm_Main::Act_HelpAboutExecute(QObject*)
{
    MessageBox(Ansi("Fendrel v1.2\r\n"
                    "Каталог содержимого дисков CD и DVD\r\n"
                    "Свободная программа, 2026 год"),
               Ansi("О программе"), TMessageKind::Information);
}
