#include "mounttool/MountCommand.h"

#include "app/Platform.h"
#include "app/WindowHost.h"
#include "discs/Drives.h"
#include "platform/AnsiText.h"
#include "platform/HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

std::string Local(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

QString FromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// The name of the mount's folder: the collection file's name without ".frl".
std::string FolderName(const std::string& file)
{
    const QFileInfo info(FromLocal(file));
    QString name = info.fileName();
    if (name.endsWith(QStringLiteral(".frl"), Qt::CaseInsensitive) && name.size() > 4)
        name.chop(4);
    return Local(name);
}

} // namespace

TMountCommand::TTools TMountCommand::TTools::Installed()
{
    TTools tools;
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/fendrel-mount");
    tools.Program = QFileInfo(beside).isExecutable()
                        ? Local(beside)
                        : Local(QStandardPaths::findExecutable(QStringLiteral("fendrel-mount")));
    tools.FuseDevice = "/dev/fuse";
    tools.Unmounter = Local(QStandardPaths::findExecutable(QStringLiteral("fusermount3")));
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        tools.RuntimeFolder = runtime;
    else
        tools.RuntimeFolder =
            Local(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    return tools;
}

TMountCommand::TMountCommand(IWindowHost& host, TTools tools)
    : Host_(host)
    , Tools_(std::move(tools))
{
}

TMountCommand::~TMountCommand()
{
    Unmount();
}

bool TMountCommand::Mounted() const
{
    char real[PATH_MAX];
    return ::realpath(Folder_.c_str(), real) && MountedDeviceAt(real, ReadMountInfo()).has_value();
}

void TMountCommand::Fail(const std::string& utf8)
{
    Host_.MessageBox(Utf8ToAnsi(utf8), Host_.Title(), TMessageKind::Error);
}

void TMountCommand::OpenAsFolder()
{
    const std::string& file = Host_.CollectionPath();
    if (file.empty())
        return;
    if (Process_ && File_ == file && Process_->state() == QProcess::Running) {
        (void)Host_.Platform().Help.OpenFolder(Folder_);
        return;
    }
    Unmount();
    constexpr const char* kCannot = "Открыть коллекцию как папку нельзя: ";
    if (::access(Tools_.FuseDevice.c_str(), F_OK) != 0) {
        Fail(std::string(kCannot) + "в системе нет " + Tools_.FuseDevice +
             " (ядро без поддержки FUSE или модуль fuse не загружен).");
        return;
    }
    if (Tools_.Unmounter.empty()) {
        Fail(std::string(kCannot) + "не найдена программа fusermount3 (пакет fuse3).");
        return;
    }
    if (Tools_.Program.empty()) {
        Fail(std::string(kCannot) + "не найдена программа fendrel-mount.");
        return;
    }
    if (Tools_.RuntimeFolder.empty()) {
        Fail(std::string(kCannot) + "неизвестна папка XDG_RUNTIME_DIR.");
        return;
    }

    const std::string folder = Tools_.RuntimeFolder + "/fendrel/" + FolderName(file);
    if (!QDir().mkpath(FromLocal(folder))) {
        Fail("Не удаётся создать папку " + folder + ".");
        return;
    }
    Folder_ = folder;
    // A mount that a window which ended without unmounting left behind.
    if (Mounted())
        (void)QProcess::execute(FromLocal(Tools_.Unmounter),
                                {QStringLiteral("-u"), QStringLiteral("-z"), FromLocal(folder)});

    Process_ = std::make_unique<QProcess>();
    Process_->setProgram(FromLocal(Tools_.Program));
    Process_->setArguments({FromLocal(file), FromLocal(folder)});
    Process_->setProcessChannelMode(QProcess::SeparateChannels);
    Process_->setStandardOutputFile(QProcess::nullDevice());
    Process_->start();
    File_ = file;
    bool mounted = false;
    for (int waited = 0; waited < kMountWaitMs; waited += 20) {
        if (Mounted()) {
            mounted = true;
            break;
        }
        if (Process_->waitForFinished(20))
            break;
    }
    if (!mounted) {
        const std::string said = Process_->readAllStandardError().trimmed().toStdString();
        Unmount();
        Fail("Не удалось открыть коллекцию как папку." + (said.empty() ? "" : "\n" + said));
        return;
    }
    (void)Host_.Platform().Help.OpenFolder(Folder_);
}

void TMountCommand::CollectionReplaced()
{
    if (Process_ && File_ != Host_.CollectionPath())
        Unmount();
}

void TMountCommand::Unmount()
{
    if (!Process_)
        return;
    // fendrel-mount unmounts the folder when it is asked to end.
    if (Process_->state() != QProcess::NotRunning) {
        Process_->terminate();
        if (!Process_->waitForFinished(5000)) {
            Process_->kill();
            (void)Process_->waitForFinished(5000);
        }
    }
    if (Mounted() && !Tools_.Unmounter.empty())
        (void)QProcess::execute(FromLocal(Tools_.Unmounter),
                                {QStringLiteral("-u"), QStringLiteral("-z"), FromLocal(Folder_)});
    (void)QDir().rmdir(FromLocal(Folder_));
    Process_.reset();
    Folder_.clear();
    File_.clear();
}
