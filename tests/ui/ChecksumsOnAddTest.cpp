// "Контрольные суммы при добавлении": adds and updates that also read every file's bytes.
#include "support/DiscTrees.h"
#include "support/WindowFixture.h"

#include "app/Settings.h"
#include "browse/CollectionTree.h"
#include "collection/DiscTreeDiff.h"

#include <QAction>
#include <QTreeView>

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <xxhash.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

namespace {

constexpr int64_t kTime = 1600000000;

TContentChecksum ChecksumOf(const std::string& bytes)
{
    const XXH128_hash_t hash = XXH3_128bits(bytes.data(), bytes.size());
    return {hash.low64, hash.high64};
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// The checksums of a disc's files by their path below the disc ("Docs\a.txt", UTF-8).
std::map<std::string, TContentChecksum> ChecksumsByPath(const TFendrel& c, uint32_t disc)
{
    std::map<std::string, TContentChecksum> found;
    std::vector<std::pair<uint32_t, std::string>> pending = {{disc, ""}};
    while (!pending.empty()) {
        const auto [id, prefix] = pending.back();
        pending.pop_back();
        for (const uint32_t child : c.GetNode(id).Children) {
            const TCollectionNode& node = c.GetNode(child);
            const std::string path = prefix + AnsiToUtf8(node.Name.str());
            if (node.Is(nfFolder))
                pending.emplace_back(child, path + "\\");
            else if (const auto sum = c.Checksums.find(child); sum != c.Checksums.end())
                found[path] = sum->second;
        }
    }
    return found;
}

class ChecksumsOnAdd : public TWindowFixture {
protected:
    ChecksumsOnAdd()
    {
        MakeTree(Stick, {FolderEntry("Docs", kTime)});
        Write(Stick + "/Docs/a.txt", "first file");
        Write(Stick + "/big.bin", std::string(3 << 20, 'x') + "end");
        Write(Stick + "/empty", "");
        fs::create_symlink("Docs", Stick + "/link");
        MakeWindow().CollectionFile = PathOf("discs.frl");
        Dialogs.Messages.clear(); // the warning that there is no drive
    }

    void AddStick(const std::string& title)
    {
        Dialogs.FolderAnswers.push_back(Stick);
        Dialogs.InputAnswers.push_back(Ansi(title));
        Window->Act_AddFolder->trigger();
    }

    [[nodiscard]] std::map<std::string, TContentChecksum> Expected() const
    {
        return {{"Docs\\a.txt", ChecksumOf("first file")},
                {"big.bin", ChecksumOf(std::string(3 << 20, 'x') + "end")},
                {"empty", ChecksumOf("")}};
    }

    TScratchFolder Scratch;
    std::string Stick = Scratch / "STICK";
};

TEST_F(ChecksumsOnAdd, ItemIsOffUntilCheckedAndTheSettingOutlivesTheWindow)
{
    TForm_Main& w = *Window;
    EXPECT_TRUE(w.Act_ChecksumsOnAdd->isCheckable());
    EXPECT_FALSE(w.Act_ChecksumsOnAdd->isChecked());
    AddStick("Без сумм");
    EXPECT_THAT(w.Collection().Checksums, IsEmpty());
    EXPECT_THAT(Dialogs.ReadingBoxes, IsEmpty());

    w.Act_ChecksumsOnAdd->trigger();
    EXPECT_EQ(Settings.Keys[kCurrentSettingsKey][kChecksumsOnAddValue],
              TSettingsValue::OfInteger(1));
    TForm_Main second(Platform());
    EXPECT_TRUE(second.Act_ChecksumsOnAdd->isChecked());
    second.Act_ChecksumsOnAdd->trigger();
    EXPECT_EQ(Settings.Keys[kCurrentSettingsKey][kChecksumsOnAddValue],
              TSettingsValue::OfInteger(0));

    // A value of another type is no reason to refuse the start: the item stays off.
    Settings.Keys[kCurrentSettingsKey][kChecksumsOnAddValue] = TSettingsValue::OfString("1");
    TForm_Main third(Platform());
    EXPECT_FALSE(third.Act_ChecksumsOnAdd->isChecked());
}

TEST_F(ChecksumsOnAdd, AddRecordsEveryFilesChecksumAndTheFileKeepsThem)
{
    TForm_Main& w = *Window;
    w.Act_ChecksumsOnAdd->trigger();
    AddStick("Флешка");
    ASSERT_EQ(w.Collection().Discs.size(), 1u);
    const uint32_t disc = w.Collection().Discs.back();
    // The link has no content of its own to check.
    EXPECT_EQ(ChecksumsByPath(w.Collection(), disc), Expected());
    ASSERT_EQ(Dialogs.ReadingBoxes.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.ReadingBoxes[0].Title), "Чтение диска «Флешка»");
    EXPECT_EQ(Dialogs.ReadingBoxes[0].Total, 10u + (3u << 20) + 3u);
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Добавлено элементов: 5\r\nФайлов с контрольными суммами: 3"));
    EXPECT_TRUE(IdsArePreOrder(w.Collection(), w.Collection().GetNode(disc)));

    // Loaded back by another window, the checksums belong to the same files.
    TForm_Main second(Platform());
    Dialogs.FileAnswers.push_back(w.CollectionFile);
    second.Act_LoadCollection->trigger();
    ASSERT_EQ(second.Collection().Discs.size(), 1u);
    EXPECT_EQ(ChecksumsByPath(second.Collection(), second.Collection().Discs.back()), Expected());
}

TEST_F(ChecksumsOnAdd, CancelledReadingAddsNothingAndStopsTheCommand)
{
    TForm_Main& w = *Window;
    AddStick("Первый");
    const std::string saved = FileContent(w.CollectionFile);
    const uint32_t lastId = w.Collection().LastId;
    Dialogs.Messages.clear();

    w.Act_ChecksumsOnAdd->trigger();
    Dialogs.CancelReadings.push_back(true);
    AddStick("Второй");
    EXPECT_EQ(w.Collection().Discs.size(), 1u);
    EXPECT_EQ(w.Collection().LastId, lastId);
    EXPECT_THAT(w.Collection().Checksums, IsEmpty());
    // Only the question whether the same medium is to be updated (answered No) was asked.
    EXPECT_THAT(Dialogs.MessageTexts(),
                ElementsAre("Этот носитель уже есть в коллекции: «Первый». Обновить этот диск?"));
    EXPECT_EQ(FileContent(w.CollectionFile), saved);
    EXPECT_EQ(w.TreeView_Main->model()->rowCount(w.TreeView_Main->model()->index(0, 0)), 1);
}

TEST_F(ChecksumsOnAdd, UpdateRecordsChecksumsEvenOfAnUnchangedDiscAndCancelKeepsTheDisc)
{
    TForm_Main& w = *Window;
    AddStick("Флешка");
    const uint32_t disc = w.Collection().Discs.back();
    SelectTreeItem(*w.TreeView_Main, FindTreeItem(*w.TreeView_Main, disc));
    w.Act_ChecksumsOnAdd->trigger();

    Dialogs.CancelReadings.push_back(true);
    const std::string saved = FileContent(w.CollectionFile);
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(w.Collection().Checksums, IsEmpty());
    EXPECT_EQ(FileContent(w.CollectionFile), saved);

    Dialogs.Messages.clear();
    w.Act_UpdateDisc->trigger();
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Диск «Флешка» не изменился"));
    EXPECT_EQ(ChecksumsByPath(w.Collection(), disc), Expected());
    TForm_Main second(Platform());
    Dialogs.FileAnswers.push_back(w.CollectionFile);
    second.Act_LoadCollection->trigger();
    EXPECT_EQ(ChecksumsByPath(second.Collection(), second.Collection().Discs.back()), Expected());
}

} // namespace
