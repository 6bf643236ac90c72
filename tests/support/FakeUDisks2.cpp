#include "support/FakeUDisks2.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

namespace {

using TInterfaceMap = QMap<QString, QVariantMap>;
using TObjectMap = QMap<QDBusObjectPath, TInterfaceMap>;

const QString kObjectManager = "org.freedesktop.DBus.ObjectManager";
const QString kBlock = "org.freedesktop.UDisks2.Block";
const QString kDrive = "org.freedesktop.UDisks2.Drive";
const QString kFilesystem = "org.freedesktop.UDisks2.Filesystem";

int RegisterTypes()
{
    qDBusRegisterMetaType<QList<QByteArray>>();
    qDBusRegisterMetaType<TInterfaceMap>();
    qDBusRegisterMetaType<TObjectMap>();
    return 0;
}

} // namespace

const QString TFakeUDisks2::Root = "/org/freedesktop/UDisks2";

TPrivateBus::TPrivateBus()
{
    Daemon_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address"});
    if (!Daemon_.waitForStarted(5000))
        return;
    while (!Daemon_.canReadLine() && Daemon_.waitForReadyRead(5000)) {
    }
    Address_ = QString::fromUtf8(Daemon_.readLine()).trimmed();
}

TPrivateBus::~TPrivateBus()
{
    for (const QString& name : Connections_)
        QDBusConnection::disconnectFromBus(name);
    if (Daemon_.state() != QProcess::NotRunning) {
        Daemon_.kill();
        Daemon_.waitForFinished(5000);
    }
}

QDBusConnection TPrivateBus::Connect()
{
    static int count = 0;
    const QString name = QString("private-bus-%1").arg(++count);
    Connections_.push_back(name);
    return QDBusConnection::connectToBus(Address_, name);
}

TFakeUDisks2::TFakeUDisks2(QDBusConnection bus)
    : Bus_(std::move(bus))
{
    static const int registered = RegisterTypes();
    (void)registered;
    Registered_ = Bus_.isConnected() &&
                  Bus_.registerVirtualObject(Root, this, QDBusConnection::SubPath) &&
                  Bus_.registerService("org.freedesktop.UDisks2");
}

TFakeUDisks2::~TFakeUDisks2()
{
    if (Registered_) {
        Bus_.unregisterService("org.freedesktop.UDisks2");
        Bus_.unregisterObject(Root, QDBusConnection::UnregisterTree);
    }
}

void TFakeUDisks2::AddDrive(const QString& name, bool optical, bool removable)
{
    QStringList media;
    if (optical)
        media = QStringList{"optical_cd", "optical_dvd"};
    Add(DrivePath(name), kDrive,
        {{"MediaCompatibility", media},
         {"Optical", false},
         {"MediaAvailable", !optical},
         {"Removable", removable},
         {"MediaRemovable", optical},
         {"ConnectionBus", removable ? "usb" : ""}});
}

void TFakeUDisks2::AddBlock(const QString& name, const QString& drive, const QVariantMap& more)
{
    QVariantMap block{{"Device", QByteArray("/dev/" + name.toUtf8() + '\0')},
                      {"Drive", QVariant::fromValue(QDBusObjectPath(DrivePath(drive)))},
                      {"IdUsage", ""},
                      {"IdType", ""},
                      {"IdLabel", ""},
                      {"IdUUID", ""},
                      {"HintSystem", false},
                      {"HintIgnore", false}};
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        block[it.key()] = it.value();
    Add(BlockPath(name), kBlock, block);
}

void TFakeUDisks2::Add(const QString& path, const QString& interface, const QVariantMap& properties)
{
    Objects_[path][interface] = properties;
    QDBusMessage signal = QDBusMessage::createSignal(Root, kObjectManager, "InterfacesAdded");
    signal << QVariant::fromValue(QDBusObjectPath(path))
           << QVariant::fromValue(TInterfaceMap{{interface, properties}});
    Bus_.send(signal);
}

void TFakeUDisks2::Change(const QString& path, const QString& interface,
                          const QVariantMap& properties)
{
    QVariantMap& stored = Objects_[path][interface];
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        stored[it.key()] = it.value();
    QDBusMessage signal =
        QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << interface << properties << QStringList();
    Bus_.send(signal);
}

void TFakeUDisks2::Remove(const QString& path, const QStringList& interfaces)
{
    for (const QString& interface : interfaces)
        Objects_[path].erase(interface);
    if (Objects_[path].empty())
        Objects_.erase(path);
    QDBusMessage signal = QDBusMessage::createSignal(Root, kObjectManager, "InterfacesRemoved");
    signal << QVariant::fromValue(QDBusObjectPath(path)) << interfaces;
    Bus_.send(signal);
}

void TFakeUDisks2::InsertDisc(const QString& block, const QString& drive, const QString& label,
                              const QString& uuid)
{
    Change(DrivePath(drive), kDrive, {{"Optical", true}, {"MediaAvailable", true}});
    Add(BlockPath(block), kFilesystem, {{"MountPoints", QVariant::fromValue(QList<QByteArray>{})}});
    Change(
        BlockPath(block), kBlock,
        {{"IdUsage", "filesystem"}, {"IdType", "iso9660"}, {"IdLabel", label}, {"IdUUID", uuid}});
}

void TFakeUDisks2::Eject(const QString& block, const QString& drive)
{
    Remove(BlockPath(block), {kFilesystem});
    Change(BlockPath(block), kBlock,
           {{"IdUsage", ""}, {"IdType", ""}, {"IdLabel", ""}, {"IdUUID", ""}});
    Change(DrivePath(drive), kDrive, {{"Optical", false}, {"MediaAvailable", false}});
}

void TFakeUDisks2::Mount(const QString& block, const QString& folder)
{
    QList<QByteArray> mounts;
    if (!folder.isEmpty())
        mounts.push_back(folder.toUtf8() + '\0');
    Change(BlockPath(block), kFilesystem, {{"MountPoints", QVariant::fromValue(mounts)}});
}

QString TFakeUDisks2::introspect(const QString&) const
{
    return {};
}

bool TFakeUDisks2::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.path() != Root || message.interface() != kObjectManager ||
        message.member() != "GetManagedObjects")
        return false;
    TObjectMap objects;
    for (const auto& [path, interfaces] : Objects_) {
        TInterfaceMap map;
        for (const auto& [name, properties] : interfaces)
            map[name] = properties;
        objects[QDBusObjectPath(path)] = map;
    }
    connection.send(message.createReply(QVariant::fromValue(objects)));
    return true;
}
