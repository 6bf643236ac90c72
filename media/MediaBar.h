#pragma once

#include <QFrame>
#include <QString>

#include <map>
#include <string>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

// One medium's bar: what the medium is, a button for each thing to do with it, and a close
// button. Non-modal: the window goes on working beside it.
class TMediaBar final : public QFrame {
    Q_OBJECT
public:
    TMediaBar(const QString& text, QWidget* parent);

    // Adds a button before the close button.
    QPushButton* AddButton(const QString& caption);

    QLabel* Label_Text = nullptr;
    QToolButton* Button_Close = nullptr;

signals:
    void CloseClicked();
};

// The bars above the list, one for each medium that has one, in the order they came.
class TMediaBars final : public QWidget {
    Q_OBJECT
public:
    explicit TMediaBars(QWidget* parent);

    // Shows bar for the medium with the key, in place of the one it had.
    void Show(const std::string& key, TMediaBar* bar);
    void Remove(const std::string& key);
    // The medium's bar, or nullptr.
    [[nodiscard]] TMediaBar* Bar(const std::string& key) const;
    [[nodiscard]] size_t Count() const { return Bars_.size(); }

private:
    QVBoxLayout* Layout_ = nullptr;
    std::map<std::string, TMediaBar*> Bars_;
};
