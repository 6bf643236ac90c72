#include "e2e/BoxDriver.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int kPollMs = 10;
// How long an expected box may take to appear once its step has returned, and how long a box
// may stay open after its answer: both far above what a box needs, short enough to fail fast.
constexpr int kAppearLimitMs = 5000;
constexpr int kCloseLimitMs = 3000;

QWidget& FocusOf(QWidget& box)
{
    QWidget* focus = box.focusWidget();
    return focus ? *focus : box;
}

} // namespace

TBoxDriver::TBoxDriver()
{
    Timer_.setInterval(kPollMs);
    connect(&Timer_, &QTimer::timeout, this, &TBoxDriver::Poll);
}

TBoxDriver::~TBoxDriver()
{
    for (const TExpected& expected : Expected_)
        ADD_FAILURE() << "expected box never handled: " << expected.What;
}

void TBoxDriver::Expect(std::string what, THandler handler)
{
    Expected_.push_back({std::move(what), std::move(handler)});
}

void TBoxDriver::Run(const std::function<void()>& step)
{
    Timer_.start();
    step();
    (void)QTest::qWaitFor([this] { return Expected_.empty(); }, kAppearLimitMs);
    for (const TExpected& expected : Expected_)
        ADD_FAILURE() << "this box did not appear: " << expected.What;
    Expected_.clear();
    // Whatever the step posted, such as a deferred deletion, is delivered before the test looks.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    Timer_.stop();
}

void TBoxDriver::Poll()
{
    QWidget* box = QApplication::activeModalWidget();
    if (!box || !box->isVisible())
        return;
    if (box == Answered_) {
        if (AnsweredAt_.elapsed() > kCloseLimitMs) {
            ADD_FAILURE() << "the box stayed open after its answer: " << AnsweredWhat_ << " ("
                          << DescribeBox(*box) << ")";
            Dismiss(*box);
        }
        return;
    }
    if (Expected_.empty()) {
        ADD_FAILURE() << "a box appeared that the test did not expect: " << DescribeBox(*box);
        Dismiss(*box);
        return;
    }
    TExpected expected = std::move(Expected_.front());
    Expected_.pop_front();
    Answered_ = box;
    AnsweredWhat_ = expected.What;
    AnsweredAt_.start();
    // The answer runs after this poll has returned, so that a box the answer opens in turn is
    // polled for too.
    QMetaObject::invokeMethod(
        this,
        [expected = std::move(expected), target = QPointer<QWidget>(box)] {
            if (!target)
                return;
            SCOPED_TRACE("answering the box: " + expected.What);
            expected.Handler(*target);
        },
        Qt::QueuedConnection);
}

void TBoxDriver::Dismiss(QWidget& box)
{
    if (auto* dialog = qobject_cast<QDialog*>(&box))
        dialog->reject();
    else
        box.close();
}

std::string DescribeBox(const QWidget& box)
{
    QString text = '"' + box.windowTitle() + '"';
    if (const auto* message = qobject_cast<const QMessageBox*>(&box))
        text += ": " + message->text();
    return text.toStdString();
}

QMessageBox* AsMessageBox(QWidget& box)
{
    auto* message = qobject_cast<QMessageBox*>(&box);
    if (!message)
        ADD_FAILURE() << "not a message box: " << DescribeBox(box) << " ("
                      << box.metaObject()->className() << ")";
    return message;
}

void PressKey(QWidget& box, Qt::Key key)
{
    QTest::keyClick(&FocusOf(box), key);
}

void TypeText(QWidget& box, const QString& text)
{
    for (const QChar c : text) {
        // A letter's key code is its capital's code point, as a keyboard reports it.
        const auto key = static_cast<Qt::Key>(c.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Click, &FocusOf(box), key, QString(c), Qt::NoModifier);
    }
}

void CloseBox(QWidget& box)
{
    box.close();
}
