#pragma once
// Scene configurations, connection and request options, and the error a request reports.
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include "platform/ui/scenes/UserActivity.h"

namespace ui {

// The role of a scene session. Every window of this app is an application window.
enum class SceneSessionRole { windowApplication, windowExternalDisplay };

// The configuration a connecting session gets: its name selects the scene and delegate classes
// from the application's manifest. A configuration without a name matches nothing.
struct SceneConfiguration {
    std::optional<QString> name;
    SceneSessionRole role = SceneSessionRole::windowApplication;

    SceneConfiguration() = default;
    SceneConfiguration(QString n, SceneSessionRole r) : name(std::move(n)), role(r) {}
};

// What a connecting scene is told: the activities it was requested with (a request carries one)
// and the URLs it was asked to open.
struct ConnectionOptions {
    QList<UserActivity> userActivities;
    QList<QUrl> urlContexts;
};

struct ActivationRequestOptions {
    // Reserved for requesting scenes from another scene; unused on this desktop.
    QString requestingSceneIdentifier;
};

enum class DismissalAnimation { standard, commit, decline };

struct DestructionRequestOptions {
    DismissalAnimation windowDismissalAnimation = DismissalAnimation::standard;
};

// Why a request failed.
struct SceneError {
    enum class Code {
        // The configuration chosen for the activity names no scene class in the manifest.
        configurationUnavailable = 1,
        // A new window was asked for on a device with one window, which already has it.
        multipleScenesUnsupported = 2,
        // The session is no longer open.
        sessionNotFound = 3,
    };
    Code code;
    QString message;
};

using SceneErrorHandler = std::function<void(const SceneError&)>;

}  // namespace ui
