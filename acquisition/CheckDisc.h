#pragma once

#include <functional>
#include <string>

class IWindowHost;
class TDiscUpdater;
struct TDiscCheck;

// A disc read back against its record: every file of its medium read whole, what differs shown
// in a report, and the disc updated from that reading when the user asks.
class TDiscChecker {
public:
    // Both outlive this.
    TDiscChecker(IWindowHost& host, TDiscUpdater& updater);

    // "Проверить диск...": the selected item's disc.
    void CheckSelected();

    // Shows what reading the disc titled title back found; true when the disc is to be updated.
    // The report window (TCheckReportWindow) while empty; tests put another in.
    std::function<bool(const std::string& title, const TDiscCheck& check)> ReviewCheck;

private:
    IWindowHost& Host_;
    TDiscUpdater& Updater_;
};
