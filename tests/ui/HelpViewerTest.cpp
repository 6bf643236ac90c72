#include "platform/HelpViewer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Runs in a temporary current folder, as the program runs in its own.
class DesktopHelpViewer : public ::testing::Test {
protected:
    DesktopHelpViewer()
        : Previous_(QDir::currentPath())
    {
        QDir::setCurrent(Folder_.path());
    }
    ~DesktopHelpViewer() override { QDir::setCurrent(Previous_); }

    static void CreateHelpFile()
    {
        QFile file("Fendrel.chm");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("ITSF");
    }
    static QStringList Program(const char* name) { return {QStandardPaths::findExecutable(name)}; }

private:
    QString Previous_;
    QTemporaryDir Folder_;
};

TEST_F(DesktopHelpViewer, MissingFileIsNotHandedToTheLauncher)
{
    // The launcher would say yes; the file is not there.
    EXPECT_FALSE(TDesktopHelpViewer(Program("true")).OpenHelpFile("Fendrel.chm"));
    QDir().mkdir("Fendrel.chm");
    EXPECT_FALSE(TDesktopHelpViewer(Program("true")).OpenHelpFile("Fendrel.chm"));
}

TEST_F(DesktopHelpViewer, LauncherDecidesWhetherTheFileCouldBeOpened)
{
    CreateHelpFile();
    EXPECT_TRUE(TDesktopHelpViewer(Program("true")).OpenHelpFile("Fendrel.chm"));
    EXPECT_FALSE(TDesktopHelpViewer(Program("false")).OpenHelpFile("Fendrel.chm"));
    EXPECT_FALSE(TDesktopHelpViewer({"/nonexistent/launcher"}).OpenHelpFile("Fendrel.chm"));
    EXPECT_FALSE(TDesktopHelpViewer(QStringList{}).OpenHelpFile("Fendrel.chm"));
}

} // namespace
