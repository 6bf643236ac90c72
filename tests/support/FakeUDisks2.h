#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QString>
#include <QVariantMap>

#include <map>

// A D-Bus daemon of its own for one test: a session bus on a temporary socket, ended with the
// object. Address() is empty when dbus-daemon could not be started.
class TPrivateBus {
public:
    TPrivateBus();
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;

    [[nodiscard]] const QString& Address() const { return Address_; }
    // A new connection to the bus, disconnected when the bus ends.
    [[nodiscard]] QDBusConnection Connect();

private:
    QProcess Daemon_;
    QString Address_;
    QStringList Connections_;
};

// Stands for UDisks2 on a bus: owns its name, answers the object manager's GetManagedObjects
// and sends InterfacesAdded, InterfacesRemoved and PropertiesChanged as the test changes its
// objects. Paths are below /org/freedesktop/UDisks2.
class TFakeUDisks2 final : public QDBusVirtualObject {
public:
    explicit TFakeUDisks2(QDBusConnection bus);
    ~TFakeUDisks2() override;

    [[nodiscard]] bool Registered() const { return Registered_; }

    // An optical drive, or a removable one (a USB stick's), at drives/name.
    static QString DrivePath(const QString& name) { return Root + "/drives/" + name; }
    static QString BlockPath(const QString& name) { return Root + "/block_devices/" + name; }
    void AddDrive(const QString& name, bool optical, bool removable);
    // A block device of the drive ("/dev/" + name), with no medium yet.
    void AddBlock(const QString& name, const QString& drive, const QVariantMap& more = {});

    void Add(const QString& path, const QString& interface, const QVariantMap& properties);
    void Change(const QString& path, const QString& interface, const QVariantMap& properties);
    void Remove(const QString& path, const QStringList& interfaces);

    // A disc with a file system inserted into the drive of the block, not mounted yet.
    void InsertDisc(const QString& block, const QString& drive, const QString& label,
                    const QString& uuid);
    void Eject(const QString& block, const QString& drive);
    // Mounts the block's file system at the folder; an empty folder unmounts it.
    void Mount(const QString& block, const QString& folder);

    static const QString Root;

    // QDBusVirtualObject
    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QDBusConnection Bus_;
    bool Registered_ = false;
    std::map<QString, std::map<QString, QVariantMap>> Objects_;
};
