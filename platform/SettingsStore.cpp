#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SamePath(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsSameOrBelow(const std::string& key, const std::string& path)
{
    if (SamePath(key, path))
        return true;
    return key.size() > path.size() && key[path.size()] == '\\' &&
           SamePath(key.substr(0, path.size()), path);
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// Reads a quoted string starting at pos (at the opening quote); advances pos past the closing one.
std::optional<std::string> Unquote(const std::string& line, size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= line.size())
            return std::nullopt;
        if (line[pos] == 'x') {
            if (pos + 2 >= line.size() ||
                !std::isxdigit(static_cast<unsigned char>(line[pos + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(line[pos + 2])))
                return std::nullopt;
            out += static_cast<char>(std::stoi(line.substr(pos + 1, 2), nullptr, 16));
            pos += 2;
        } else {
            out += line[pos];
        }
    }
    return std::nullopt;
}

std::optional<TSettingsValue> ParseValue(const std::string& text)
{
    if (text.rfind("dword:", 0) == 0) {
        const std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        return TSettingsValue::OfInteger(static_cast<uint32_t>(std::stoul(digits, nullptr, 16)));
    }
    auto type = TSettingsValue::TType::String;
    size_t pos = 0;
    if (text.rfind("expand:", 0) == 0) {
        type = TSettingsValue::TType::ExpandString;
        pos = 7;
    }
    auto string = Unquote(text, pos);
    if (!string || pos != text.size())
        return std::nullopt;
    return TSettingsValue{type, 0, std::move(*string)};
}

std::string FormatValue(const TSettingsValue& value)
{
    switch (value.Type) {
    case TSettingsValue::TType::Integer: {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08X", static_cast<unsigned>(value.Integer));
        return buffer;
    }
    case TSettingsValue::TType::ExpandString:
        return "expand:" + Quote(value.Text);
    case TSettingsValue::TType::String:
        break;
    }
    return Quote(value.Text);
}

// The whole settings file; nothing when there is none. Only a plain file is read: a FIFO put in
// its place would otherwise hold up the start for ever, and the open does not wait for one.
std::optional<QByteArray> ReadSettingsFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw ESettingsError("settings file cannot be read");
    }
    QByteArray content;
    struct stat status {};
    bool read = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    while (read) {
        char buffer[65536];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            read = count == 0;
            break;
        }
        content.append(buffer, count);
    }
    ::close(fd);
    if (!read)
        throw ESettingsError("settings file cannot be read");
    return content;
}

} // namespace

TFileSettingsStore::TFileSettingsStore(std::string filePath)
    : FilePath_(std::move(filePath))
{
}

std::string TFileSettingsStore::DefaultPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFile::encodeName(folder + "/fendrel/settings.reg").toStdString();
}

TFileSettingsStore::TKeys TFileSettingsStore::Load() const
{
    TKeys keys;
    const std::optional<QByteArray> read = ReadSettingsFile(FilePath_);
    if (!read)
        return keys;
    const QByteArray& content = *read;
    TSettingsKey* current = nullptr;
    for (QByteArray rawLine : content.split('\n')) {
        if (rawLine.endsWith('\r'))
            rawLine.chop(1);
        const std::string line = rawLine.toStdString();
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string path = line.substr(1, line.size() - 2);
            auto found = std::find_if(keys.begin(), keys.end(), [&](const auto& entry) {
                return SamePath(entry.first, path);
            });
            current = found != keys.end() ? &found->second : &keys[path];
            continue;
        }
        size_t pos = 0;
        auto name = Unquote(line, pos);
        std::optional<TSettingsValue> value;
        if (name && current && pos < line.size() && line[pos] == '=')
            value = ParseValue(line.substr(pos + 1));
        if (!value)
            throw ESettingsError("settings file is damaged");
        (*current)[*name] = std::move(*value);
    }
    return keys;
}

void TFileSettingsStore::Store(const TKeys& keys) const
{
    std::string text = "; Fendrel settings\n";
    for (const auto& [path, values] : keys) {
        text += "\n[" + path + "]\n";
        for (const auto& [name, value] : values)
            text += Quote(name) + "=" + FormatValue(value) + "\n";
    }
    const QString path = QFile::decodeName(FilePath_.c_str());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit())
        throw ESettingsError("settings file cannot be written");
}

std::optional<TSettingsKey> TFileSettingsStore::ReadKey(const std::string& path)
{
    const TKeys keys = Load();
    for (const auto& [keyPath, values] : keys)
        if (SamePath(keyPath, path))
            return values;
    return std::nullopt;
}

void TFileSettingsStore::WriteValues(const std::string& path, const TSettingsKey& values)
{
    TKeys keys = Load();
    auto found = std::find_if(keys.begin(), keys.end(),
                              [&](const auto& entry) { return SamePath(entry.first, path); });
    TSettingsKey& key = found != keys.end() ? found->second : keys[path];
    for (const auto& [name, value] : values)
        key[name] = value;
    Store(keys);
}

void TFileSettingsStore::DeleteKeyTree(const std::string& path)
{
    TKeys keys = Load();
    const auto removed =
        std::erase_if(keys, [&](const auto& entry) { return IsSameOrBelow(entry.first, path); });
    if (removed > 0)
        Store(keys);
}
