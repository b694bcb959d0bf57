#pragma once
// The settings store over QSettings(NativeFormat, UserScope, "mrl", "Imbrix"): the registry
// key on Windows, ~/.config/mrl/Imbrix.conf on Linux.
#include <memory>
#include <string>
#include <vector>

#include "app/core/settings_record.h"

class QSettings;

inline constexpr const char* kSettingsOrganization = "mrl";
inline constexpr const char* kSettingsApplication = "Imbrix";
inline constexpr const char* kCannotCreateSettingsMessage = "Couldn't create registry entries to save settings";
// "Invalid data type for '%s'" and "Failed to set data for '%s'" name the value.

// Where the store lives. Default: the user's native store. Tests pass a file path (an INI
// file of the same layout), never touching the user's.
struct SettingsLocation {
    std::string IniFile;  // empty: the user's native store
};

struct LoadedSettings {
    TSettingsRecord Record;
    ScaleChoice Controls;
    // "Invalid data type for '<name>'" for each value that could not be read, in reading
    // order. The values after a bad one are still read; a bad one keeps its default.
    std::vector<std::string> Errors;
};

// The per-user working folder used when none is stored: the cache location + "results/"
// (~/.cache/mrl/Imbrix/results/), with a trailing "/". The program's own folder is
// read-only once installed.
std::string DefaultWorkDir();
// Makes a working folder that does not exist yet, with its missing parents; the folder
// itself gets mode 0700 (results are private copies). Returns "" when the folder exists
// afterwards, else the reason it could not be made.
std::string MakeWorkDir(const std::string& folder);

// Defaults (WorkDir = DefaultWorkDir()), then whatever the store holds, by the store's rules.
LoadedSettings LoadSettings(const SettingsLocation& location = {});

// Writes the record and the controls. Returns "" on success, else the message to show in an
// error box: kCannotCreateSettingsMessage when the store cannot be opened for writing or its
// file cannot be written. The store writes all values in one go, so no single value can fail
// on its own and "Failed to set data for '<name>'" does not arise here.
std::string SaveSettings(const TSettingsRecord& record, const ScaleChoice& controls,
                         const SettingsLocation& location = {});
