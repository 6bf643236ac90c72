// "Библиотека → Открыть как папку": the collection mounted by fendrel-mount and opened in the file
// manager, unmounted when another collection is opened or the window goes; the boxes that say
// why it cannot be done.
#include "support/WindowFixture.h"

#include "discs/Drives.h"
#include "mounttool/MountCommand.h"

#include <QAction>

#include <gmock/gmock.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

const std::string kCollection = ";Fendrel File v1 begin\r\n"
                                "D 00000000 00000000 00000000 Backup\r\n"
                                "E 01C5E0A1 3B2C4D00 00000010 a.txt\r\n"
                                "<\r\n";

bool IsMountPoint(const std::string& folder)
{
    char real[PATH_MAX];
    return ::realpath(folder.c_str(), real) && MountedDeviceAt(real, ReadMountInfo());
}

class OpenAsFolder : public TWindowFixture {
protected:
    // A window with the collection file discs.frl open, and its command given tools.
    TForm_Main& WindowWith(TMountCommand::TTools tools)
    {
        for (const char* name : {"discs.frl", "other.frl"})
            std::ofstream(PathOf(name), std::ios::binary) << kCollection;
        TForm_Main& w = MakeWindow();
        w.Mounter = std::make_unique<TMountCommand>(w, std::move(tools));
        Dialogs.FileAnswers.push_back(PathOf("discs.frl"));
        w.Act_LoadCollection->trigger();
        Dialogs.Messages.clear();
        return w;
    }
    [[nodiscard]] TMountCommand::TTools Tools() const
    {
        TMountCommand::TTools tools = TMountCommand::TTools::Installed();
        tools.Program = FENDREL_MOUNT_PROGRAM;
        tools.RuntimeFolder = PathOf("run");
        return tools;
    }
};

} // namespace

TEST_F(OpenAsFolder, MountsTheCollectionOpensTheFolderAndUnmountsForAnotherCollection)
{
    if (::access("/dev/fuse", F_OK) != 0 || Tools().Unmounter.empty())
        GTEST_SKIP() << "this machine has no /dev/fuse or no fusermount3: the mount is not tried";
    TForm_Main& w = WindowWith(Tools());
    const std::string folder = PathOf("run") + "/fendrel/discs";
    w.Act_OpenAsFolder->trigger();
    EXPECT_THAT(Dialogs.Messages, IsEmpty());
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(folder));
    EXPECT_EQ(w.Mounter->MountedFolder(), folder);
    EXPECT_TRUE(std::filesystem::exists(folder + "/Backup/a.txt"));

    // Asked again, the same mount's folder is opened again.
    w.Act_OpenAsFolder->trigger();
    EXPECT_THAT(Help.OpenedFolders, ElementsAre(folder, folder));

    Dialogs.FileAnswers.push_back(PathOf("other.frl"));
    w.Act_LoadCollection->trigger();
    EXPECT_FALSE(IsMountPoint(folder));
    EXPECT_TRUE(w.Mounter->MountedFolder().empty());

    w.Act_OpenAsFolder->trigger();
    const std::string other = PathOf("run") + "/fendrel/other";
    EXPECT_TRUE(IsMountPoint(other));
    Window.reset(); // closing the window unmounts it
    EXPECT_FALSE(IsMountPoint(other));
}

TEST_F(OpenAsFolder, WhatIsMissingIsSaidInABox)
{
    TMountCommand::TTools noFuse = Tools();
    noFuse.FuseDevice = PathOf("no-fuse");
    TForm_Main& w = WindowWith(noFuse);
    w.Act_OpenAsFolder->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 1U);
    EXPECT_EQ(Dialogs.Messages[0].Utf8Text(),
              "Открыть коллекцию как папку нельзя: в системе нет " + PathOf("no-fuse") +
                  " (ядро без поддержки FUSE или модуль fuse не загружен).");
    EXPECT_EQ(Dialogs.Messages[0].Kind, TMessageKind::Error);

    TMountCommand::TTools noUnmounter = Tools();
    noUnmounter.FuseDevice = PathOf("discs.frl"); // any file stands for the device here
    noUnmounter.Unmounter.clear();
    w.Mounter = std::make_unique<TMountCommand>(w, noUnmounter);
    w.Act_OpenAsFolder->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 2U);
    EXPECT_THAT(Dialogs.Messages[1].Utf8Text(), HasSubstr("fusermount3 (пакет fuse3)"));

    // fendrel-mount refuses: what it said is shown.
    TMountCommand::TTools refusing = Tools();
    refusing.FuseDevice = PathOf("discs.frl");
    refusing.Unmounter = "/bin/true";
    refusing.Program = "/bin/false";
    w.Mounter = std::make_unique<TMountCommand>(w, refusing);
    w.Act_OpenAsFolder->trigger();
    ASSERT_EQ(Dialogs.Messages.size(), 3U);
    EXPECT_EQ(Dialogs.Messages[2].Utf8Text(), "Не удалось открыть коллекцию как папку.");
    EXPECT_TRUE(Help.OpenedFolders.empty());
}
