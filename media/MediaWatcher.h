#pragma once

#include "discs/Media.h"

#include <QObject>

#include <cstdint>

#include <string>
#include <vector>

// Tells which media and optical drives the machine has as they come and go. A watcher that
// cannot reach the desktop's service reports nothing and costs nothing.
class IMediaWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The media present now, and the device nodes of the optical drives present now.
    [[nodiscard]] virtual std::vector<TMedium> Media() const = 0;
    [[nodiscard]] virtual std::vector<std::string> Drives() const = 0;

signals:
    // A medium was inserted or mounted after the watcher first learned what was there.
    void MediumArrived(const TMedium& medium);
    // A present medium was mounted, unmounted or relabelled.
    void MediumChanged(const TMedium& medium);
    void MediumLeft(const TMedium& medium);
    void DrivePlugged(const std::string& device);
    void DriveUnplugged(const std::string& device);
};
