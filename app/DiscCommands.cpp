// "Переименовать диск..." and "Свойства диска...": the title and the record of the disc of the
// selected tree item.
#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "browse/CollectionTreeModel.h"
#include "browse/FolderListing.h"
#include "collection/CollectionChange.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "platform/QtText.h"

#include <QTreeView>

namespace {

// 5368709120 as "5 368 709 120".
std::string Grouped(uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            grouped += ' ';
        grouped += digits[at];
    }
    return grouped;
}

std::string SizeText(uint64_t bytes)
{
    return AnsiToUtf8(FormatSize(bytes)) + " (" + Grouped(bytes) + " байт)";
}

std::string DateText(uint64_t fileTime, int64_t offset)
{
    const auto time = FileTimeToLocal(static_cast<uint32_t>(fileTime >> 32),
                                      static_cast<uint32_t>(fileTime), offset);
    return time ? FormatDate(*time) + " " + FormatTime(*time) : std::string();
}

const char* SourceText(TSourceKind kind)
{
    switch (kind) {
    case TSourceKind::Unknown:
        return "неизвестно";
    case TSourceKind::Drive:
        return "дисковод";
    case TSourceKind::Image:
        return "образ диска";
    case TSourceKind::Folder:
        return "папка";
    }
    return "";
}

// What the disc holds, counted when shown.
struct TDiscStatistics {
    uint64_t Folders = 0, Files = 0, Total = 0, Largest = 0, Newest = 0;
    std::string LargestName, NewestName; // 8-bit
};

TDiscStatistics Count(const TFendrel& collection, const TCollectionNode& disc)
{
    TDiscStatistics counted;
    std::vector<const TCollectionBranch*> pending{&disc.Children};
    while (!pending.empty()) {
        const TCollectionBranch* branch = pending.back();
        pending.pop_back();
        for (const uint32_t id : *branch) {
            const TCollectionNode& node = collection.GetNode(id);
            if (!node.Is(nfFile)) {
                ++counted.Folders;
                pending.push_back(&node.Children);
                continue;
            }
            ++counted.Files;
            counted.Total += node.FullSize();
            const uint64_t time = (uint64_t{node.WriteTimeHigh} << 32) | node.WriteTimeLow;
            if (counted.Files == 1 || node.FullSize() > counted.Largest) {
                counted.Largest = node.FullSize();
                counted.LargestName = FullPath(collection, node);
            }
            if (counted.Files == 1 || time > counted.Newest) {
                counted.Newest = time;
                counted.NewestName = FullPath(collection, node);
            }
        }
    }
    return counted;
}

// Every row of the properties box: what is not known is left out, but for the source and the
// dates the user looks for.
TDiscProperties Properties(const TFendrel& collection, const TCollectionNode& disc,
                           const TDiscRecord& record, int64_t offset)
{
    TDiscProperties shown;
    auto row = [&shown](const char* name, std::string value) {
        if (!value.empty())
            shown.Rows.push_back({name, std::move(value)});
    };
    auto number = [&row](const char* name, uint64_t value) {
        row(name, value ? Grouped(value) : std::string());
    };
    auto size = [&row](const char* name, uint64_t value) {
        row(name, value ? SizeText(value) : std::string());
    };
    auto date = [&row, offset](const char* name, uint64_t value) {
        row(name, value ? DateText(value, offset) : std::string());
    };
    const TVolumeFacts& facts = record.Facts;
    const TDiscSource& source = facts.Source;
    const TMediumIdentity& identity = facts.Identity;

    row("Заголовок", AnsiToUtf8(disc.Name));
    row("Источник", SourceText(source.Kind));
    row("Путь", DisplayPath(source.Path).toStdString());
    row("Дисковод", source.DriveName);
    size("Размер образа", source.ImageSize);
    date("Дата образа", source.ImageTime);
    row("Точка монтирования", DisplayPath(source.MountPoint).toStdString());
    row("Тип файловой системы", source.FsType);
    row("Метка тома", identity.Label);
    row("Файловая система", identity.FileSystem);
    row("Идентификатор набора томов", identity.VolumeSetId);
    row("Идентификатор логического тома", identity.LogicalVolumeId);
    date("Дата создания тома", identity.CreationTime);
    number("Размер тома в блоках", identity.VolumeBlocks);
    row("UUID", identity.Uuid);
    size("Ёмкость", facts.Capacity);
    size("Свободно", facts.FreeSpace);
    row("Добавлен", record.Added ? DateText(record.Added, offset) : "неизвестно");
    row("Обновлен", record.Updated ? DateText(record.Updated, offset) : "не обновлялся");

    const TDiscStatistics counted = Count(collection, disc);
    row("Папок", Grouped(counted.Folders));
    row("Файлов", Grouped(counted.Files));
    row("Общий размер", SizeText(counted.Total));
    if (counted.Files > 0) {
        row("Самый большой файл",
            AnsiToUtf8(counted.LargestName) + ", " + SizeText(counted.Largest));
        const std::string newest = DateText(counted.Newest, offset);
        row("Самый новый файл",
            AnsiToUtf8(counted.NewestName) + (newest.empty() ? "" : ", " + newest));
    }
    shown.Notes = record.Notes;
    return shown;
}

} // namespace

uint32_t TForm_Main::SelectedDisc()
{
    const int selected = SelectedTreeItem(*TreeView_Main);
    if (selected < 0)
        return 0;
    uint32_t id = TreeModel->Item(selected).Data;
    // A folder item stands for its disc: the node at the top of its branch.
    while (id != 0) {
        const TCollectionNode& node = Collection().GetNode(id);
        if (node.ParentId == 0)
            return id;
        id = node.ParentId;
    }
    return 0;
}

void TForm_Main::Act_RenameDiscExecute(QObject*)
{
    const uint32_t id = SelectedDisc();
    if (id == 0)
        return;
    std::optional<std::string> title = Platform_.Dialogs.InputBox(
        Ansi("Переименование диска"), Ansi("Введите новый заголовок диска"),
        std::string(Collection().GetNode(id).Name));
    if (!title)
        return;
    EscapeControlBytes(*title);
    const TCollectionChange change = TCollectionChange::DiscRenamed(Collection(), id, *title);
    Collection().GetNode(id).Name = *title;
    // A successful save rebuilds the tree, the disc still selected; after a failed one the
    // renamed disc is shown all the same, as it is in memory.
    if (!SaveCollectionFile(change))
        FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}

void TForm_Main::Act_DiscPropertiesExecute(QObject*)
{
    const uint32_t id = SelectedDisc();
    if (id == 0)
        return;
    const auto found = Collection().DiscRecords.find(id);
    const TDiscRecord record =
        found != Collection().DiscRecords.end() ? found->second : TDiscRecord{};
    const std::optional<std::string> notes = Platform_.Dialogs.DiscPropertiesBox(
        Properties(Collection(), Collection().GetNode(id), record, UtcOffsetNow()));
    if (!notes || *notes == record.Notes)
        return;
    const TCollectionChange change = TCollectionChange::NotesChanged(Collection(), id, *notes);
    Collection().DiscRecords[id].Notes = *notes;
    (void)SaveCollectionFile(change);
}
