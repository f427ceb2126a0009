#pragma once
// The document window ("Main Configuration"): the scene class DocumentScene, the window
// DocumentWindow and the scene delegate DocumentSceneDelegate, which owns the window's document
// interface manager and builds the window from the user info of the activity that opened it
// ("service_session_id", "file_bucket_id", "preview_supported"). A document window that connects
// without that user info asks for a server window instead and closes itself.
//
// Other parts recognise document windows by DocumentScene together with the configuration name.
// The delegate tells which server its file belongs to through DocumentSceneServiceLink.
#include <QObject>
#include <QPointer>
#include <QSize>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"

class DocumentInterfaceManager;

class DocumentScene : public ui::Scene {
    Q_OBJECT
public:
    explicit DocumentScene(ui::SceneSession* session);
    ~DocumentScene() override;
};

// Adopted by the document window's scene delegate: the `service_session_id` of the window's
// editor state (the saved server whose file-viewer window serves the file), when set.
class DocumentSceneServiceLink {
public:
    virtual ~DocumentSceneServiceLink() = default;
    virtual std::optional<std::string> document_service_session_id() const = 0;
    // The file-viewer window that serves the document, if any.
    virtual const QObject* document_file_viewer() const { return nullptr; }
    // The window is about to close with its server window's connection: the document's
    // "Unsaved Changes" decision, asked while the connection is still up. `decided` runs once:
    // true when the window may close, false when it stays.
    virtual void decide_close_with_server(std::function<void(bool may_close)> decided) { decided(true); }
    // Closes the window after that decision, asking nothing more. False when the window has no
    // such close and should simply be destroyed.
    virtual bool close_after_decision() { return false; }
};

// A document window. Its close button (and Ctrl+W, the desktop's key to close a document
// window) runs the document's close decision instead of closing at once: an unchanged file
// closes, a changed one asks "Unsaved Changes" (save, discard, cancel), and cancel keeps the
// window.
class DocumentWindow : public ui::Window {
    Q_OBJECT
public:
    explicit DocumentWindow(ui::Scene* scene);
    ~DocumentWindow() override;

    // What the close button asks; without it the window closes with its scene as any window.
    std::function<void()> close_requested;

protected:
    void closeEvent(QCloseEvent* event) override;
};

class DocumentSceneDelegate : public ui::SceneDelegate, public DocumentSceneServiceLink {
    Q_OBJECT
public:
    DocumentSceneDelegate();
    ~DocumentSceneDelegate() override;

    // The window's document interface; made with the delegate and kept for its whole life.
    std::shared_ptr<DocumentInterfaceManager> doc_int_man;

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void sceneDidDisconnect(ui::Scene* scene) override;
    void didUpdateUserActivity(ui::Scene* scene, const ui::UserActivity& activity) override;
    void sceneDidBecomeActive(ui::Scene*) override {}
    void sceneWillResignActive(ui::Scene*) override {}
    void openURLContexts(ui::Scene*, const QList<QUrl>&) override {}

    void setup_document_window(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options);

    // Closes the window through the document's close decision (the window's close button and a
    // disconnect of the server). A window that shows no file closes at once.
    void request_window_close();

    std::optional<std::string> document_service_session_id() const override;
    const QObject* document_file_viewer() const override;
    void decide_close_with_server(std::function<void(bool may_close)> decided) override;
    bool close_after_decision() override;

    // Find > "Find in Site…": the site search of the server window that serves the document.
    Q_INVOKABLE void find_in_site();

    // The default size of a new document window on the desktop.
    static constexpr QSize kDefaultSize{1200, 800};

private:
    void destroy_own_session();
    QPointer<ui::Scene> scene_;
    bool torn_down_ = false;
};
