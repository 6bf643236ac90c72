#include "collection/NameOrder.h"
#include "platform/AnsiText.h"
#include "platform/InputBox.h"
#include "platform/QtText.h"
#include "platform/SettingsStore.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(PlatformText, LowerCasingAgreesWithUnicodeForEveryByte)
{
    for (int byte = 0; byte < 256; ++byte) {
        if (byte == 0x98)
            continue;
        const std::string ansi(1, static_cast<char>(byte));
        const std::string expected = FromDisplay(Display(ansi).toLower());
        EXPECT_EQ(std::string(1, CharLowerA(static_cast<char>(byte))), expected) << byte;
    }
}

TEST(PlatformText, MenuCaptionsAreShownAndReadBackLiterally)
{
    QAction action;
    const std::string caption = Ansi("r&b\tпапка");
    SetLiteralCaption(&action, caption);
    EXPECT_EQ(LiteralCaption(&action), caption);
    EXPECT_EQ(action.text(), "r&&b папка");
}

TEST(PlatformText, CharactersOutsideTheCodePageReachTheWidgetsAndComeBackWhole)
{
    const QString typed = QString::fromUtf8("Müller 日本 😀 Ёж");
    const std::string ansi = FromDisplay(typed);
    EXPECT_EQ(ansi.find('?'), std::string::npos);
    EXPECT_EQ(Display(ansi), typed);
    QAction action;
    SetLiteralCaption(&action, FoldName(ansi));
    EXPECT_EQ(action.text(), QString::fromUtf8("müller 日本 😀 ёж"));
}

TEST(PlatformInputBox, FieldTakes255CharactersWithTheInitialTextSelected)
{
    TInputBox box("Caption", "Prompt", "initial");
    auto* edit = box.findChild<QLineEdit*>("InputBox_Edit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->maxLength(), 255);
    EXPECT_EQ(edit->selectedText(), "initial");
    edit->setText(QString(300, 'x'));
    EXPECT_EQ(box.Text().size(), 255);
}

class FileSettings : public ::testing::Test {
protected:
    QTemporaryDir Folder;
    std::string Path = (Folder.path() + "/conf/settings.reg").toStdString();
    TFileSettingsStore Store{Path};
};

TEST_F(FileSettings, MissingFileHasNoKeys)
{
    EXPECT_EQ(Store.ReadKey("\\SOFTWARE\\Quorin Software\\Fendrel"), std::nullopt);
}

TEST_F(FileSettings, ValuesKeepTheirTypesAndOddBytesThroughTheFile)
{
    const std::string odd = "C:\\dir \"q\"\r\n\x01/\xD0\xAF";
    Store.WriteValues("\\SOFTWARE\\Quorin Software\\Fendrel",
                      {{"DefDrive", TSettingsValue::OfInteger(3)},
                       {"LastCollection", TSettingsValue::OfString(odd)},
                       {"Expanded", {TSettingsValue::TType::ExpandString, 0, "$HOME"}}});
    TFileSettingsStore reopened(Path);
    const auto key = reopened.ReadKey("\\software\\quorin software\\FENDREL");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->at("DefDrive"), TSettingsValue::OfInteger(3));
    EXPECT_EQ(key->at("LastCollection"), TSettingsValue::OfString(odd));
    EXPECT_EQ(key->at("Expanded").Type, TSettingsValue::TType::ExpandString);

    QFile file(QString::fromStdString(Path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[\\SOFTWARE\\Quorin Software\\Fendrel]\n"));
    EXPECT_TRUE(text.contains("\"DefDrive\"=dword:00000003\n"));
}

TEST_F(FileSettings, DeletingAKeyTakesItsSubkeysAndKeepsItsParent)
{
    Store.WriteValues("\\SOFTWARE\\QRS\\Fendrel", {{"A", TSettingsValue::OfInteger(1)}});
    Store.WriteValues("\\SOFTWARE\\QRS\\Fendrel\\Sub", {{"B", TSettingsValue::OfInteger(2)}});
    Store.WriteValues("\\SOFTWARE\\QRS", {{"C", TSettingsValue::OfInteger(3)}});
    Store.WriteValues("\\SOFTWARE\\QRS\\FendrelX", {{"D", TSettingsValue::OfInteger(4)}});
    Store.DeleteKeyTree("\\SOFTWARE\\QRS\\Fendrel");
    EXPECT_FALSE(Store.ReadKey("\\SOFTWARE\\QRS\\Fendrel"));
    EXPECT_FALSE(Store.ReadKey("\\SOFTWARE\\QRS\\Fendrel\\Sub"));
    EXPECT_TRUE(Store.ReadKey("\\SOFTWARE\\QRS"));
    EXPECT_TRUE(Store.ReadKey("\\SOFTWARE\\QRS\\FendrelX"));
}

TEST_F(FileSettings, FifoInPlaceOfTheFileIsUnreadableWithoutWaiting)
{
    ASSERT_TRUE(QDir().mkpath(Folder.path() + "/conf"));
    ASSERT_EQ(::mkfifo(Path.c_str(), 0600), 0);
    ::alarm(20); // a read that waits for a writer ends the run here
    EXPECT_THROW((void)Store.ReadKey("\\K"), ESettingsError);
    EXPECT_THROW(Store.WriteValues("\\K", {}), ESettingsError);
    ::alarm(0);
}

TEST_F(FileSettings, DamagedFileIsReportedNotRewritten)
{
    Store.WriteValues("\\K", {{"A", TSettingsValue::OfInteger(1)}});
    QFile file(QString::fromStdString(Path));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("\"Broken\"=dword:zz\n");
    file.close();
    EXPECT_THROW((void)Store.ReadKey("\\K"), ESettingsError);
    EXPECT_THROW(Store.WriteValues("\\K", {}), ESettingsError);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Broken"));
}

} // namespace
