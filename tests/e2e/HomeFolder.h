#pragma once

#include "support/DiscTrees.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QtGlobal>

// A user's home folder made for one test: HOME points to it and the program runs in it, as in a
// fresh account. Both are restored afterwards.
class THomeFolder {
public:
    THomeFolder()
        : SavedHome_(qgetenv("HOME"))
        , SavedCurrent_(QDir::currentPath())
    {
        qputenv("HOME", QByteArray::fromStdString(Folder.Path));
        QDir::setCurrent(QString::fromStdString(Folder.Path));
    }
    ~THomeFolder()
    {
        QDir::setCurrent(SavedCurrent_);
        qputenv("HOME", SavedHome_);
    }
    THomeFolder(const THomeFolder&) = delete;
    THomeFolder& operator=(const THomeFolder&) = delete;

    // A path inside the home folder, as the file system holds it (UTF-8).
    [[nodiscard]] std::string operator/(const std::string& name) const { return Folder / name; }
    [[nodiscard]] QString Path() const { return QString::fromStdString(Folder.Path); }

    TScratchFolder Folder;

private:
    QByteArray SavedHome_;
    QString SavedCurrent_;
};
