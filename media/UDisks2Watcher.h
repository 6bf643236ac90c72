#pragma once

#include "media/MediaWatcher.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

#include <map>
#include <set>

class QDBusMessage;
class QDBusPendingCallWatcher;

// The media and optical drives UDisks2 knows, followed through its object manager's signals and
// the property changes of its Block, Filesystem and Drive objects; nothing is polled. What
// UDisks2 hints as a system device or one to ignore is left out. The first answer of the service
// only tells what is there: only later changes are reported as arrivals.
class TUDisks2Watcher final : public IMediaWatcher {
    Q_OBJECT
public:
    // bus: the system bus in the program, a private bus in the tests. Without a connected bus the
    // watcher stays empty; every call to the service is asynchronous.
    explicit TUDisks2Watcher(QDBusConnection bus, QObject* parent = nullptr);

    [[nodiscard]] std::vector<TMedium> Media() const override;
    [[nodiscard]] std::vector<std::string> Drives() const override;
    // The service has told what was there; changes from now on are reported.
    [[nodiscard]] bool Answered() const { return Known_; }

private slots:
    void InterfacesAdded(const QDBusMessage& message);
    void InterfacesRemoved(const QDBusMessage& message);
    void PropertiesChanged(const QDBusMessage& message);

private:
    using TInterfaces = std::map<QString, QVariantMap>;

    void Load();
    void Loaded(QDBusPendingCallWatcher* call);
    // Works out the media and drives from the objects and reports what changed.
    void Update();

    QDBusConnection Bus_;
    bool Known_ = false; // the first answer has come
    std::map<QString, TInterfaces> Objects_;
    std::map<std::string, TMedium> Media_;
    std::set<std::string> Drives_;
};
