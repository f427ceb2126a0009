#include "tandrel/servers/VornTrust.h"

#include <cstdlib>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"

namespace {

std::filesystem::path user_known_hosts() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::filesystem::path(home) / ".ssh" / "known_hosts";
}

// The screen in front: the key window's (else the first window's) root screen, or what it
// presents, down to the last one presented.
QPointer<ui::ViewController> front_screen() {
    auto& app = ui::Application::shared();
    ui::Window* window = app.keyWindow();
    if (!window) {
        for (ui::Window* w : app.windows()) {
            if (w && w->rootViewController()) {
                window = w;
                break;
            }
        }
    }
    if (!window) return nullptr;
    ui::ViewController* screen = window->rootViewController();
    while (screen && screen->presentedViewController()) screen = screen->presentedViewController();
    return screen;
}

// Calls the answer once: with the choice, or with false when it is dropped unanswered (the
// alert and its actions went away, or the alert was never shown).
class OnceAnswer {
public:
    explicit OnceAnswer(std::function<void(bool)> answer) : answer_(std::move(answer)) {}
    ~OnceAnswer() { give(false); }
    void give(bool trust) {
        std::function<void(bool)> answer;
        {
            std::lock_guard lock(mutex_);
            answer = std::move(answer_);
            answer_ = nullptr;
        }
        if (answer) answer(trust);
    }

private:
    std::mutex mutex_;
    std::function<void(bool)> answer_;
};

}  // namespace

namespace {

std::mutex& trust_mutex() {
    static std::mutex mutex;
    return mutex;
}
std::shared_ptr<files::Trust>& trust_in_use() {
    static std::shared_ptr<files::Trust> trust;
    return trust;
}

}  // namespace

std::shared_ptr<files::Trust> app_trust() {
    std::lock_guard lock(trust_mutex());
    auto& trust = trust_in_use();
    if (!trust) trust = std::make_shared<files::Trust>(VornAppUrlUtility::application_folder(), user_known_hosts());
    return trust;
}

void set_app_trust(std::shared_ptr<files::Trust> trust) {
    std::lock_guard lock(trust_mutex());
    trust_in_use() = std::move(trust);
}

void VornTrustAsker::ask(files::TrustQuestion question, std::function<void(bool trust)> answer) {
    auto once = std::make_shared<OnceAnswer>(std::move(answer));
    dispatch::mainQueue().async([question = std::move(question), once]() mutable {
        QPointer<ui::ViewController> presenter = front_screen();
        if (!presenter) return once->give(false);
        std::vector<VORNPresenterUtility::ActionEntry> actions;
        if (question.acceptable) {
            actions.push_back({"Trust", ui::AlertActionStyle::default_, true});
            actions.push_back({"Cancel", ui::AlertActionStyle::cancel, false});
        } else {
            actions.push_back({"OK", ui::AlertActionStyle::default_, false});
        }
        VORNPresenterUtility::present_on_main(
            presenter, [presenter, question = std::move(question), actions = std::move(actions), once](bool ready) {
                if (!ready) return once->give(false);
                VORNPresenterUtility::present_actions_alert(
                    true, question.title, question.message, actions, [once](bool trust) { once->give(trust); },
                    presenter);
            });
    });
}
