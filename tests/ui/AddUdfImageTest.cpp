#include "support/UdfImageBuilder.h"
#include "support/WindowFixture.h"

#include <QAction>
#include <gmock/gmock.h>

using ::testing::ElementsAre;

namespace {

constexpr int64_t kTime = 1600000000;

class AddUdfImage : public TWindowFixture {};

// A Blu-ray kept as an image: UDF 2.50 alone, with its folders in a metadata partition, added
// by the image command of a machine without an optical drive.
TEST_F(AddUdfImage, UdfOnlyImageIsAddedLikeAnyDisc)
{
    TScratchFolder scratch;
    const std::string image = scratch / "Фильм.iso";
    TUdfImageOptions options;
    options.Metadata = true;
    options.Label = "Отпуск 2023";
    WriteFile(image, MakeUdfImage({FolderEntry("BDMV", kTime),
                                   FileEntry("BDMV/00001.m2ts", kTime, 6ull << 30),
                                   FileEntry("Очень длинное имя файла, какого в Joliet не бывает, "
                                             "потому что в нём больше шестидесяти четырёх букв.txt",
                                             kTime, 5)},
                                  options)
                         .Bytes);
    TForm_Main& w = MakeWindow();
    w.CollectionFile = scratch / "discs.frl";
    Dialogs.Messages.clear();
    Dialogs.FileAnswers.push_back(image);
    Dialogs.InputAnswers.push_back(Ansi("Отпуск"));
    w.Act_AddImage->trigger();

    ASSERT_EQ(Dialogs.Inputs.size(), 1u);
    EXPECT_EQ(AnsiToUtf8(Dialogs.Inputs[0].Initial), " [Отпуск 2023]");
    EXPECT_THAT(Dialogs.MessageTexts(), ElementsAre("Добавлено элементов: 3"));
    const TFendrel& c = w.Collection();
    ASSERT_EQ(c.Discs.size(), 1u);
    const std::string t = std::to_string(FileTimeFromUnix(kTime));
    EXPECT_EQ(DumpScanned(c, c.GetNode(c.Discs[0]), true),
              "F BDMV t=" + t + " s=0\n  E 00001.m2ts t=" + t + " s=" + std::to_string(6ull << 30) +
                  "\nE Очень длинное имя файла, какого в Joliet не бывает, потому что в нём больше "
                  "шестидесяти четырёх букв.txt t=" +
                  t + " s=5\n");
    EXPECT_TRUE(std::filesystem::exists(w.CollectionFile));
}

} // namespace
