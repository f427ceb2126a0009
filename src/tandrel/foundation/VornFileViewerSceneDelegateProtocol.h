#pragma once
// The type of the weak links through which screens and other windows reach a file-viewer
// window's scene delegate (`scene_file_delegatex`, `file_delegatex`, `file_server_delegatex`),
// and what they ask of that window: its state, its connection, its editing-sessions record and
// its remote files. Hold it as QPointer<VornFileViewerSceneDelegateProtocol>: the link empties
// itself when the window goes. `FileViewerSceneDelegate` (tandrel/servers) is the one class that
// adopts it; the base screens and the document window reach the file viewer only through it, so
// they need nothing of the servers library. The bodies here answer as a window that has no
// connection (each completion runs once, with no_file_window).
#include <QByteArray>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/files/FileProvider.h"
#include "platform/ui/scenes/Scene.h"
#include "tandrel/foundation/VornCurrentServiceStateInfo.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornServicesDataModel.h"

class VornACEFileSessionsDataModel;
class VornProviderBucket;  // the live connection (tandrel/servers/VornProviderBucket.h); opaque here
class VornServerFileDataModel;
class VornServerFilesDataModel;
namespace ui {
class ViewController;
}

class VornFileViewerSceneDelegateProtocol : public ui::SceneDelegate {
    Q_OBJECT
public:
    ~VornFileViewerSceneDelegateProtocol() override = default;

    // Every completion below runs on the main queue, exactly once.
    using ErrorCompletion = std::function<void(std::optional<VornError>)>;
    // A connect's outcome: the bucket and no error, or no bucket and an error.
    using ConnectCompletion = std::function<void(std::shared_ptr<VornProviderBucket>, std::optional<VornError>)>;
    // create_remote_file or create_remote_folder of a window.
    using RemoteItemCreator = std::function<void(VornFileViewerSceneDelegateProtocol& window, const std::string& name,
                                                 const std::string& directory, ErrorCompletion completion)>;

    // The connected server.
    std::shared_ptr<VornSingleServiceDataModel> service;
    // The window's state; its `static_window_file_id` is the window's identity for its life.
    std::shared_ptr<VornCurrentServiceStateInfo> my_session_info;

    // "An Error Occurred" with "OK" on the file explorer.
    virtual void show_error(const std::optional<VornError>& error);
    // Drops the connection after the document windows it serves decided about their changes.
    virtual void disconnect_service(ErrorCompletion completion);
    // Connects the saved server with that id (another server than the current one is a
    // disconnect of that one first).
    virtual void switch_to_service(const std::string& service_id, ConnectCompletion completion);

    // The connected server's editing-sessions record: saved, a file session added or removed.
    virtual void save_service_session(ErrorCompletion completion = nullptr);
    // Stores the page's state (`state`) as the session's `json` and saves, like
    // save_service_session; the state is moved, not copied, on its way to the sessions file.
    virtual void save_session_state(const std::shared_ptr<VornACEFileSessionsDataModel>& session, std::string state,
                                    ErrorCompletion completion = nullptr);
    virtual void add_file_session(std::shared_ptr<VornACEFileSessionsDataModel> session,
                                  ErrorCompletion completion = nullptr);
    virtual void remove_file_session(const std::string& session_id, ErrorCompletion completion = nullptr);

    // The connection's provider, or nothing when the window is not connected.
    virtual std::shared_ptr<files::FileProvider> provider_as_read_write() const;
    // Whom the window's connections trust (the app's trust store, and its question to the user);
    // nothing in a window without one.
    virtual std::shared_ptr<files::Trust> trust_store() const { return nullptr; }
    // The entry of the explorer's listing whose path, as Base64 of its UTF-8 bytes, is the key.
    virtual std::shared_ptr<VornServerFileDataModel> find_listed_file(const std::string& file_id) const;
    // Creates an empty file or a folder named `name` in `directory` of the server.
    virtual void create_remote_file(const std::string& name, const std::string& directory, ErrorCompletion completion);
    virtual void create_remote_folder(const std::string& name, const std::string& directory, ErrorCompletion completion);
    // The editor's save road: the text, read out of the page's reply, goes to the remote file at
    // `path` byte for byte (see files::WriteMode: a replace, or a file made anew that is refused
    // with alreadyExists when the name is taken). Given the version of the file the text was
    // edited from, a replace writes only while the server's copy is still that version (the
    // provider checks): otherwise nothing is written, and the error's code is
    // files::ErrorKind::changedOnServer, or notFound for a file that is gone. `written` runs once
    // on the main queue with the version written, or the error (with, when the failed write left
    // part of the text in the server's copy, that copy's version as the server told it
    // afterwards). A write that went through redraws the rows the server window shows, and the
    // file's row shows what was written (a file the save made again is listed, a grown one with
    // its new size).
    // Every save, merge or replace of a file goes this one road, and so does the history of the
    // copies it replaces: `replaced` is the bytes of the server's copy at `expected` (what the
    // caller read, or the text it was opened as, written back in its format: the version check
    // proves the server still holds them). Given both, those bytes are kept in the server's file
    // history (VornFileHistory) before the write starts; a write without a check, or without
    // them, keeps nothing (there is nothing proven to keep).
    using VersionedWriteCompletion =
        std::function<void(std::optional<files::FileVersion> written, std::optional<VornError> error)>;
    virtual void write_file_text_checked(const std::string& path, std::string text, files::WriteMode mode,
                                         std::optional<files::FileVersion> expected, VersionedWriteCompletion written,
                                         std::optional<std::string> replaced = std::nullopt);
    // The explorer redraws the rows it shows (their open-file marks), on the main queue.
    virtual void reload_visible_sections_on_main();

    // The saved server was edited: when it is the connected one, what takes effect without a new
    // connection (its nickname, "Web root" and "Site URL") is taken into the window's record now,
    // and serviceSettingsChanged says when the web root or Site URL changed. The connection itself
    // keeps the address, user, port and type it was made with until the window connects again.
    // Returns whether anything changed.
    virtual bool apply_saved_settings(const VornSingleServiceDataModel& saved);

signals:
    // A file or folder of the connected server was renamed (moved from `from` to `to`) or
    // deleted through a server window; the editing sessions of the files it held have followed
    // a move already. Paths are the server's bytes. Document windows showing such a file follow.
    void remoteItemMoved(const QByteArray& from, const QByteArray& to);
    void remoteItemRemoved(const QByteArray& path);
    // A save through write_file_text_checked has landed: the server's copy at
    // `path` is the saved text (emitted on the main queue just before the save's completion).
    void remoteFileWritten(const QByteArray& path);
    // The explorer has shown a listing of the connected server (its entries' sizes and dates).
    void remoteFolderListed(std::shared_ptr<VornServerFilesDataModel> listing);
    // The connected server's "Web root" or "Site URL" changed (apply_saved_settings): the
    // previews of its document windows show their pages anew.
    void serviceSettingsChanged();
};
