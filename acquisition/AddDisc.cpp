#include "app/uMain.h"

void TForm_Main::Act_AddDiscExecute(QObject*)
{
    // The disc scan arrives with the disc acquisition work.
}
