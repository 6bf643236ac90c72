#pragma once

#include "platform/ReadingProgress.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

// What the box shows of a reading: the bytes read of total and the rate, such as
// "Прочитано 1,2 ГБ из 4,4 ГБ\n85,3 МБ/с". seconds: since the reading began.
[[nodiscard]] QString ReadingText(uint64_t bytes, uint64_t total, double seconds);

// Runs work on a thread of its own while the window waits: for the first moments without a box
// (and without taking the user's input, so that no command of the window starts meanwhile), then,
// when work has not returned by then, behind a modal progress box whose Cancel sets
// progress.Cancel. Returns once work has returned; an exception work throws is thrown here.
// owner: the window the box belongs to; may be null. title: 8-bit.
void RunReadingBox(QWidget* owner, const std::string& title, uint64_t total,
                   TReadingProgress& progress, const std::function<void()>& work);
