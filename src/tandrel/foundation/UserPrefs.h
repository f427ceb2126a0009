#pragma once
// The app's small settings in the settings store, and their defaults.
#include <optional>
#include <string>

#include "platform/defaults/UserDefaults.h"

class UserPrefs {
public:
    // The standard settings store.
    static defaults::UserDefaults& user_defaults();
    // Stores the value under the key; no value removes the key.
    static void setPreference(const std::string& key, std::optional<defaults::Value> value);
    // Writes the default of each app setting that has no text or number stored.
    static void registerDefaultPreferences();
};
