#pragma once

class IWindowHost;

// "Экспорт..." in the main window: the selected item's disc, or the whole collection when the
// root is selected, written through the export dialog.
class TExportCommand {
public:
    // host outlives this.
    explicit TExportCommand(IWindowHost& host);

    void ExportSelected();

private:
    IWindowHost& Host_;
};
