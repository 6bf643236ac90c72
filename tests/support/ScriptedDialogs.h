#pragma once

#include "platform/AnsiText.h"
#include "platform/Dialogs.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Boxes answered from queues, each box shown recorded. Texts are kept as the program passed them
// (8-bit); Utf8() turns them into what the user would read.
class TScriptedDialogs final : public IDialogs {
public:
    struct TMessage {
        std::string Text, Title;
        TMessageKind Kind;
        [[nodiscard]] std::string Utf8Text() const { return AnsiToUtf8(Text); }
        [[nodiscard]] std::string Utf8Title() const { return AnsiToUtf8(Title); }
    };
    struct TInput {
        std::string Caption, Prompt, Initial;
    };
    struct TFileDialog {
        TFileDialogOptions Options;
        bool Save;
        bool Several = false; // the dialog that takes several files at once
    };

    std::vector<TMessage> Messages;
    std::vector<TInput> Inputs;
    std::vector<TFileDialog> FileDialogs;
    std::vector<TFolderDialogOptions> FolderDialogs;
    struct TFilteredSave {
        std::string Title;
        std::vector<TFileFilter> Filters;
    };
    std::vector<TFilteredSave> FilteredSaves;

    // Answers; when a queue is empty, a question is answered No and every other box is cancelled.
    // The dialog for several files takes its answer from SeveralFileAnswers while that holds
    // one, otherwise from FileAnswers (one file, or cancelled).
    std::deque<TMessageResult> QuestionAnswers;
    std::deque<std::optional<std::string>> InputAnswers;
    std::deque<std::optional<std::string>> FileAnswers;
    // Called as each box opens, before it is recorded.
    std::function<void()> OnBox;
    std::deque<std::vector<std::string>> SeveralFileAnswers;
    std::deque<std::optional<std::string>> FolderAnswers;
    std::deque<std::optional<TSaveChoice>> SaveChoiceAnswers;
    // Runs while each input box is shown, before it is answered.
    std::function<void(const TInput&)> WhileInput;
    // Disc properties boxes shown, and the notes each is answered with (nothing: cancelled).
    std::vector<TDiscProperties> PropertiesBoxes;
    std::deque<std::optional<std::string>> PropertiesAnswers;
    // Reading boxes shown (title, total bytes), and for each whether the user cancels it at once
    // (an empty queue: the reading runs to its end).
    struct TReadingBox {
        std::string Title;
        uint64_t Total;
    };
    std::vector<TReadingBox> ReadingBoxes;
    std::deque<bool> CancelReadings;

    TMessageResult MessageBox(const std::string& text, const std::string& title,
                              TMessageKind kind) override
    {
        Opening();
        Messages.push_back({text, title, kind});
        if (kind != TMessageKind::Question)
            return TMessageResult::Ok;
        return Take(QuestionAnswers, TMessageResult::No);
    }
    std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                        const std::string& initial) override
    {
        Opening();
        Inputs.push_back({caption, prompt, initial});
        if (WhileInput)
            WhileInput(Inputs.back());
        return Take(InputAnswers, std::optional<std::string>{});
    }
    std::optional<std::string> OpenFileDialog(const TFileDialogOptions& options) override
    {
        Opening();
        FileDialogs.push_back({options, false});
        return Take(FileAnswers, std::optional<std::string>{});
    }
    std::optional<std::string> SaveFileDialog(const TFileDialogOptions& options) override
    {
        Opening();
        FileDialogs.push_back({options, true});
        return Take(FileAnswers, std::optional<std::string>{});
    }
    std::optional<TSaveChoice> SaveFileDialogOf(const std::string& title,
                                                const std::vector<TFileFilter>& filters) override
    {
        Opening();
        FilteredSaves.push_back({title, filters});
        return Take(SaveChoiceAnswers, std::optional<TSaveChoice>{});
    }
    std::vector<std::string> OpenFilesDialog(const TFileDialogOptions& options) override
    {
        Opening();
        FileDialogs.push_back({options, false, true});
        if (!SeveralFileAnswers.empty())
            return Take(SeveralFileAnswers, std::vector<std::string>{});
        std::optional<std::string> one = Take(FileAnswers, std::optional<std::string>{});
        return one ? std::vector<std::string>{*one} : std::vector<std::string>{};
    }
    std::optional<std::string> FolderDialog(const TFolderDialogOptions& options) override
    {
        Opening();
        FolderDialogs.push_back(options);
        return Take(FolderAnswers, std::optional<std::string>{});
    }

    std::optional<std::string> DiscPropertiesBox(const TDiscProperties& shown) override
    {
        Opening();
        PropertiesBoxes.push_back(shown);
        return Take(PropertiesAnswers, std::optional<std::string>{});
    }
    void RunReading(const std::string& title, uint64_t total, TReadingProgress& progress,
                    const std::function<void()>& work) override
    {
        Opening();
        ReadingBoxes.push_back({title, total});
        if (Take(CancelReadings, false))
            progress.Cancel = true;
        work();
    }

    // UTF-8 texts of every message box shown, in order.
    [[nodiscard]] std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const TMessage& message : Messages)
            texts.push_back(message.Utf8Text());
        return texts;
    }

private:
    void Opening() const
    {
        if (OnBox)
            OnBox();
    }
    template <typename T> static T Take(std::deque<T>& queue, T fallback)
    {
        if (queue.empty())
            return fallback;
        T answer = std::move(queue.front());
        queue.pop_front();
        return answer;
    }
};
