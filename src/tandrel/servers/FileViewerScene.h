#pragma once
// The file-viewer window: one window scene of the configuration "Default Configuration" that
// shows the remote file explorer and owns the connection to one saved server at a time. Its
// scene delegate is the hub of the window: it makes the window and its root screen and keeps the
// provider bucket, the connected server record and the window's state record.
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VornCurrentServiceStateInfo.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class ManageServicesViewController;
class VornFileViewController;
class VornProviderBucket;
class VornACEFileSessionsDataModel;
class VornServerFileDataModel;
class VornServerFilesDataModel;
namespace files { class FileProvider; class LeftoverCopies; struct FileError; }
namespace ui { class ViewController; }

// A file-viewer window. Its close button first lets the document windows it serves decide
// about their unsaved changes (close_requested); without that hook it closes as any window.
class FileViewerWindow : public ui::Window {
    Q_OBJECT
public:
    explicit FileViewerWindow(ui::Scene* scene) : ui::Window(scene) {}
    bool hasActiveConnection = false;
    std::function<void()> close_requested;

protected:
    void closeEvent(QCloseEvent* event) override;
};

class FileViewerScene : public ui::Scene {
    Q_OBJECT
public:
    explicit FileViewerScene(ui::SceneSession* session) : ui::Scene(session) {}

    // Next responder after the scene when set (else the delegate, as for every scene).
    QPointer<QObject> my_next;
    void set_my_next(QObject* next);
};

class FileViewerSceneDelegate : public VornFileViewerSceneDelegateProtocol {
    Q_OBJECT
public:
    FileViewerSceneDelegate();
    ~FileViewerSceneDelegate() override;

    // The saved-servers list shown on the explorer's welcome splash.
    std::shared_ptr<ManageServicesViewController> welcome_manage_services_vc;
    // The window's root screen.
    std::shared_ptr<VornFileViewController> fileView_controller;
    // The live connection, when connected.
    std::shared_ptr<VornProviderBucket> provider_bucket;
    // `service` (the connected server) and `my_session_info` (the window's state, whose
    // `static_window_file_id` is the window's identity for its life) are the protocol's fields.
    // Next responder after the delegate when set (else the application).
    QPointer<QObject> my_next;
    void set_my_next(QObject* next);

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void sceneDidDisconnect(ui::Scene* scene) override;
    void openURLContexts(ui::Scene* scene, const QList<QUrl>& urls) override;
    void didUpdateUserActivity(ui::Scene* scene, const ui::UserActivity& activity) override;

    void setup_file_viewer_window(ui::Scene* scene);

    // Sizes of the window: fixed at first, then free within these limits 3.0 s later.
    static constexpr QSize kOpeningSize{300, 770};
    static constexpr QSize kRelaxedMinimum{300, 300};
    static constexpr QSize kRelaxedMaximum{2560, 1600};
    static constexpr int kRelaxDelayMs = 3000;

    // ---- connection and remote files (FileViewerSceneDelegate+Service.cpp,
    //      FileViewerSceneDelegate+RemoteFiles.cpp) ---------------------------------------------
    // Every completion below runs on the main queue, exactly once. ErrorCompletion,
    // ConnectCompletion and RemoteItemCreator are the protocol's.

