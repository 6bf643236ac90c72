#pragma once

// Where the two settings of the run live in the settings store.
inline constexpr const char* kCurrentSettingsKey = "\\SOFTWARE\\Quorin Software\\Fendrel";
// Read only when the current key is absent; moved to it and then deleted.
inline constexpr const char* kLegacySettingsKey = "\\SOFTWARE\\QRS\\Fendrel";

inline constexpr const char* kDefDriveValue = "DefDrive";             // integer: letter - 'A'
inline constexpr const char* kLastCollectionValue = "LastCollection"; // string: file path
// integer: 1 when adds and updates also record the files' content checksums; absent or 0: off
inline constexpr const char* kChecksumsOnAddValue = "ContentChecksums";
