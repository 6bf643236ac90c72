#pragma once

#include "app/Platform.h"

#include <memory>

class QApplication;
class TForm_Main;

// What the program sets on its application object before it makes its window: its name, its icon,
// its desktop entry, and Qt's own texts in Russian whatever the user's locale.
void PrepareApplication(QApplication& application);

// Constructs the main window; when that fails, shows the error in the error box and returns
// nothing, and the program ends.
[[nodiscard]] std::unique_ptr<TForm_Main> CreateMainWindow(const TPlatform& platform);
