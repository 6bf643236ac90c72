#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QPlainTextEdit;

// The disc properties box: the rows as read-only fields, each named for screen readers by its
// row's name, and the notes in an editable box. OK keeps the notes, Cancel and Escape do not.
class TDiscPropertiesBox final : public QDialog {
    Q_OBJECT
public:
    explicit TDiscPropertiesBox(const TDiscProperties& shown, QWidget* parent = nullptr);
    // The notes as edited, UTF-8.
    [[nodiscard]] std::string Notes() const;

private:
    QPlainTextEdit* Notes_; // owned by this dialog
    std::string Original_;  // the notes as shown, given back whole when they were not edited
};
