#pragma once
// The kinds of window: a number from 0 to 5 whose raw value is the activity type that requests
// it, with the configuration name each kind connects under and the user-info keys.
#include <QString>
#include <array>
#include <optional>

enum class SceneKind : int {
    main_editor = 0,
    server_viewer = 1,
    preferences = 2,
    alert_window = 3,
    manage_services = 4,
    single_service = 5,
};

// All six kinds, in order.
const std::array<SceneKind, 6>& scene_kind_all_cases();
// 0 to 5; nothing for any other number.
std::optional<SceneKind> scene_kind_from_int(int value);
// The activity type (raw value), e.g. "main_editor".
QString scene_kind_activity_type(SceneKind kind);
// The kind whose activity type equals the text exactly (case-sensitive).
std::optional<SceneKind> scene_kind_from_activity_type(const QString& activity_type);
// "Main Configuration", "Default Configuration", ...
QString scene_kind_configuration_name(SceneKind kind);

// The configuration of a connecting scene whose activity is of no kind, or that has no activity.
inline constexpr const char* kDefaultSceneConfigurationName = "Default Configuration";

// User-info keys of the window requests.
namespace scene_user_info {
inline constexpr const char* service_session_id = "service_session_id";
inline constexpr const char* file_bucket_id = "file_bucket_id";
inline constexpr const char* preview_supported = "preview_supported";
inline constexpr const char* title = "title";
inline constexpr const char* message = "message";
inline constexpr const char* file_controller_window_id = "file_controller_window_id";
inline constexpr const char* service_id = "service_id";
}  // namespace scene_user_info
