#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>
#include <ostream>
#include <string>

class QMessageBox;

// Answers the modal boxes that a step of a test opens, the way a user would: a timer looks for
// the active modal widget, as it runs inside the box's own event loop, and hands each new box to
// the next expected handler, which reads the box and presses its keys or buttons.
//
// A test never hangs on a box: one that nobody expected, or one still open a while after its
// answer, fails the test and is closed; an expected box that never appears fails it too.
class TBoxDriver final : public QObject {
public:
    using THandler = std::function<void(QWidget& box)>;

    TBoxDriver();
    ~TBoxDriver() override;

    // Queues a handler for the next box to appear; what names the box in failure messages.
    void Expect(std::string what, THandler handler);
    // Runs step and then processes events until every expected box has been answered, or until
    // the time limit; fails for each expected box that did not appear.
    void Run(const std::function<void()>& step);

private:
    void Poll();
    void Dismiss(QWidget& box);

    struct TExpected {
        std::string What;
        THandler Handler;
    };
    std::deque<TExpected> Expected_;
    QPointer<QWidget> Answered_; // the box the last handler answered, while it lives
    std::string AnsweredWhat_;
    QElapsedTimer AnsweredAt_;
    QTimer Timer_;
};

// QStrings in failure messages as their text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// What a box shows, for failure messages: its title and, for a message box, its text.
[[nodiscard]] std::string DescribeBox(const QWidget& box);

// The box as a message box; fails the test (and returns nullptr) when it is another kind.
[[nodiscard]] QMessageBox* AsMessageBox(QWidget& box);

// Keys and text as typing sends them: to the widget that has the keyboard focus in box, from
// where a key that widget leaves alone goes on to the box itself.
void PressKey(QWidget& box, Qt::Key key);
void TypeText(QWidget& box, const QString& text);

// Closes the box through its window's close button.
void CloseBox(QWidget& box);
