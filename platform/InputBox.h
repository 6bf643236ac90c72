#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

// A prompt over a one-line field of at most 255 characters, with OK (the default button, also
// Enter) and Cancel (also Escape and closing the box). Centred on the screen.
class TInputBox final : public QDialog {
    Q_OBJECT
public:
    TInputBox(const QString& caption, const QString& prompt, const QString& initial,
              QWidget* parent = nullptr);
    [[nodiscard]] QString Text() const;

    static constexpr int MaxLength = 255;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* Prompt_;  // owned by this dialog
    QLineEdit* Edit_; // owned by this dialog
};