    // Drops the connection: no bucket, the state marked unconnected (`service` and
    // `my_session_info.service_id` keep naming the last server), the sessions record saved, the
    // disconnected look shown, then the completion.
    void reset_service_connection(ErrorCompletion completion = nullptr);
    // Before this window lets go of its server (it closes, disconnects, or switches to another
    // server): the document windows it serves decide about their unsaved changes one after
    // another, while the connection is still up, then close; `then` gets true. A "Cancel" (or a
    // failed save) keeps every window, and `then` gets false; so does a call while one runs.
    void close_document_windows(std::function<void(bool closed)> then);
    // A disconnect: the document windows first (above), then the reset with the completion.
    // When a window is kept, the connection stays and the completion does not run.
    void disconnect_service(ErrorCompletion completion) override;
    // Connects the saved server through a reset. Switching to another server than the window's
    // current one is a disconnect of that one first (its document windows decide and close);
    // when a window is kept, the connection stays and the completion gets a silent "cancelled".
    void switch_to_service(const std::string& service_id, ConnectCompletion completion) override;
    // Connects a server that is not saved (a link's, when the user chose to connect only), as
    // switch_to_service does: the window holds the record, and the link's password when it had
    // one, until it connects to another server or closes; the keychain is never asked, and
    // nothing is written to the saved-servers file. Other screens find the record by id through
    // VornServicesManager::find_service meanwhile.
    void connect_unsaved_service(std::shared_ptr<VornSingleServiceDataModel> server, std::optional<std::string> password,
                                 ConnectCompletion completion);
    // The window's close button: its document windows decide first, then the window closes.
    void request_window_close();
    // The continuation of a reset that connects next: an error goes to the connect completion,
    // otherwise connect_with_keychain_credentials runs for the server id.
    void connect_after_reset(std::optional<VornError> error, ConnectCompletion completion, const std::string& service_id);
    // Connects the saved server with that id, its password read from the keychain (or the
    // window's unsaved server of that id, with the window's password for it). The completion
    // runs once: with the bucket on success, with an error otherwise (server not saved, password
    // missing, address not a URL, connection type without a connector, sessions not saved).
    void connect_with_keychain_credentials(const std::string& service_id, ConnectCompletion completion);
    // "An Error Occurred" with "OK" on the file explorer.
    void show_error(const std::optional<VornError>& error) override;

    // The connected server's editing-sessions record: saved, a file session added or removed.
    // no_multiple_session when there is no server or no record for it.
    void save_service_session(ErrorCompletion completion = nullptr) override;
    void save_session_state(const std::shared_ptr<VornACEFileSessionsDataModel>& session, std::string state,
                            ErrorCompletion completion = nullptr) override;
    void add_file_session(std::shared_ptr<VornACEFileSessionsDataModel> session,
                          ErrorCompletion completion = nullptr) override;
    void remove_file_session(const std::string& session_id, ErrorCompletion completion = nullptr) override;

    // The connection's provider, or nothing when the window is not connected.
    std::shared_ptr<files::FileProvider> provider_as_read_write() const override;
    std::shared_ptr<files::Trust> trust_store() const override;
    // The entry of the explorer's listing whose path, as Base64 of its UTF-8 bytes, is the key.
    std::shared_ptr<VornServerFileDataModel> find_listed_file(const std::string& file_id) const override;
    // The listing the explorer shows now (nothing before the first one).
    std::shared_ptr<VornServerFilesDataModel> explorer_listing() const;

    // Creates an empty file (never replacing an existing one) or a folder named `name` in
    // `directory`. A name that is empty, "." or "..", or holds "/" or a control character is
    // refused with invalid_item_name before the server is asked; no connection gives
    // guardReturnNoFileProvider. After the server answered, the explorer reloads its folder.
    void create_remote_file(const std::string& name, const std::string& directory, ErrorCompletion completion) override;
    void create_remote_folder(const std::string& name, const std::string& directory,
                              ErrorCompletion completion) override;
    static RemoteItemCreator file_creator();
    static RemoteItemCreator folder_creator();
    // The error for a name that cannot be used for a new item, nothing for a good one.
    static std::optional<VornError> check_new_item_name(const std::string& name);
    // "<directory>/<name>" with exactly one "/" between them ("/" + name in the root).
    static std::string remote_item_path(const std::string& directory, const std::string& name);

    // The editor's save road: the text, already read out of the page's reply, goes to the remote
    // file at `path` as it stands, byte for byte. `written` runs once on the main queue: the
    // version written (the explorer's visible rows are redrawn first, and the file's row shows
    // the write), or why the file was not saved (no connection: guardReturnNoFileProvider; a
    // failed write: its error, saying whether the server's copy is unchanged). The copy it
    // replaces (`replaced`, see the protocol) goes into the server's history first.
    void write_file_text_checked(const std::string& path, std::string text, files::WriteMode mode,
                                 std::optional<files::FileVersion> expected, VersionedWriteCompletion written,
                                 std::optional<std::string> replaced = std::nullopt) override;

