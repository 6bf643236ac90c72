#pragma once

#include "platform/Dialogs.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <map>
#include <string>
#include <vector>

// The boxes as Qt shows them, modal over the main window.
//
// A file dialog opens in the folder of the last file of its type chosen in this run; the first
// one of a type opens in the current folder when that holds files of the type, otherwise in the
// home folder (the program may well be started in its own data folder). The folder dialog opens
// where the last folder was chosen, at first where the desktop mounts the user's removable media
// when any is mounted, otherwise in the home folder.
class TQtDialogs final : public IDialogs {
public:
    // The window the boxes belong to; not owned, may be unset (the boxes then stand alone).
    void SetOwner(QWidget* owner) { Owner_ = owner; }

    TMessageResult MessageBox(const std::string& text, const std::string& title,
                              TMessageKind kind) override;
    [[nodiscard]] std::optional<std::string> InputBox(const std::string& caption,
                                                      const std::string& prompt,
                                                      const std::string& initial) override;
    [[nodiscard]] std::optional<std::string>
    OpenFileDialog(const TFileDialogOptions& options) override;
    [[nodiscard]] std::optional<std::string>
    SaveFileDialog(const TFileDialogOptions& options) override;
    [[nodiscard]] std::optional<TSaveChoice>
    SaveFileDialogOf(const std::string& title, const std::vector<TFileFilter>& filters) override;
    [[nodiscard]] std::vector<std::string>
    OpenFilesDialog(const TFileDialogOptions& options) override;
    [[nodiscard]] std::optional<std::string>
    FolderDialog(const TFolderDialogOptions& options) override;
    [[nodiscard]] std::optional<std::string>
    DiscPropertiesBox(const TDiscProperties& shown) override;
    void RunReading(const std::string& title, uint64_t total, TReadingProgress& progress,
                    const std::function<void()>& work) override;

private:
    enum class TFileMode { Open, OpenSeveral, Save };
    // The chosen paths as Qt gives them; empty when cancelled.
    [[nodiscard]] QStringList RunFileDialog(const TFileDialogOptions& options, TFileMode mode);
    [[nodiscard]] QString StartFolder(const TFileDialogOptions& options) const;

    QPointer<QWidget> Owner_;
    std::map<std::string, QString> LastFolders_; // by pattern: the folder of the last file chosen
    QString FolderDialogFolder_;                 // where the last folder was chosen
};
