#pragma once

#include "app/Platform.h"

#include <memory>

class TForm_Main;

// Constructs the main window; when that fails, shows the error in the error box and returns
// nothing, and the program ends.
[[nodiscard]] std::unique_ptr<TForm_Main> CreateMainWindow(const TPlatform& platform);
