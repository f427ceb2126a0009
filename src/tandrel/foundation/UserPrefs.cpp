#include "tandrel/foundation/UserPrefs.h"

#include <array>
#include <utility>

defaults::UserDefaults& UserPrefs::user_defaults() { return defaults::UserDefaults::standard(); }

void UserPrefs::setPreference(const std::string& key, std::optional<defaults::Value> value) {
    user_defaults().setObject(key, std::move(value));
}

void UserPrefs::registerDefaultPreferences() {
    static const std::array<std::pair<const char*, int64_t>, 8> kDefaults = {{
        {"PREVIEWWINDOW", 1},
        {"UPDATEDELAY", 0},
        {"MODE_APPEARANCE", 0},
        {"COLOR_THEME", 0},
        {"EDITOR_FONT_SIZE", 14},
        {"FILEEXPLORER_SORTING", 0},
        // The history of replaced server copies (VornFileHistory): copies per file, megabytes
        // per server.
        {"HISTORY_MAX_VERSIONS", 20},
        {"HISTORY_MAX_MEGABYTES", 50},
    }};
    for (const auto& [key, value] : kDefaults) {
        if (!user_defaults().stringForKey(key)) setPreference(key, defaults::Value(value));
    }
}
