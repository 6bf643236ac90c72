#include "app/uMain.h"

#include "browse/CollectionTree.h"
#include "platform/QtText.h"

// The filter menu arrives with the search filter work; until then the filter commands are idle
// and resetting the filters shows the whole collection.

void TForm_Main::Act_NewFilterExecute(QObject*) {}
void TForm_Main::AddFilterItem(const std::string&) {}
void TForm_Main::ApplyFilterClick(QObject*) {}
void TForm_Main::Act_NoFilterExecute(QObject*) {}
void TForm_Main::UncheckFilterItems() {}

void TForm_Main::ResetFilters()
{
    Filters.clear();
    Collection().SetFlagsDeep(Collection().Discs, ~nfFilteredOut, 0);
    FillTree(Collection(), *TreeView_Main, DisplayPath(CollectionFile));
}
