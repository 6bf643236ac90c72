// The progress box behind which a disc's files are read on a thread of their own.
#include "platform/ReadingBox.h"

#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

QProgressDialog* OpenBox()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QProgressDialog*>(widget);
            box && box->objectName() == "ReadingBox" && box->isVisible())
            return box;
    return nullptr;
}

TEST(ReadingBox, TextTellsTheAmountsAndTheRate)
{
    EXPECT_EQ(ReadingText(0, 700ull << 20, 0.0).toStdString(), "Прочитано 0,0 МБ из 700,0 МБ");
    EXPECT_EQ(ReadingText(3ull << 29, 9ull << 29, 2.0).toStdString(),
              "Прочитано 1,5 ГБ из 4,5 ГБ\n768,0 МБ/с");
}

TEST(ReadingBox, QuickWorkShowsNoBoxAndLongWorkIsCancelledFromTheBox)
{
    TReadingProgress progress;
    bool ran = false;
    RunReadingBox(nullptr, "quick", 10, progress, [&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(OpenBox(), nullptr);

    // The work runs until it is cancelled; the box's Cancel must reach it.
    bool boxSeen = false;
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (QProgressDialog* box = OpenBox()) {
            boxSeen = true;
            if (auto* button = box->findChild<QPushButton*>())
                button->click();
        }
    });
    press.start(50);
    const auto start = std::chrono::steady_clock::now();
    RunReadingBox(nullptr, "long", 100, progress, [&] {
        while (!progress.Cancel &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    EXPECT_TRUE(boxSeen);
    EXPECT_TRUE(progress.Cancel);
    EXPECT_EQ(OpenBox(), nullptr);
}

TEST(ReadingBox, FailureOfTheWorkReachesTheCaller)
{
    TReadingProgress progress;
    EXPECT_THROW(
        RunReadingBox(nullptr, "fails", 1, progress, [] { throw std::runtime_error("disc gone"); }),
        std::runtime_error);
}

} // namespace
