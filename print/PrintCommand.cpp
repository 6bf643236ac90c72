#include "print/PrintCommand.h"

#include "app/WindowHost.h"
#include "platform/AnsiText.h"
#include "platform/LocalTime.h"
#include "print/DiscPrint.h"

#include <QPrintDialog>
#include <QPrinter>

TPrintCommand::TPrintCommand(IWindowHost& host)
    : Host_(host)
{
}

bool TPrintCommand::ChoosePrinter(QPrinter& printer)
{
    if (PrintDialog)
        return PrintDialog(printer);
    QPrintDialog dialog(&printer, &Host_.Window());
    dialog.setObjectName("PrintDialog");
    return dialog.exec() == QDialog::Accepted;
}

void TPrintCommand::PrintSelected()
{
    const uint32_t disc = Host_.SelectedDisc();
    if (disc == 0) {
        Host_.MessageBox(Ansi("Необходимо выбрать диск"), Host_.Title(), TMessageKind::Error);
        return;
    }
    const TDiscListing listing = MakeDiscListing(Host_.Collection(), disc, UtcOffsetNow());
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(listing.Title));
    if (!ChoosePrinter(printer))
        return;
    PaintDiscListing(printer, listing);
}
