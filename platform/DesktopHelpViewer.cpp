#include "platform/HelpViewer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// A launcher normally hands the file over and ends at once; one that is still running after
// this long is taken to be showing the file itself.
constexpr int kLauncherWaitMs = 5000;

} // namespace

TDesktopHelpViewer::TDesktopHelpViewer(QStringList launcher, QString pages)
    : Launcher_(std::move(launcher))
    , Pages_(std::move(pages))
{
}

QStringList TDesktopHelpViewer::DefaultLauncher()
{
    if (const QString gio = QStandardPaths::findExecutable("gio"); !gio.isEmpty())
        return {gio, "open"};
    if (const QString xdgOpen = QStandardPaths::findExecutable("xdg-open"); !xdgOpen.isEmpty())
        return {xdgOpen};
    return {};
}

bool TDesktopHelpViewer::OpenHelpFile(const std::string& fileName)
{
    // A fresh desktop often has no viewer for the help file: its pages then go to the browser.
    return Launch(QFile::decodeName(fileName.c_str())) || Launch(Pages_);
}

bool TDesktopHelpViewer::OpenFolder(const std::string& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

bool TDesktopHelpViewer::Launch(const QString& fileName) const
{
    const QFileInfo file(QDir::current(), fileName);
    if (!file.isFile() || Launcher_.isEmpty())
        return false;

    auto* launcher = new QProcess(QCoreApplication::instance());
    launcher->setProgram(Launcher_.front());
    launcher->setArguments(Launcher_.mid(1) << file.absoluteFilePath());
    launcher->setStandardOutputFile(QProcess::nullDevice());
    launcher->setStandardErrorFile(QProcess::nullDevice());
    launcher->start();
    if (!launcher->waitForStarted()) {
        delete launcher;
        return false;
    }
    if (!launcher->waitForFinished(kLauncherWaitMs)) {
        // Let it run on; it is freed when it ends.
        QObject::connect(launcher, &QProcess::finished, launcher, &QObject::deleteLater);
        return true;
    }
    const bool opened = launcher->exitStatus() == QProcess::NormalExit && launcher->exitCode() == 0;
    delete launcher;
    return opened;
}
