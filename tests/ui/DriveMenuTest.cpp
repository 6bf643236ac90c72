#include "support/WindowFixture.h"

#include "app/Settings.h"
#include "platform/QtText.h"

#include <QAction>
#include <QMenu>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

class DriveMenu : public TWindowFixture {
protected:
    // Builds the window over the drives; stored: the DefDrive setting, if any.
    TForm_Main& Start(const std::string& letters, std::optional<uint32_t> stored = std::nullopt)
    {
        for (const char letter : letters)
            Drives.Add(letter, {TDriveSource::TKind::Folder, Folder.path().toStdString(), {}});
        if (stored)
            Settings.Keys[kCurrentSettingsKey][kDefDriveValue] = TSettingsValue::OfInteger(*stored);
        return MakeWindow();
    }
    // Each drive item's caption, with "*" when checked; checks the tags on the way.
    [[nodiscard]] std::vector<std::string> Items() const
    {
        std::vector<std::string> items;
        for (const QAction* item : Window->MI_SelectDefDrive->actions()) {
            EXPECT_EQ(item->property("Tag").toInt(), static_cast<int>(items.size()));
            EXPECT_EQ(item->text(), Display(LiteralCaption(item)));
            items.push_back(LiteralCaption(item) + (item->isChecked() ? "*" : ""));
        }
        return items;
    }
    [[nodiscard]] std::optional<TSettingsValue> StoredDefDrive()
    {
        Window.reset();
        const TSettingsKey& key = Settings.Keys[kCurrentSettingsKey];
        const auto found = key.find(kDefDriveValue);
        return found == key.end() ? std::nullopt : std::optional(found->second);
    }
};

TEST_F(DriveMenu, OneDriveAndNothingStoredMakesItTheDefault)
{
    TForm_Main& w = Start("E");
    EXPECT_THAT(Items(), ElementsAre("E:*"));
    EXPECT_EQ(w.DefDriveIndex, 0);
    EXPECT_TRUE(w.Act_AddDisc->isEnabled());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(DriveMenu, StoredDriveIsCheckedAndOneThatIsGoneGivesWayToTheFirst)
{
    EXPECT_EQ(Start("FD", 5).DefDriveIndex, 1);
    EXPECT_THAT(Items(), ElementsAre("D:", "F:*"));
    Window.reset();
    EXPECT_EQ(Start("", 6).DefDriveIndex, 0);
    EXPECT_THAT(Items(), ElementsAre("D:*", "F:"));
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_EQ(StoredDefDrive(), TSettingsValue::OfInteger(3));
}

TEST_F(DriveMenu, ChosenDriveStaysCheckedAndIsStoredAtShutdown)
{
    TForm_Main& w = Start("DF");
    const QList<QAction*> items = w.MI_SelectDefDrive->actions();
    items[1]->trigger();
    items[1]->trigger();
    EXPECT_THAT(Items(), ElementsAre("D:", "F:*"));
    EXPECT_EQ(w.DefDriveIndex, 1);
    EXPECT_EQ(StoredDefDrive(), TSettingsValue::OfInteger(5));
}

TEST_F(DriveMenu, NoDriveWarnsOnceAndDisablesAddingDiscs)
{
    TForm_Main& w = Start("");
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(w.DefDriveIndex, -1);
    EXPECT_FALSE(w.Act_AddDisc->isEnabled());
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "В системе нет CD/DVD дисководов. Добавление новых дисков будет недоступно");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Warning);
    w.Act_AddDiscExecute(nullptr);
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_TRUE(Dialogs.Inputs.empty());
    EXPECT_EQ(StoredDefDrive(), std::nullopt);
}

} // namespace
