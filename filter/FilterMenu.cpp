#include "app/uMain.h"

// The filter menu arrives with the search filter work; until then every filter command is idle
// and resetting the filters has nothing to drop.

void TForm_Main::Act_NewFilterExecute(QObject*) {}
void TForm_Main::AddFilterItem(const std::string&) {}
void TForm_Main::ApplyFilterClick(QObject*) {}
void TForm_Main::Act_NoFilterExecute(QObject*) {}
void TForm_Main::UncheckFilterItems() {}
void TForm_Main::ResetFilters() {}
