#include "app/AppLinks.h"

#include "app/AppScenes.h"

#include <QPointer>
#include <QUrl>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/keychain/Keychain.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/scenes/SceneKind.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {

FileViewerSceneDelegate* viewer_of(FileViewerScene* scene) {
    return scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
}

bool connected_to(FileViewerSceneDelegate* window, const std::string& service_id) {
    return window && window->provider_bucket && window->my_session_info &&
           window->my_session_info->service_id == service_id;
}

void bring_forward(FileViewerSceneDelegate* window) {
    for (FileViewerScene* scene : SceneManager::file_viewer_scenes()) {
        if (viewer_of(scene) == window) bring_file_viewer_forward(scene);
    }
}

FileViewerSceneDelegate* window_connected_to(const std::string& service_id) {
    if (service_id.empty()) return nullptr;
    for (FileViewerScene* scene : SceneManager::file_viewer_scenes()) {
        if (connected_to(viewer_of(scene), service_id)) return viewer_of(scene);
    }
    return nullptr;
}

// The window a link's server opens in: the one connected to it, else one connected to none,
// else a new one. While the first window is still on its way, that one is waited for.
void with_window(const std::string& service_id, std::function<void(FileViewerSceneDelegate*)> then) {
    if (auto* window = window_connected_to(service_id)) return then(window);
    const auto scenes = SceneManager::file_viewer_scenes();
    for (FileViewerScene* scene : scenes) {
        if (auto* viewer = viewer_of(scene); viewer && !viewer->provider_bucket) return then(viewer);
    }
    auto retry = [service_id, then](FileViewerScene* opened) {
        if (!opened) return then(nullptr);
        with_window(service_id, then);
    };
    if (scenes.empty() && when_first_window_opens(retry)) return;
    open_server_window([then](FileViewerScene* opened) { then(viewer_of(opened)); });
}

std::string parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// The connected window shows the link's folder, or the file's folder and the file in a document window.
void open_path(QPointer<FileViewerSceneDelegate> window, const std::string& service_id, const AppLink& link,
               std::function<void()> done) {
    auto provider = window ? window->provider_as_read_write() : nullptr;
    if (!provider || !window->fileView_controller) return done();
    std::string path = link.path;
    const bool folder = path.back() == '/';
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (folder) {
        window->fileView_controller->go_to_directory(path, true);
        bring_forward(window);
        return done();
    }
    const std::string parent = parent_of(path);
    provider->contentsOfDirectory(parent, [window, service_id, path, parent, done](std::vector<files::FileObject> entries,
                                                                                  std::optional<files::FileError> error) {
        dispatch::mainQueue().async([window, service_id, path, parent, done, entries = std::move(entries), error] {
            if (!window || !window->fileView_controller) return done();
            if (error) {
                window->show_error(vorn_error_from(*error));
                return done();
            }
            const files::FileObject* found = nullptr;
            for (const auto& entry : entries) {
                if (entry.path == path) found = &entry;
            }
            if (!found) {
                window->fileView_controller->go_to_directory(parent, true);
                bring_forward(window);
                const std::string name = path.substr(path.rfind('/') + 1);
                window->show_error(VornError::cocoa(4, "The file \u201C" + name + "\u201D couldn\u2019t be opened because there is no such file.",
                                                    "no_such_file"));
                return done();
            }
            if (found->isDirectory()) {
                window->fileView_controller->go_to_directory(path, true);
                bring_forward(window);
                return done();
            }
            window->fileView_controller->go_to_directory(parent, true);
            QPointer<FileViewerSceneDelegate> weak = window;
            SceneManager::open_document_scene(service_id, file_bucket_id_for_path(path),
                                              VornFileViewController::preview_supported_for_path(path),
                                              [weak](const VornError& e) {
                                                  if (weak) weak->show_error(e);
                                              });
            done();
        });
    });
}

// Connects the window to the saved server `service_id`, or to `unsaved` (a link's server the user
// did not save, held by the window only), then opens the link's path.
void connect_and_open(FileViewerSceneDelegate* window, const std::string& service_id, const AppLink& link,
                      std::function<void()> done, std::shared_ptr<VornSingleServiceDataModel> unsaved = nullptr) {
    QPointer<FileViewerSceneDelegate> weak(window);
    auto connected = [weak, service_id, link, done](std::shared_ptr<VornProviderBucket> bucket,
                                                    std::optional<VornError> error) {
        if (!weak) return done();
        if (!bucket) {
            // A user's Cancel (a document window kept, no password given) is silent.
            if (error) weak->show_error(*error);
            bring_forward(weak);
            return done();
        }
        open_path(weak, service_id, link, done);
    };
    if (connected_to(window, service_id)) return connected(window->provider_bucket, std::nullopt);
    if (unsaved) return window->connect_unsaved_service(std::move(unsaved), link.password, connected);
    window->switch_to_service(service_id, connected);
}

// The record of a server for the link, as it would be saved.
std::shared_ptr<VornSingleServiceDataModel> link_server(const AppLink& link) {
    auto server = std::make_shared<VornSingleServiceDataModel>();
    server->url = link.server_url();
    server->username = link.user;
    server->connection_type = link.type;
    server->nickname = (link.user.empty() ? std::string() : link.user + "@") + link.host;
    server->id = VornKeyChainUtilityClass::keychain_account(server->url, server->username);
    return server;
}

