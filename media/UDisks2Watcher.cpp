#include "media/UDisks2Watcher.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

#include <algorithm>
#include <iterator>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kLoop = QStringLiteral("org.freedesktop.UDisks2.Loop");

using TInterfaces = std::map<QString, QVariantMap>;

TInterfaces ReadInterfaces(const QDBusArgument& argument)
{
    TInterfaces interfaces;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString name;
        QVariantMap properties;
        argument.beginMapEntry();
        argument >> name >> properties;
        argument.endMapEntry();
        interfaces[name] = properties;
    }
    argument.endMap();
    return interfaces;
}

// A byte string property ("ay"): UDisks2 ends its paths with a zero byte.
std::string CString(const QByteArray& bytes)
{
    return std::string(bytes.constData(), qstrnlen(bytes.constData(), bytes.size()));
}

// A list of byte strings ("aay"), as the mount points come.
std::vector<std::string> CStrings(const QVariant& value)
{
    QList<QByteArray> list;
    if (value.userType() == qMetaTypeId<QDBusArgument>())
        value.value<QDBusArgument>() >> list;
    else
        list = value.value<QList<QByteArray>>();
    std::vector<std::string> strings;
    for (const QByteArray& bytes : list)
        strings.push_back(CString(bytes));
    return strings;
}

bool IsOpticalDrive(const QVariantMap& drive)
{
    const QStringList media = drive.value("MediaCompatibility").toStringList();
    return std::any_of(media.begin(), media.end(),
                       [](const QString& kind) { return kind.startsWith("optical"); });
}

} // namespace

TUDisks2Watcher::TUDisks2Watcher(QDBusConnection bus, QObject* parent)
    : IMediaWatcher(parent)
    , Bus_(std::move(bus))
{
    if (!Bus_.isConnected())
        return;
    // The signals are subscribed to before the objects are asked for, so no change between the
    // two is missed; the answer then replaces whatever came before it.
    Bus_.connect(kService, kRoot, kObjectManager, "InterfacesAdded", this,
                 SLOT(InterfacesAdded(QDBusMessage)));
    Bus_.connect(kService, kRoot, kObjectManager, "InterfacesRemoved", this,
                 SLOT(InterfacesRemoved(QDBusMessage)));
    Bus_.connect(kService, QString(), kProperties, "PropertiesChanged", this,
                 SLOT(PropertiesChanged(QDBusMessage)));
    // A service started or restarted later is read again; one that ends takes its media along.
    auto* service =
        new QDBusServiceWatcher(kService, Bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(service, &QDBusServiceWatcher::serviceRegistered, this, &TUDisks2Watcher::Load);
    connect(service, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        Objects_.clear();
        Update();
    });
    Load();
}

std::vector<TMedium> TUDisks2Watcher::Media() const
{
    std::vector<TMedium> media;
    for (const auto& [key, medium] : Media_)
        media.push_back(medium);
    return media;
}

std::vector<std::string> TUDisks2Watcher::Drives() const
{
    return {Drives_.begin(), Drives_.end()};
}

void TUDisks2Watcher::Load()
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kRoot, kObjectManager, "GetManagedObjects");
    auto* pending = new QDBusPendingCallWatcher(Bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, &TUDisks2Watcher::Loaded);
}

void TUDisks2Watcher::Loaded(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusMessage reply = call->reply();
    // No service (or an error): nothing to show, and nothing to say about it.
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;
    Objects_.clear();
    const auto argument = reply.arguments().front().value<QDBusArgument>();
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        argument.beginMapEntry();
        argument >> path;
        Objects_[path.path()] = ReadInterfaces(argument);
        argument.endMapEntry();
    }
    argument.endMap();
    Update();
    Known_ = true;
}

void TUDisks2Watcher::InterfacesAdded(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString path = arguments[0].value<QDBusObjectPath>().path();
    for (auto& [name, properties] : ReadInterfaces(arguments[1].value<QDBusArgument>()))
        Objects_[path][name] = std::move(properties);
    Update();
}

void TUDisks2Watcher::InterfacesRemoved(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString path = arguments[0].value<QDBusObjectPath>().path();
    const auto object = Objects_.find(path);
    if (object == Objects_.end())
        return;
    for (const QString& name : arguments[1].toStringList())
        object->second.erase(name);
    if (object->second.empty())
        Objects_.erase(object);
    Update();
}

