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
    void AddDrive(char letter)
    {
        Drives.Add(letter, {TDriveSource::TKind::Folder, Folder.path().toStdString(), {}});
    }
    void StoreDefDrive(uint32_t offset)
    {
        Settings.Keys[kCurrentSettingsKey][kDefDriveValue] = TSettingsValue::OfInteger(offset);
    }
    // Each drive item as its caption, followed by "*" when checked.
    [[nodiscard]] std::vector<std::string> Items() const
    {
        std::vector<std::string> items;
        int position = 0;
        for (const QAction* item : Window->MI_SelectDefDrive->actions()) {
            EXPECT_EQ(item->property("Tag").toInt(), position++);
            EXPECT_EQ(item->text(), Display(LiteralCaption(item)));
            items.push_back(LiteralCaption(item) + (item->isChecked() ? "*" : ""));
        }
        return items;
    }
    [[nodiscard]] QAction* Item(int position) const
    {
        return Window->MI_SelectDefDrive->actions().at(position);
    }
    [[nodiscard]] std::optional<TSettingsValue> StoredDefDrive()
    {
        const TSettingsKey& key = Settings.Keys[kCurrentSettingsKey];
        const auto found = key.find(kDefDriveValue);
        return found == key.end() ? std::nullopt : std::optional(found->second);
    }
};

TEST_F(DriveMenu, OneDriveAndNothingStoredMakesItTheDefault)
{
    AddDrive('E');
    TForm_Main& w = MakeWindow();
    EXPECT_THAT(Items(), ElementsAre("E:*"));
    EXPECT_EQ(w.DefDriveIndex, 0);
    EXPECT_TRUE(w.Act_AddDisc->isEnabled());
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(DriveMenu, StoredDriveIsCheckedAndAStoredLetterThatIsGoneFallsBackToTheFirst)
{
    AddDrive('F');
    AddDrive('D');
    StoreDefDrive(5);
    MakeWindow();
    EXPECT_THAT(Items(), ElementsAre("D:", "F:*"));
    EXPECT_EQ(Window->DefDriveIndex, 1);

    Window.reset();
    StoreDefDrive(6);
    MakeWindow();
    EXPECT_THAT(Items(), ElementsAre("D:*", "F:"));
    EXPECT_EQ(Window->DefDriveIndex, 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
    Window.reset();
    EXPECT_EQ(StoredDefDrive(), TSettingsValue::OfInteger(3));
}

TEST_F(DriveMenu, ChoosingAnotherDriveIsStoredAtShutdown)
{
    AddDrive('D');
    AddDrive('F');
    MakeWindow();
    Item(1)->trigger();
    EXPECT_THAT(Items(), ElementsAre("D:", "F:*"));
    EXPECT_EQ(Window->DefDriveIndex, 1);
    Item(1)->trigger(); // the checked item stays checked
    EXPECT_THAT(Items(), ElementsAre("D:", "F:*"));
    Window.reset();
    EXPECT_EQ(StoredDefDrive(), TSettingsValue::OfInteger(5));
}

TEST_F(DriveMenu, NoDriveWarnsOnceAndDisablesAddingDiscs)
{
    TForm_Main& w = MakeWindow();
    EXPECT_TRUE(Items().empty());
    EXPECT_EQ(w.DefDriveIndex, -1);
    EXPECT_FALSE(w.Act_AddDisc->isEnabled());
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "В системе нет CD/DVD дисководов. Добавление новых дисков будет недоступно");
    EXPECT_EQ(Dialogs.Messages[0].Utf8Title(), "Fendrel v1.2");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Warning);

    w.Act_AddDiscExecute(nullptr); // does nothing without a drive
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_TRUE(Dialogs.Inputs.empty());
    EXPECT_TRUE(w.Collection().Discs.empty());
}

} // namespace
