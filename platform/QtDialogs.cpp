#include "platform/QtDialogs.h"

#include "platform/DiscPropertiesBox.h"
#include "platform/InputBox.h"
#include "platform/QtText.h"
#include "platform/ReadingBox.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconOf(TMessageKind kind)
{
    switch (kind) {
    case TMessageKind::Error:
        return QMessageBox::Critical;
    case TMessageKind::Warning:
        return QMessageBox::Warning;
    case TMessageKind::Question:
        return QMessageBox::Question;
    case TMessageKind::Information:
        break;
    }
    return QMessageBox::Information;
}

// CR LF as a line break: Qt breaks plain text lines at LF alone.
QString BoxText(const std::string& text)
{
    QString shown = Display(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

// Where the desktop mounts the user's removable media, when anything is mounted there; otherwise
// the home folder.
QString RemovableMediaFolder()
{
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty()) {
        for (const char* media : {"/run/media/", "/media/"}) {
            const QDir folder(QLatin1String(media) + user);
            if (folder.exists() && !folder.isEmpty(QDir::Dirs | QDir::NoDotAndDotDot))
                return folder.absolutePath();
        }
    }
    return QDir::homePath();
}

// The patterns of a dialog's filter, which may list several separated by blanks.
QStringList Patterns(const TFileDialogOptions& options)
{
    return QString::fromStdString(options.Pattern).split(' ', Qt::SkipEmptyParts);
}

} // namespace

TMessageResult TQtDialogs::MessageBox(const std::string& text, const std::string& title,
                                      TMessageKind kind)
{
    QMessageBox box(IconOf(kind), Display(title), BoxText(text), QMessageBox::NoButton, Owner_);
    box.setTextFormat(Qt::PlainText);
    if (kind != TMessageKind::Question) {
        box.addButton("OK", QMessageBox::AcceptRole);
        box.exec();
        return TMessageResult::Ok;
    }
    QPushButton* yes = box.addButton(Display(Ansi("Да")), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Display(Ansi("Нет")), QMessageBox::NoRole);
    yes->setObjectName("MessageBox_Yes");
    no->setObjectName("MessageBox_No");
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? TMessageResult::Yes : TMessageResult::No;
}

std::optional<std::string> TQtDialogs::InputBox(const std::string& caption,
                                                const std::string& prompt,
                                                const std::string& initial)
{
    TInputBox box(Display(caption), Display(prompt), Display(initial), Owner_);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return FromDisplay(box.Text());
}

std::optional<std::string> TQtDialogs::OpenFileDialog(const TFileDialogOptions& options)
{
    const QStringList chosen = RunFileDialog(options, TFileMode::Open);
    if (chosen.isEmpty())
        return std::nullopt;
    return PathFromDisplay(chosen.constFirst());
}

std::optional<std::string> TQtDialogs::SaveFileDialog(const TFileDialogOptions& options)
{
    const QStringList chosen = RunFileDialog(options, TFileMode::Save);
    if (chosen.isEmpty())
        return std::nullopt;
    return PathFromDisplay(chosen.constFirst());
}

std::optional<TSaveChoice> TQtDialogs::SaveFileDialogOf(const std::string& title,
                                                        const std::vector<TFileFilter>& filters)
{
    QFileDialog dialog(Owner_, Display(title));
    dialog.setObjectName("SaveDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    QStringList names;
    for (const TFileFilter& filter : filters) {
        const QString pattern = QString::fromStdString(filter.Pattern);
        names << Display(filter.Text).replace(pattern, pattern + " " + pattern.toUpper());
    }
    dialog.setNameFilters(names);
    const auto suffixOf = [&](const QString& name) {
        const qsizetype index = names.indexOf(name);
        return index < 0 ? QString() : QString::fromStdString(filters[index].Suffix);
    };
    // A name typed without an extension gets the one of the kind chosen at that moment.
    dialog.setDefaultSuffix(suffixOf(names.constFirst()));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&](const QString& name) { dialog.setDefaultSuffix(suffixOf(name)); });
    const std::string key = filters.front().Pattern;
    const auto last = LastFolders_.find(key);
    dialog.setDirectory(last != LastFolders_.end() ? last->second : QDir::homePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().constFirst();
    LastFolders_[key] = QFileInfo(chosen).absolutePath();
    const qsizetype index = names.indexOf(dialog.selectedNameFilter());
    return TSaveChoice{PathFromDisplay(chosen), index < 0 ? 0 : static_cast<size_t>(index)};
}

std::vector<std::string> TQtDialogs::OpenFilesDialog(const TFileDialogOptions& options)
{
    std::vector<std::string> paths;
    for (const QString& chosen : RunFileDialog(options, TFileMode::OpenSeveral))
        paths.push_back(PathFromDisplay(chosen));
    return paths;
}

std::optional<std::string> TQtDialogs::FolderDialog(const TFolderDialogOptions& options)
{
    QFileDialog dialog(Owner_, Display(options.Title));
    dialog.setObjectName("FolderDialog");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDirectory(FolderDialogFolder_.isEmpty() ? RemovableMediaFolder()
                                                      : FolderDialogFolder_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = QDir::cleanPath(dialog.selectedFiles().constFirst());
    // The next disc is most likely beside this one.
    FolderDialogFolder_ = QFileInfo(chosen).absolutePath();
    return PathFromDisplay(chosen);
}

QStringList TQtDialogs::RunFileDialog(const TFileDialogOptions& options, TFileMode mode)
{
    const bool save = mode == TFileMode::Save;
    QFileDialog dialog(Owner_, Display(options.Title));
    dialog.setObjectName(save ? "SaveDialog" : "OpenDialog");
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(mode == TFileMode::OpenSeveral ? QFileDialog::ExistingFiles
                       : options.MustExist            ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // The description keeps its own wording; each pattern is given in both cases so that FILE.FRL
    // shows as well as file.frl.
    QStringList bothCases;
    for (const QString& pattern : Patterns(options))
        bothCases << pattern << pattern.toUpper();
    QStringList filters{Display(options.FilterText)
                            .replace(QString::fromStdString(options.Pattern), bothCases.join(' '))};
    if (options.AllFilesEntry)
        filters << Display(Ansi("Все файлы (*)"));
    dialog.setNameFilters(filters);
    if (!options.DefaultSuffix.empty())
        dialog.setDefaultSuffix(QString::fromStdString(options.DefaultSuffix));
    dialog.setDirectory(StartFolder(options));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QStringList chosen = dialog.selectedFiles();
    LastFolders_[options.Pattern] = QFileInfo(chosen.constFirst()).absolutePath();
    return chosen;
}

QString TQtDialogs::StartFolder(const TFileDialogOptions& options) const
{
    if (const auto last = LastFolders_.find(options.Pattern); last != LastFolders_.end())
        return last->second;
    // Name filters match without regard to letter case.
    const QDir current = QDir::current();
    if (!current.entryList(Patterns(options), QDir::Files).isEmpty())
        return current.absolutePath();
    return QDir::homePath();
}

std::optional<std::string> TQtDialogs::DiscPropertiesBox(const TDiscProperties& shown)
{
    TDiscPropertiesBox box(shown, Owner_);
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.Notes();
}

void TQtDialogs::RunReading(const std::string& title, uint64_t total, TReadingProgress& progress,
                            const std::function<void()>& work)
{
    RunReadingBox(Owner_, title, total, progress, work);
}