// A new saved server for the link; its password (when the link has one) goes to the keychain.
void save_link_server(const AppLink& link, std::function<void(std::string)> saved) {
    auto server = link_server(link);
    app_services_manager().appServicesModel->saved_services.push_back(server);
    app_services_manager().request_save_services([](bool written) {
        if (!written) AMZLogger::shared().log_error("the server of a link was not saved");
    });
    const std::string id = server->id;
    if (!link.password) return saved(id);
    keychain::writePassword(server->url, id, *link.password, [id, saved](std::optional<keychain::Failure> failure) {
        dispatch::mainQueue().async([id, saved, failed = failure.has_value()] {
            if (failed) AMZLogger::shared().log_error("the password of a link's server was not stored in the keychain");
            saved(id);
        });
    });
}

void ask_to_save(FileViewerSceneDelegate* window, const AppLink& link, std::function<void()> done) {
    if (!window->fileView_controller) return done();
    bring_forward(window);
    const QString where = QString::fromStdString(link.scheme + "://" + (link.user.empty() ? "" : link.user + "@") +
                                                 link.host + ":" + std::to_string(link.port));
    auto alert = ui::AlertController::make(
        QStringLiteral("Connect to Server?"),
        QStringLiteral("No saved server is %1. Connect to it to open \u201C%2\u201D? \u201CSave and Connect\u201D also "
                       "adds it to your saved servers; \u201CConnect\u201D uses it in this window only.")
            .arg(where, QString::fromStdString(link.path)));
    QPointer<FileViewerSceneDelegate> weak(window);
    alert->addAction(ui::AlertAction::make(QStringLiteral("Save and Connect"), ui::AlertActionStyle::default_,
                                           [weak, link, done] {
                                               save_link_server(link, [weak, link, done](std::string id) {
                                                   if (!weak) return done();
                                                   connect_and_open(weak, id, link, done);
                                               });
                                           }));
    // Nothing is written: no saved server, no keychain item; the link's password stays with the window.
    alert->addAction(ui::AlertAction::make(QStringLiteral("Connect"), ui::AlertActionStyle::default_, [weak, link, done] {
        if (!weak) return done();
        auto server = link_server(link);
        const std::string id = server->id;
        connect_and_open(weak, id, link, done, std::move(server));
    }));
    alert->addAction(ui::AlertAction::make(QStringLiteral("Cancel"), ui::AlertActionStyle::cancel, [done] { done(); }));
    if (!window->fileView_controller->presentViewController(alert, true)) {
        AMZLogger::shared().log_error("the question about a link's server was not shown");
        done();
    }
}

void open_link(const QString& text, std::function<void()> done) {
    const auto link = read_app_link(text);
    if (!link) {
        AMZLogger::shared().log_error("not a link the app opens: " + app_link_for_log(text).toStdString());
        return done();
    }
    AMZLogger::shared().log_info("opening " + app_link_for_log(text).toStdString());
    auto server = saved_server_for_link(*link, *app_services_manager().appServicesModel);
    std::string id = server ? server->id : std::string();
    // A server connected to without saving it, in a window still connected to it, is used again.
    if (!server) {
        const std::string unsaved = VornKeyChainUtilityClass::keychain_account(link->server_url(), link->user);
        if (window_connected_to(unsaved)) id = unsaved;
    }
    AppLink within = *link;
    if (server) {
        // The saved server's address may name a folder: the link's path is then taken from there.
        std::string base = QUrl(QString::fromStdString(server->url)).path(QUrl::FullyDecoded).toStdString();
        while (!base.empty() && base.back() == '/') base.pop_back();
        if (!base.empty() && within.path.rfind(base + "/", 0) == 0) within.path = within.path.substr(base.size());
        else if (!base.empty() && within.path == base) within.path = "/";
    }
    with_window(id, [link = std::move(within), id, done](FileViewerSceneDelegate* window) {
        if (!window) return done();
        if (!id.empty()) return connect_and_open(window, id, link, done);
        ask_to_save(window, link, done);
    });
}

// The links given and not opened yet, the app's and later launches' alike, opened one at a time:
// two links to one server never race for a window.
struct LinkQueue {
    std::deque<QString> waiting;
    bool opening = false;
};
LinkQueue& link_queue() {
    static LinkQueue queue;
    return queue;
}

// Runs its action once: when reached, or when the last holder lets go of it unreached.
class LinkEnd {
public:
    explicit LinkEnd(std::function<void()> action) : action_(std::move(action)) {}
    ~LinkEnd() { reached(); }
    LinkEnd(const LinkEnd&) = delete;
    LinkEnd& operator=(const LinkEnd&) = delete;
    void reached() {
        std::function<void()> action;
        {
            std::lock_guard lock(mutex_);
            action = std::exchange(action_, nullptr);
        }
        if (action) action();
    }

private:
    std::mutex mutex_;
    std::function<void()> action_;
};

void open_next_link() {
    auto& queue = link_queue();
    if (queue.waiting.empty()) {
        queue.opening = false;
        return;
    }
    queue.opening = true;
    const QString text = queue.waiting.front();
    queue.waiting.pop_front();
    // Each link's end (opened, refused, cancelled or failed) lets the next one go on; so does a
    // link whose way was dropped (its question's window closed with it, say).
    auto next = std::make_shared<LinkEnd>([] { dispatch::mainQueue().async([] { open_next_link(); }); });
    open_link(text, [next] { next->reached(); });
}

}  // namespace

void open_app_links(const QStringList& links) {
    if (links.isEmpty()) return;
    auto& queue = link_queue();
    for (const QString& link : links) queue.waiting.push_back(link);
    // Links that wait for an earlier one (its question on screen): the app comes forward now.
    if (queue.opening) return bring_server_window_forward();
    open_next_link();
}
