#pragma once
// What the test programs set at the file providers' seams, which the app leaves empty: a save's
// connection cut at one of its steps (Save.h, saveCutPoint), and a home of the test's own for the
// SSH configuration (SshSetup.h, userHomeSource). Only here, so that no program but a test can
// set them by name.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/Save.h"
#include "platform/files/SshSetup.h"

namespace files::detail {

namespace seams {
inline std::mutex mutex;
inline std::function<bool(std::string_view, SaveMoment)> cutHook;
inline bool cutHere(std::string_view step, SaveMoment moment) {
    std::function<bool(std::string_view, SaveMoment)> hook;
    {
        std::lock_guard lock(mutex);
        hook = cutHook;
    }
    return hook && hook(step, moment);
}
}  // namespace seams

// Called before and after each step of a save that touches the server's files; true cuts the
// connection there (see saveCutPoint). Nothing to clear it.
inline void setSaveCutHook(std::function<bool(std::string_view step, SaveMoment moment)> hook) {
    std::lock_guard lock(seams::mutex);
    saveCutPoint = hook ? &seams::cutHere : nullptr;
    seams::cutHook = std::move(hook);
}

}  // namespace files::detail

namespace files::ssh {

namespace seams {
inline std::mutex mutex;
inline std::optional<std::string> home;
inline std::optional<std::string> homeHere() {
    std::lock_guard lock(mutex);
    return home;
}
}  // namespace seams

// The home userHome() gives (nothing: the user database's again).
inline void setUserHomeForTests(std::optional<std::string> home) {
    std::lock_guard lock(seams::mutex);
    userHomeSource = home ? &seams::homeHere : nullptr;
    seams::home = std::move(home);
}

}  // namespace files::ssh