void TUDisks2Watcher::PropertiesChanged(const QDBusMessage& message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2)
        return;
    const QString name = arguments[0].toString();
    if (name != kBlock && name != kFilesystem && name != kDrive)
        return;
    const auto object = Objects_.find(message.path());
    if (object == Objects_.end())
        return; // its InterfacesAdded brings the whole object
    QVariantMap& properties = object->second[name];
    QVariantMap changed = arguments[1].toMap();
    if (changed.isEmpty() && arguments[1].userType() == qMetaTypeId<QDBusArgument>())
        arguments[1].value<QDBusArgument>() >> changed;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        properties[it.key()] = it.value();
    if (arguments.size() > 2) {
        for (const QString& gone : arguments[2].toStringList())
            properties.remove(gone);
    }
    Update();
}

void TUDisks2Watcher::Update()
{
    std::map<std::string, TMedium> media;
    std::set<std::string> drives;
    for (const auto& [path, interfaces] : Objects_) {
        const auto blockFound = interfaces.find(kBlock);
        if (blockFound == interfaces.end())
            continue;
        const QVariantMap& block = blockFound->second;
        const QVariantMap* drive = nullptr;
        if (const auto owner = Objects_.find(block.value("Drive").value<QDBusObjectPath>().path());
            owner != Objects_.end()) {
            if (const auto found = owner->second.find(kDrive); found != owner->second.end())
                drive = &found->second;
        }
        TMedium medium;
        medium.Key = path.toStdString();
        medium.Device = CString(block.value("Device").toByteArray());
        const bool optical = drive && IsOpticalDrive(*drive);
        if (optical && !interfaces.contains(kPartition) && !medium.Device.empty())
            drives.insert(medium.Device);
        if (block.value("HintSystem").toBool() || block.value("HintIgnore").toBool())
            continue;
        medium.Label = block.value("IdLabel").toString().toStdString();
        medium.Uuid = block.value("IdUUID").toString().toStdString();
        medium.FsType = block.value("IdType").toString().toStdString();
        if (const auto fs = interfaces.find(kFilesystem); fs != interfaces.end()) {
            const std::vector<std::string> mounts = CStrings(fs->second.value("MountPoints"));
            if (!mounts.empty())
                medium.MountPoint = mounts.front();
        }
        if (const auto loop = interfaces.find(kLoop); loop != interfaces.end())
            medium.ImageFile = CString(loop->second.value("BackingFile").toByteArray());
        if (optical) {
            // A disc with a file system on it; a blank or an audio disc is not catalogued.
            if (block.value("IdUsage").toString() != "filesystem" ||
                !drive->value("MediaAvailable", true).toBool())
                continue;
            medium.Kind = TMediumKind::Disc;
        } else {
            // A disc image the desktop has mounted counts as a medium too.
            const bool removable =
                interfaces.contains(kLoop) || (drive && (drive->value("Removable").toBool() ||
                                                         drive->value("MediaRemovable").toBool()));
            if (!removable || medium.MountPoint.empty())
                continue;
            medium.Kind = TMediumKind::FileSystem;
        }
        media.emplace(medium.Key, std::move(medium));
    }

    std::vector<TMedium> left, changed, arrived;
    for (const auto& [key, medium] : Media_) {
        const auto now = media.find(key);
        if (now == media.end())
            left.push_back(medium);
        else if (!(now->second == medium))
            changed.push_back(now->second);
    }
    for (const auto& [key, medium] : media) {
        if (!Media_.contains(key))
            arrived.push_back(medium);
    }
    std::vector<std::string> plugged, unplugged;
    std::set_difference(drives.begin(), drives.end(), Drives_.begin(), Drives_.end(),
                        std::back_inserter(plugged));
    std::set_difference(Drives_.begin(), Drives_.end(), drives.begin(), drives.end(),
                        std::back_inserter(unplugged));
    Media_ = std::move(media);
    Drives_ = std::move(drives);

    // Media leave before their drive does; a drive comes before the media in it.
    for (const TMedium& medium : left)
        emit MediumLeft(medium);
    for (const std::string& device : unplugged)
        emit DriveUnplugged(device);
    for (const std::string& device : plugged)
        emit DrivePlugged(device);
    for (const TMedium& medium : changed)
        emit MediumChanged(medium);
    // What was there before the first answer is no news.
    if (Known_) {
        for (const TMedium& medium : arrived)
            emit MediumArrived(medium);
    }
}
