#include "app/uMain.h"

void TForm_Main::Act_DeleteDiscExecute(QObject*)
{
    // Removing discs arrives with the collection tree.
}
