#pragma once
// The root screen of a document window: a top bar with a gradient (and, on a tablet, the
// connection status of the window's server) under the document split view that fills the window.
// It answers the file, find and server commands that travel along the responder chain (from the
// main menu and from the editor screen's bar buttons), the document's connectors present their
// errors on it, and when the window's layout switches between the regular and the compact editor
// it hands the editing session from one page to the other. Main thread only.
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include <nlohmann/json.hpp>

#include "platform/ui/Responder.h"
#include "tandrel/editor/EditorFileMenuActionsProtocol.h"
#include "tandrel/editor/FindMenuActionsProtocol.h"
#include "tandrel/editor/ServiceMenuActionsProtocol.h"
#include "tandrel/foundation/VornDocViewController.h"

class DocumentInterfaceManager;
class GradientView;
class QLabel;
class VornEditorJSConnector;
namespace ui {
class SplitViewController;
}

// What command validation decides for one command: its attributes (the menu system's raw values:
// disabled 1, hidden 4) and, when it has one, its check-mark state. `handled` is false for a
// command this screen leaves as the menu gave it.
struct DocumentCommandValidation {
    bool handled = false;
    int attributes = 0;
    std::optional<bool> state_on;
    static constexpr int kDisabled = 1;
    static constexpr int kHidden = 4;
};

class MainViewController : public VornDocViewController,
                           public EditorFileMenuActionsProtocol,
                           public FindMenuActionsProtocol,
                           public ServiceMenuActionsProtocol {
    Q_OBJECT
public:
    MainViewController();
    ~MainViewController() override;

    // The document split view; a placeholder until the view loads.
    std::shared_ptr<ui::SplitViewController> split_ViewController;
    QPointer<QWidget> top_bar_view;
    QPointer<GradientView> gradientView;
    QPointer<QWidget> connection_status_circle;
    QPointer<QLabel> serverConnectionStatus_Lbl;
    QPointer<QLabel> serverConnectionName_Lbl;

    // ---- file commands ---------------------------------------------------------------------------
    Q_INVOKABLE void save_file() override;
    Q_INVOKABLE void close_session_main() override;
    void close_session(bool force, std::function<void(bool)> block) override;
    // Saves the visible file: the page's current text is stored in its session record and
    // written to the server. `completion`, when given, hears true once the server took the file,
    // false when nothing was written (an error is shown here either way).
    void request_save(std::function<void(bool written)> completion = nullptr);
    // The write's outcome: an error is shown on this screen with "OK".
    void save_completion(std::optional<VornError> error);
    void close_current_session(bool force, std::function<void(bool)> block);
    // The File menu's encoding commands (the entry's "encoding"): see
    // DocumentInterfaceManager::reopen_with_encoding and save_with_encoding.
    Q_INVOKABLE void reopen_with_encoding(const ui::Command& sender);
    Q_INVOKABLE void save_with_encoding(const ui::Command& sender);
    // DocumentInterfaceManager::show_history.
    Q_INVOKABLE void show_history();
    // The window's close button: a window whose page holds no file of the server (none loaded,
    // no current session, a page that cannot answer) runs `close_now`; otherwise the close
    // decision runs ("Unsaved Changes" for a changed file, which closes the window itself) and
    // `block` hears whether the file was closed.
    void close_for_window(std::function<void()> close_now, std::function<void(bool)> block);
    // The window closes with its server (the server window closes, disconnects or switches to
    // another server): the decision only, asked while the connection is still up; `decided`
    // hears once whether the window may close (see VornEditorJSConnector::decide_unsaved_changes).
    void decide_before_close(std::function<void(bool may_close)> decided);
    // After that decision: the file's record goes (the file is saved or discarded by then), then
    // `close_now` closes the window.
    void close_after_decision(std::function<void()> close_now);

    // ---- find commands ---------------------------------------------------------------------------
    Q_INVOKABLE void fim_find() override;
    Q_INVOKABLE void fim_find_replace() override;
    Q_INVOKABLE void fim_find_next() override {}
    Q_INVOKABLE void fim_find_previous() override {}

    // ---- server commands -------------------------------------------------------------------------
    Q_INVOKABLE void sm_new_service() override;
    Q_INVOKABLE void sm_manage_services() override {}
    Q_INVOKABLE void sm_disconnect_service() override;
    Q_INVOKABLE void sm_connect_service(const ui::Command& sender) override;
    Q_INVOKABLE void show_alert();

    // The menu system's validation hook (called on this screen for the commands it answers):
    // applies validate_service_command; other commands are left unchanged.
    Q_INVOKABLE void validateCommand(ui::Command* command);
    DocumentCommandValidation validate_service_command(const ui::Command& command) const;

    // The connector of the visible editor, or nothing without the window's manager.
    VornEditorJSConnector* current_editor_connector() const;

    // ---- view set-up -----------------------------------------------------------------------------
    void setup_top_bar();
    void setup_gradient();
    void setup_split_view();
    void setup_connection_status();
    void refresh_connection_status();
    void schedule_connected_text(const QString& url_text);
    void show_connected_status(const QString& url_text);
    static constexpr int kConnectedTextDelayMs = 750;

    // ---- editor hand-over ------------------------------------------------------------------------
    // Queued: moves the open file from the editor that was visible to the one that is now (tablet
    // and phone only, once a file has been loaded).
    void schedule_editor_handover();
    void handover_editor_session();
    void restart_editor_session(VornEditorJSConnector* source);
    // The end of a layout transition (the split view collapsed or expanded).
    void after_trait_transition();

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    DocumentInterfaceManager* manager() const;
    VornFileViewerSceneDelegateProtocol* file_viewer() const;
};
