#pragma once

#include <QString>
#include <QStringList>
#include <string>

// Opens the program's help file for the user.
class IHelpViewer {
public:
    virtual ~IHelpViewer() = default;
    // fileName is looked for in the current folder and opened with the desktop's default
    // application for it. False when the file is missing or nothing could open it.
    [[nodiscard]] virtual bool OpenHelpFile(const std::string& fileName) = 0;
};

// Hands the file to a launcher program: "gio open" where GLib's tools are installed (it says
// by its exit status whether an application took the file), otherwise "xdg-open".
class TDesktopHelpViewer final : public IHelpViewer {
public:
    // launcher: the program and its first arguments; the file's path is appended.
    explicit TDesktopHelpViewer(QStringList launcher = DefaultLauncher());
    [[nodiscard]] static QStringList DefaultLauncher();

    [[nodiscard]] bool OpenHelpFile(const std::string& fileName) override;

private:
    QStringList Launcher_;
};
