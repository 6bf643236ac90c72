#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

// The per-user settings store: keys named by paths such as "\SOFTWARE\Quorin Software\Fendrel",
// each holding named values of a fixed type, the way the program's settings have always been
// kept. Key paths are compared without regard to ASCII letter case.

struct TSettingsValue {
    enum class TType { Integer, String, ExpandString };
    TType Type = TType::Integer;
    uint32_t Integer = 0;
    std::string Text; // String and ExpandString: bytes as stored

    [[nodiscard]] static TSettingsValue OfInteger(uint32_t value)
    {
        return {TType::Integer, value, {}};
    }
    [[nodiscard]] static TSettingsValue OfString(std::string text)
    {
        return {TType::String, 0, std::move(text)};
    }
    bool operator==(const TSettingsValue&) const = default;
};

using TSettingsKey = std::map<std::string, TSettingsValue>; // value name -> value

class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // The values of a key, or nothing when the key does not exist. Throws ESettingsError when
    // the store cannot be read.
    [[nodiscard]] virtual std::optional<TSettingsKey> ReadKey(const std::string& path) = 0;
    // Creates the key when absent and sets the given values; its other values stay. Throws
    // ESettingsError when the store cannot be written.
    virtual void WriteValues(const std::string& path, const TSettingsKey& values) = 0;
    // Removes the key with all its subkeys; its parent stays. Throws ESettingsError on failure.
    virtual void DeleteKeyTree(const std::string& path) = 0;
};

// The store as one text file in the user's configuration folder, in the layout of a ".reg"
// export, so that a person can read and edit it:
//
//   [\SOFTWARE\Quorin Software\Fendrel]
//   "DefDrive"=dword:00000003
//   "LastCollection"="/home/anna/discs.frl"
//
// Strings escape '\' and '"' with a backslash and control bytes as \xHH; an expandable string
// is written expand:"...". Every write replaces the file atomically.
class TFileSettingsStore final : public ISettingsStore {
public:
    // filePath: the store file; it need not exist yet.
    explicit TFileSettingsStore(std::string filePath);
    // $XDG_CONFIG_HOME/fendrel/settings.reg, or ~/.config/fendrel/settings.reg.
    [[nodiscard]] static std::string DefaultPath();

    [[nodiscard]] std::optional<TSettingsKey> ReadKey(const std::string& path) override;
    void WriteValues(const std::string& path, const TSettingsKey& values) override;
    void DeleteKeyTree(const std::string& path) override;

private:
    using TKeys = std::map<std::string, TSettingsKey>; // key path as written -> values
    [[nodiscard]] TKeys Load() const;
    void Store(const TKeys& keys) const;

    std::string FilePath_;
};
