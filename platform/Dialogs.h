#pragma once

#include "platform/ReadingProgress.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The modal boxes through which the program asks and tells the user. Texts are 8-bit code page
// 1251 and may hold CR LF line breaks; paths are the file system's own bytes.

enum class TMessageKind {
    Error,       // error icon, OK
    Warning,     // warning icon, OK
    Information, // information icon, OK
    Question,    // question icon, Yes and No, No the default
};

enum class TMessageResult { Ok, Yes, No };

struct TFileDialogOptions {
    std::string Title;      // 8-bit
    std::string FilterText; // 8-bit description with its pattern, such as "Коллекции (*.frl)"
    std::string Pattern;    // "*.frl", or several separated by blanks; matched in either case
    std::string DefaultSuffix;  // added to a name typed without an extension, such as "frl"
    bool MustExist = false;     // only existing files can be chosen
    bool AllFilesEntry = false; // also offer an entry for every file
};

// One kind of file a save dialog offers, when it offers several.
struct TFileFilter {
    std::string Text;    // 8-bit description with its pattern, such as "Таблица CSV (*.csv)"
    std::string Pattern; // "*.csv"
    std::string Suffix;  // added to a name typed without an extension while this kind is chosen
};

// What a save dialog of several kinds gave: the path and the kind chosen (an index into its
// filters).
struct TSaveChoice {
    std::string Path;
    size_t Filter = 0;
};

struct TFolderDialogOptions {
    std::string Title; // 8-bit
};

// What the disc properties box shows: named values, one a line, and the notes to edit. UTF-8.
struct TDiscProperties {
    struct TRow {
        std::string Name, Value;
    };
    std::vector<TRow> Rows;
    std::string Notes;
};

class IDialogs {
public:
    virtual ~IDialogs() = default;
    virtual TMessageResult MessageBox(const std::string& text, const std::string& title,
                                      TMessageKind kind) = 0;
    // The text when the user pressed OK; nothing on Cancel, Escape or closing the box.
    [[nodiscard]] virtual std::optional<std::string>
    InputBox(const std::string& caption, const std::string& prompt, const std::string& initial) = 0;
    // The chosen full path when the user confirmed.
    [[nodiscard]] virtual std::optional<std::string>
    OpenFileDialog(const TFileDialogOptions& options) = 0;
    [[nodiscard]] virtual std::optional<std::string>
    SaveFileDialog(const TFileDialogOptions& options) = 0;
    // A save dialog offering each of filters (at least one); it asks before a file is replaced and
    // starts in the folder last chosen with the same first filter.
    [[nodiscard]] virtual std::optional<TSaveChoice>
    SaveFileDialogOf(const std::string& title, const std::vector<TFileFilter>& filters) = 0;
    // The full paths of the existing files chosen, in the order the dialog gives them; empty
    // when the user cancelled.
    [[nodiscard]] virtual std::vector<std::string>
    OpenFilesDialog(const TFileDialogOptions& options) = 0;
    // The chosen folder's full path when the user confirmed.
    [[nodiscard]] virtual std::optional<std::string>
    FolderDialog(const TFolderDialogOptions& options) = 0;
    // The disc properties box: the notes as edited when the user pressed OK; nothing on Cancel,
    // Escape or closing the box, and from a set of boxes that has none.
    [[nodiscard]] virtual std::optional<std::string> DiscPropertiesBox(const TDiscProperties& shown)
    {
        (void)shown;
        return std::nullopt;
    }
    // Runs work on a thread of its own while a modal box titled title shows how many of total
    // bytes progress counts as read, the rate, and a Cancel button that sets progress.Cancel;
    // returns once work has returned. work must not touch the window or the collection. By
    // default work runs at once, with no box.
    virtual void RunReading(const std::string& title, uint64_t total, TReadingProgress& progress,
                            const std::function<void()>& work)
    {
        (void)title;
        (void)total;
        (void)progress;
        work();
    }
};
