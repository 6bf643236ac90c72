#include "app/uMain.h"

#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "print/DiscPrint.h"

#include <QPrintDialog>
#include <QPrinter>

bool TForm_Main::ChoosePrinter(QPrinter& printer)
{
    if (PrintDialog)
        return PrintDialog(printer);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName("PrintDialog");
    return dialog.exec() == QDialog::Accepted;
}

void TForm_Main::Act_PrintExecute(QObject*)
{
    const uint32_t disc = SelectedDisc();
    if (disc == 0) {
        MessageBox(Ansi("Необходимо выбрать диск"), ApplicationTitle, TMessageKind::Error);
        return;
    }
    const TDiscListing listing = MakeDiscListing(Collection(), disc, UtcOffsetNow());
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(listing.Title));
    if (!ChoosePrinter(printer))
        return;
    PaintDiscListing(printer, listing);
}