    // ---- the explorer, header and welcome list as this window drives them
    //      (FileViewerSceneDelegate+Explorer.cpp) ----------------------------------------------
    void show_disconnected_window();
    void show_welcome_splash();
    // After a remote change: the explorer reloads its current folder, on the main queue.
    void reload_explorer_directory_on_main(bool show_spinner);
    // The explorer redraws the rows it shows (VornFileViewController::reload_visible_sections_on_main).
    void reload_visible_sections_on_main() override;
    // A file or folder was renamed (`from` moved to `to`) or deleted on the server through this
    // window: the server's editing sessions follow the move and are saved, then every window
    // connected to the same server tells its document windows (remoteItemMoved, remoteItemRemoved).
    void remote_item_moved(const std::string& from, const std::string& to);
    void remote_item_removed(const std::string& path);
    // The same for a change that ended when the window where it was made may be gone: the
    // sessions of the saved server `service_id` follow a move, or keep the mark of a deleted
    // file ("removed_from_server"), and are saved; the windows connected to that server (and
    // `also`) tell their document windows.
    static void item_moved_on_server(const std::string& service_id, const std::string& from, const std::string& to,
                                     FileViewerSceneDelegate* also = nullptr);
    static void item_removed_on_server(const std::string& service_id, const std::string& path,
                                       FileViewerSceneDelegate* also = nullptr);
    // The app wrote `size` bytes to the file at `path` (a save): every window connected to the
    // same server whose listing shows the file's folder shows the file with that size
    // (VornFileViewController::file_written), without listing the folder again.
    void remote_file_written(const std::string& path, int64_t size);
    // As the base's, and the window's title and header show an edited nickname at once.
    bool apply_saved_settings(const VornSingleServiceDataModel& saved) override;
    // Find > "Find in Site…": the window that searches this window's server (scene links).
    Q_INVOKABLE void find_in_site();
    static constexpr const char* kFindInSite = "find_in_site";

    // Observers of the reloads above (tests, and screens that follow the window's changes).
    std::function<void(bool show_spinner)> explorer_reload_hook;

private:
    // The bucket for a server (FileViewerSceneDelegate+Bucket.cpp); `built` may run on any thread.
    // The temporary copies broken saves leave are kept in `leftovers`.
    static void build_service_bucket(const std::string& url, const std::string& user, const std::string& password,
                                     EnumManager::VornConnectionType type, ConnectCompletion built,
                                     std::shared_ptr<files::LeftoverCopies> leftovers = nullptr,
                                     bool require_encryption = false, bool plain_allowed = false);
    static std::shared_ptr<files::FileProvider> provider_of(const std::shared_ptr<VornProviderBucket>& bucket);
    // Drops a reference to a bucket off the GUI thread (the last one stops its provider's workers).
    static void release_in_background(std::shared_ptr<VornProviderBucket> bucket);
    void show_connected_window(const std::shared_ptr<VornSingleServiceDataModel>& server);
    void clear_header_on_main();
    void store_connection(std::shared_ptr<VornSingleServiceDataModel> server, std::string url,
                          std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error,
                          ConnectCompletion completion);
    void finish_connection(std::shared_ptr<VornSingleServiceDataModel> server, std::optional<VornError> error,
                           ConnectCompletion completion);
    void save_session_if_present(ErrorCompletion completion);
    static std::string not_saved_message(const files::FileError& error);
    void refresh_after_create(std::optional<VornError> error, ErrorCompletion completion);
    // The unsaved server this window connects to (connect_unsaved_service) and its password.
    std::shared_ptr<VornSingleServiceDataModel> unsaved_service_;
    std::optional<std::string> unsaved_password_;
    // Raised by every reset: a connect that started before the latest reset stores nothing.
    uint64_t connection_generation_ = 0;
    // The document windows are deciding (close_document_windows runs).
    bool closing_documents_ = false;
    QPointer<ui::Scene> scene_;
};
