#include "AppTestControl.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "platform/ui/AlertController.h"
#include "platform/ui/Menu.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

FileViewerSceneDelegate* server_window() {
    for (FileViewerScene* scene : SceneManager::file_viewer_scenes()) {
        if (auto* d = qobject_cast<FileViewerSceneDelegate*>(scene->delegate())) return d;
    }
    return nullptr;
}

DocumentSceneDelegate* document() {
    const auto scenes = SceneManager::document_scenes();
    return scenes.empty() ? nullptr : qobject_cast<DocumentSceneDelegate*>(scenes.back()->delegate());
}

VornEditorJSConnector* editor() {
    auto* doc = document();
    return doc && doc->doc_int_man ? doc->doc_int_man->visible_editor_connector() : nullptr;
}

// Runs `check` every 100 ms until it says true or 30 s have gone.
void poll(std::function<void(std::function<void(bool)>)> check, std::function<void(bool)> done) {
    auto tries = std::make_shared<int>(300);
    auto step = std::make_shared<std::function<void()>>();
    *step = [check, done, tries, step] {
        check([done, tries, step](bool ok) {
            if (ok || --*tries <= 0) {
                done(ok);
                *step = nullptr;  // ends the cycle of the step holding itself
                return;
            }
            QTimer::singleShot(100, [step] {
                if (*step) (*step)();
            });
        });
    };
    (*step)();
}

void connect_server(const std::string& id) {
    // The first window may still be on its way when the command comes.
    poll([](auto answer) { answer(server_window() != nullptr); },
         [id](bool found) {
             FileViewerSceneDelegate* window = server_window();
             if (!found || !window) return say("failed no server window");
             QPointer<FileViewerSceneDelegate> weak(window);
             window->reset_service_connection([weak, id](std::optional<VornError> error) {
                 if (!weak) return say("failed server window gone");
                 weak->connect_after_reset(
                     error,
                     [](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> e) {
                         say(bucket ? "connected" : "failed " + (e ? e->text() : std::string("no connection")));
                     },
                     id);
             });
         });
}

void open_file(const std::string& name) {
    FileViewerSceneDelegate* window = server_window();
    if (!window || !window->fileView_controller) return say("failed no explorer");
    const std::string id = file_bucket_id_for_path("/" + name);
    QPointer<FileViewerSceneDelegate> weak(window);
    window->fileView_controller->refresh();
    poll([weak, id](auto answer) { answer(weak && weak->find_listed_file(id) != nullptr); },
         [weak, id](bool listed) {
             if (!listed || !weak) return say("failed not listed");
             weak->fileView_controller->open_file(weak->find_listed_file(id));
             // Opened once the page's current session is the file's.
             poll(
                 [id](auto answer) {
                     VornEditorJSConnector* connector = editor();
                     if (!connector) return answer(false);
                     connector->run_editor_js(editor_script::get_current_session(),
                                              [id, answer](nlohmann::json reply, std::optional<VornError> error) {
                                                  const auto s = error ? std::nullopt : editor_support::read_session_count(reply);
                                                  answer(s && s->first == id);
                                              });
                 },
                 [](bool opened) { say(opened ? "opened" : "failed the page never held the file"); });
         });
}

void type_text(const std::string& text) {
    VornEditorJSConnector* connector = editor();
    if (!connector) return say("failed no editor");
    connector->run_editor_js(editor_script::insert_content(text), [](nlohmann::json, std::optional<VornError> error) {
        say(error ? "failed " + error->text() : std::string("typed"));
    });
}

QAction* find_command(const QList<QAction*>& actions, const QString& name) {
    for (QAction* a : actions) {
        if (a->menu()) {
            if (QAction* found = find_command(a->menu()->actions(), name)) return found;
            continue;
        }
        const auto command = ui::MenuRenderer::commandOf(a);
        if (command && command->action == name) return a;
    }
    return nullptr;
}

void choose_menu_item(const QString& name) {
    ui::Window* window = nullptr;
    if (auto* doc = document(); doc && doc->window()) window = doc->window();
    if (!window) window = ui::Application::shared().keyWindow();
    if (!window) {
        const auto all = ui::Application::shared().windows();
        if (!all.isEmpty()) window = all.first();
    }
    if (!window) return say("failed no window");
    ui::MenuRenderer::validateMenuBar(window->menuBar(), window);
    QAction* action = find_command(window->menuBar()->actions(), name);
    if (!action || !action->isEnabled()) return say("failed no such item");
    say("chosen");
    action->trigger();
}

