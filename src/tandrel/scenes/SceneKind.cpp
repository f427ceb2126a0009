#include "tandrel/scenes/SceneKind.h"

namespace {
struct KindRow {
    const char* activityType;
    const char* configurationName;
};
constexpr std::array<KindRow, 6> kRows = {{
    {"main_editor", "Main Configuration"},
    {"server_viewer", "Default Configuration"},
    {"preferences", "New Document Configuration"},
    {"alert_window", "Alert Configuration"},
    {"manage_services", "Manage Services Configuration"},
    {"single_service", "Single Service Configuration"},
}};
}  // namespace

const std::array<SceneKind, 6>& scene_kind_all_cases() {
    static const std::array<SceneKind, 6> all = {SceneKind::main_editor,     SceneKind::server_viewer,
                                                 SceneKind::preferences,     SceneKind::alert_window,
                                                 SceneKind::manage_services, SceneKind::single_service};
    return all;
}

std::optional<SceneKind> scene_kind_from_int(int value) {
    if (value < 0 || value >= static_cast<int>(kRows.size())) return std::nullopt;
    return static_cast<SceneKind>(value);
}

QString scene_kind_activity_type(SceneKind kind) {
    return QString::fromLatin1(kRows[static_cast<size_t>(kind)].activityType);
}

std::optional<SceneKind> scene_kind_from_activity_type(const QString& activity_type) {
    for (size_t i = 0; i < kRows.size(); ++i) {
        if (activity_type == QLatin1String(kRows[i].activityType)) return static_cast<SceneKind>(i);
    }
    return std::nullopt;
}

QString scene_kind_configuration_name(SceneKind kind) {
    return QString::fromLatin1(kRows[static_cast<size_t>(kind)].configurationName);
}
