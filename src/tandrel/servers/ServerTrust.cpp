#include "tandrel/servers/ServerTrust.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"

namespace {

// A question in an alert: "Trust" or "Cancel" for an unknown key, only "OK" for a warning. No
// window to show it on, or a window that goes before it shows: not trusted.
class AlertTrustAsker final : public files::TrustAsker {
public:
    void ask(files::TrustQuestion question, std::function<void(bool)> answer) override {
        auto once = std::make_shared<std::atomic<bool>>(false);
        auto reply = [answer = std::move(answer), once](bool trust) {
            if (!once->exchange(true) && answer) answer(trust);
        };
        dispatch::mainQueue().async([question = std::move(question), reply] {
            ui::Window* window = ui::Application::shared().keyWindow();
            if (!window && !ui::Application::shared().windows().isEmpty())
                window = ui::Application::shared().windows().front();
            VORNPresenterUtility::Presenter presenter(window ? window->rootViewController() : nullptr);
            if (!presenter) return reply(false);
            VORNPresenterUtility::present_on_main(presenter, [question, reply, presenter](bool ready) {
                if (!ready) return reply(false);
                if (!question.acceptable) {
                    VORNPresenterUtility::present_action_alert(
                        true, question.title, question.message, "OK", [reply](bool) { reply(false); }, presenter);
                    return;
                }
                VORNPresenterUtility::present_actions_alert(
                    true, question.title, question.message,
                    {{"Cancel", ui::AlertActionStyle::cancel, false}, {"Trust", ui::AlertActionStyle::default_, true}},
                    reply, presenter);
            });
        });
    }
};

std::mutex& trustMutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<files::Trust>& trustInUse() {
    static std::shared_ptr<files::Trust> trust;
    return trust;
}

}  // namespace

std::shared_ptr<files::Trust> server_trust() {
    std::lock_guard lock(trustMutex());
    auto& trust = trustInUse();
    if (!trust) {
        const std::filesystem::path folder =
            VornAppUrlUtility::base_url().value_or(VornAppUrlUtility::application_folder());
        const char* home = std::getenv("HOME");
        trust = std::make_shared<files::Trust>(
            folder, home && *home ? std::filesystem::path(home) / ".ssh" / "known_hosts" : std::filesystem::path());
        trust->setAsker(std::make_shared<AlertTrustAsker>());
    }
    return trust;
}

void set_server_trust(std::shared_ptr<files::Trust> trust) {
    std::lock_guard lock(trustMutex());
    trustInUse() = std::move(trust);
}
