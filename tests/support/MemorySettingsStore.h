#pragma once

#include "platform/SettingsStore.h"

#include <algorithm>

// Settings held in memory; writes can be made to fail.
class TMemorySettingsStore final : public ISettingsStore {
public:
    std::map<std::string, TSettingsKey> Keys;
    bool FailWrites = false;

    std::optional<TSettingsKey> ReadKey(const std::string& path) override
    {
        const auto found = Keys.find(path);
        if (found == Keys.end())
            return std::nullopt;
        return found->second;
    }
    void WriteValues(const std::string& path, const TSettingsKey& values) override
    {
        if (FailWrites)
            throw ESettingsError("write refused");
        for (const auto& [name, value] : values)
            Keys[path][name] = value;
    }
    void DeleteKeyTree(const std::string& path) override
    {
        if (FailWrites)
            throw ESettingsError("write refused");
        std::erase_if(Keys, [&](const auto& key) {
            return key.first == path || key.first.rfind(path + "\\", 0) == 0;
        });
    }
};
