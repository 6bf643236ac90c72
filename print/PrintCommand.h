#pragma once

#include <functional>

class IWindowHost;
class QPrinter;

// "Печать..." in the main window: the listing of the selected item's disc, through the print
// dialog.
class TPrintCommand {
public:
    // host outlives this.
    explicit TPrintCommand(IWindowHost& host);

    void PrintSelected();

    // Shows the print dialog for printer; true when the user chose to print. Qt's print dialog
    // while empty; tests put another in.
    std::function<bool(QPrinter&)> PrintDialog;

private:
    [[nodiscard]] bool ChoosePrinter(QPrinter& printer);

    IWindowHost& Host_;
};