QPointer<ui::AlertController>& shown_alert() {
    static QPointer<ui::AlertController> alert;
    return alert;
}

void answer_alert(const QString& title) {
    ui::AlertController* alert = shown_alert();
    if (!alert || alert->isAnswered()) return say("failed no alert");
    for (const auto& action : alert->actions()) {
        if (action->title() != title) continue;
        say("answered");
        alert->performAction(action);
        return;
    }
    say("failed no such button");
}

void minimize_key_window() {
    ui::Window* window = ui::Application::shared().keyWindow();
    if (!window) return say("failed no key window");
    window->showMinimized();
    say("minimized");
}

void tell_key_window() {
    ui::Window* window = ui::Application::shared().keyWindow();
    if (!window) return say("key none");
    ui::Scene* scene = window->windowScene();
    const char* kind = qobject_cast<FileViewerScene*>(scene) ? "server_viewer"
                       : qobject_cast<DocumentScene*>(scene) ? "main_editor"
                                                             : "other";
    const bool shown = window->isVisible() && !window->isMinimized();
    say(std::string("key ") + kind + (shown ? " shown" : " minimized"));
}

void tell_document() {
    poll(
        [](auto answer) {
            VornEditorJSConnector* connector = editor();
            if (!connector) return answer(false);
            connector->run_editor_js(editor_script::get_current_session(),
                                     [answer](nlohmann::json reply, std::optional<VornError> error) {
                                         answer(!error && editor_support::read_session_count(reply).has_value());
                                     });
        },
        [](bool open) {
            VornEditorJSConnector* connector = editor();
            if (!open || !connector) return say("failed no document");
            QPointer<VornEditorJSConnector> weak(connector);
            connector->run_editor_js(editor_script::get_current_session(),
                                     [weak](nlohmann::json reply, std::optional<VornError> error) {
                auto session = error ? std::nullopt : editor_support::read_session_reply(reply);
                auto record = session && weak ? weak->find_file_session(session->session_id) : nullptr;
                if (!record) return say("failed no record");
                const auto text = editor_support::session_value(session->json).value_or(std::string());
                auto* doc = document();
                const bool modified = doc && doc->window() && doc->window()->isWindowModified();
                say(std::string("document ") + (session->undo_count > record->undo_count ? "unsaved" : "saved") +
                    (modified ? " modified " : " unmodified ") +
                    QByteArray::fromStdString(text).toBase64().toStdString());
            });
        });
}

void tell_folder() {
    FileViewerSceneDelegate* window = server_window();
    const bool known = window && window->my_session_info && window->my_session_info->current_dir;
    say("folder " + (known ? *window->my_session_info->current_dir : std::string()));
}

void count_windows() {
    say("windows " + std::to_string(SceneManager::file_viewer_scenes().size()) + " server " +
        std::to_string(SceneManager::document_scenes().size()) + " document");
}

void run_command(const std::string& line) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "connect") return connect_server(rest);
    if (verb == "open") return open_file(rest);
    if (verb == "type") return type_text(rest);
    if (verb == "menu") return choose_menu_item(QString::fromStdString(rest));
    if (verb == "answer") return answer_alert(QString::fromStdString(rest));
    if (verb == "minimize") return minimize_key_window();
    if (verb == "key") return tell_key_window();
    if (verb == "document") return tell_document();
    if (verb == "windows") return count_windows();
    if (verb == "folder") return tell_folder();
    say("failed unknown command");
}

void install_test_control() {
    ui::AlertController::setAppearanceObserver([](ui::AlertController* alert) {
        shown_alert() = alert;
        say("alert " + alert->alertTitle().toStdString());
        say("alert-message " + alert->message().simplified().toStdString());
    });
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, QCoreApplication::instance());
    auto buffer = std::make_shared<std::string>();
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, buffer] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            notifier->setEnabled(false);  // the test closed its end
            return;
        }
        buffer->append(chunk, static_cast<size_t>(n));
        for (auto end = buffer->find('\n'); end != std::string::npos; end = buffer->find('\n')) {
            const std::string line = buffer->substr(0, end);
            buffer->erase(0, end + 1);
            if (!line.empty()) run_command(line);
        }
    });
}

}  // namespace

AppRunAdditions test_control() {
    AppRunAdditions additions;
    additions.launched = install_test_control;
    additions.waiting = [](qint64 pid) { say("waiting " + std::to_string(pid)); };
    return additions;
}
