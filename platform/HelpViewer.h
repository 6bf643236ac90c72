#pragma once

#include <QString>
#include <QStringList>
#include <string>

// Opens the program's help file, and folders, for the user.
class IHelpViewer {
public:
    virtual ~IHelpViewer() = default;
    // Shows the folder (as the file system spells its path) in the desktop's file manager.
    // False when the desktop has no handler for it.
    [[nodiscard]] virtual bool OpenFolder(const std::string& path) = 0;
    // fileName is looked for in the current folder and opened with the desktop's default
    // application for it. When no application opens it, the help's pages, which are installed
    // beside it, are opened in the desktop's browser instead. False when neither could be shown.
    [[nodiscard]] virtual bool OpenHelpFile(const std::string& fileName) = 0;
};

// Hands the file to a launcher program: "gio open" where GLib's tools are installed (it says
// by its exit status whether an application took the file), otherwise "xdg-open".
class TDesktopHelpViewer final : public IHelpViewer {
public:
    // launcher: the program and its first arguments; the file's path is appended. pages: the
    // first page of the help's pages, relative to the current folder.
    explicit TDesktopHelpViewer(QStringList launcher = DefaultLauncher(),
                                QString pages = QStringLiteral("help/index.html"));
    [[nodiscard]] static QStringList DefaultLauncher();

    [[nodiscard]] bool OpenHelpFile(const std::string& fileName) override;
    [[nodiscard]] bool OpenFolder(const std::string& path) override;

private:
    // Whether the launcher took the file in the current folder.
    [[nodiscard]] bool Launch(const QString& fileName) const;

    QStringList Launcher_;
    QString Pages_;
};
