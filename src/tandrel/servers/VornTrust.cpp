#include "tandrel/servers/VornTrust.h"

#include <cstdlib>
#include <mutex>

#include <QLineEdit>

#include "platform/dispatch/Dispatch.h"
#include "platform/keychain/Keychain.h"
#include "platform/files/SshSetup.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"

namespace {

// ~/.ssh/known_hosts, with the home OpenSSH takes (the user database's).
std::filesystem::path user_known_hosts() {
    const std::string home = files::ssh::userHome();
    if (home.empty()) return {};
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

namespace {

// Gives the login answer once; nothing when it is dropped unanswered.
class OnceLoginAnswer {
public:
    explicit OnceLoginAnswer(std::function<void(std::optional<files::LoginAnswer>)> answer) : answer_(std::move(answer)) {}
    ~OnceLoginAnswer() { give(std::nullopt); }
    void give(std::optional<files::LoginAnswer> value) {
        std::function<void(std::optional<files::LoginAnswer>)> answer;
        {
            std::lock_guard lock(mutex_);
            answer = std::move(answer_);
            answer_ = nullptr;
        }
        if (answer) answer(std::move(value));
    }

private:
    std::mutex mutex_;
    std::function<void(std::optional<files::LoginAnswer>)> answer_;
};

QString login_message(const files::LoginQuestion& question) {
    const std::string server = question.user + "@" + question.host +
                               (question.port == 22 || question.port <= 0 ? std::string() : ":" + std::to_string(question.port));
    std::string text;
    if (question.kind == files::LoginQuestion::Kind::passphrase) {
        text = (question.again ? "The passphrase was wrong. " : "") + std::string("Enter the passphrase of the key ") +
               question.keyFile + " to log in to " + server + ".";
    } else {
        // As OpenSSH says it when the server did not take the answers and asks again.
        if (question.again) text = "Permission denied, please try again.\n";
        if (!question.instruction.empty()) text += question.instruction + "\n";
        text += "The server " + server + " asks:";
        for (const auto& prompt : question.prompts) text += "\n" + prompt.text;
    }
    return QString::fromStdString(text);
}

void show_login_window(files::LoginQuestion question, std::shared_ptr<OnceLoginAnswer> once) {
    QPointer<ui::ViewController> presenter = front_screen();
    if (!presenter) return once->give(std::nullopt);
    const bool passphrase = question.kind == files::LoginQuestion::Kind::passphrase;
    auto alert = ui::AlertController::make(QString::fromStdString(question.title), login_message(question));
    std::weak_ptr<ui::AlertController> weak = alert;
    if (passphrase) {
        alert->addTextField([](QLineEdit* field) {
            field->setPlaceholderText(QStringLiteral("Passphrase"));
            field->setEchoMode(QLineEdit::Password);
        });
    } else {
        for (const auto& prompt : question.prompts) {
            const QString text = QString::fromStdString(prompt.text).trimmed();
            const bool echo = prompt.echo;
            alert->addTextField([text, echo](QLineEdit* field) {
                field->setPlaceholderText(text);
                field->setEchoMode(echo ? QLineEdit::Normal : QLineEdit::Password);
            });
        }
    }
    // "Remember" is only passed on: the passphrase is stored once it proved right (see
    // VornTrustAsker::rememberPassphrase).
    auto answer_with = [weak, once](bool remember) {
        return [weak, once, remember] {
            auto shown = weak.lock();
            if (!shown) return once->give(std::nullopt);
            files::LoginAnswer answer;
            for (QLineEdit* field : shown->textFields()) answer.answers.push_back(field->text().toStdString());
            answer.remember = remember;
            once->give(std::move(answer));
        };
    };
    auto primary = ui::AlertAction::make(passphrase ? QStringLiteral("Unlock") : QStringLiteral("Log In"),
                                         ui::AlertActionStyle::default_, answer_with(false));
    alert->addAction(primary);
    if (passphrase)
        alert->addAction(ui::AlertAction::make(QStringLiteral("Unlock and Remember"), ui::AlertActionStyle::default_, answer_with(true)));
    alert->addAction(ui::AlertAction::make(QStringLiteral("Cancel"), ui::AlertActionStyle::cancel, [once] {
        files::LoginAnswer cancelled;
        cancelled.cancelled = true;
        once->give(std::move(cancelled));
    }));
    alert->setPreferredAction(primary);
    VORNPresenterUtility::present_on_main(presenter, [presenter, alert, once](bool ready) {
        if (!ready || !presenter || !presenter->presentViewController(alert, true)) once->give(std::nullopt);
    });
}

}  // namespace

void VornTrustAsker::askLogin(files::LoginQuestion question,
                              std::function<void(std::optional<files::LoginAnswer>)> answer) {
    auto once = std::make_shared<OnceLoginAnswer>(std::move(answer));
    dispatch::mainQueue().async([question = std::move(question), once]() mutable {
        if (question.kind != files::LoginQuestion::Kind::passphrase) return show_login_window(std::move(question), once);
        const std::string keyFile = question.keyFile;
        if (question.again) {
            // The remembered passphrase (if it was the one given) is wrong: it goes.
            keychain::deletePassword(kPassphraseService, keyFile, nullptr);
            return show_login_window(std::move(question), once);
        }
        keychain::readPassword(kPassphraseService, keyFile,
                               [question, once](std::optional<std::string> secret, std::optional<keychain::Failure>) mutable {
                                   if (secret) return once->give(files::LoginAnswer{{*secret}, false});
                                   show_login_window(std::move(question), once);
                               });
    });
}

void VornTrustAsker::rememberPassphrase(const files::LoginQuestion& question, const std::string& passphrase) {
    if (question.keyFile.empty()) return;
    keychain::writePassword(kPassphraseService, question.keyFile, passphrase, nullptr);
}
