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

// A desktop without a CHM viewer: the launcher refuses .chm files and notes what it opens.
TEST_F(DesktopHelpViewer, PagesGoToTheBrowserWhenNothingOpensTheHelpFile)
{
    const QStringList launcher{
        "/bin/sh", "-c", "case \"$1\" in *.chm) exit 1;; esac; echo \"$1\" >> opened.log", "sh"};
    const auto opened = [] {
        QFile log("opened.log");
        const QString text = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : "";
        log.remove();
        return text.trimmed().toStdString();
    };
    EXPECT_FALSE(TDesktopHelpViewer(launcher).OpenHelpFile("Fendrel.chm")) << "neither is there";
    CreateHelpFile();
    EXPECT_FALSE(TDesktopHelpViewer(launcher).OpenHelpFile("Fendrel.chm"));

    QDir().mkdir("help");
    QFile page("help/index.html");
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();
    EXPECT_TRUE(TDesktopHelpViewer(launcher).OpenHelpFile("Fendrel.chm"));
    EXPECT_EQ(opened(), QDir::current().absoluteFilePath("help/index.html").toStdString());
    QFile::remove("Fendrel.chm");
    EXPECT_TRUE(TDesktopHelpViewer(launcher).OpenHelpFile("Fendrel.chm"));
    EXPECT_EQ(opened(), QDir::current().absoluteFilePath("help/index.html").toStdString());

    // Where a viewer takes the help file, the pages stay closed.
    CreateHelpFile();
    const QStringList any{"/bin/sh", "-c", "echo \"$1\" >> opened.log", "sh"};
    EXPECT_TRUE(TDesktopHelpViewer(any).OpenHelpFile("Fendrel.chm"));
    EXPECT_EQ(opened(), QDir::current().absoluteFilePath("Fendrel.chm").toStdString());
}

} // namespace
