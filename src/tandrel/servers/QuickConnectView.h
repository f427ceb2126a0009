#pragma once
// The connection header at the top of the file explorer: which saved server the window is
// connected to (its nickname, or "CONNECTED", and its URL), and a button whose menu connects the
// window to another saved server, disconnects it, or shows the saved-servers list. A pointer
// hovering over it highlights it.
#include <QMenu>
#include <QFontMetrics>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornErrorProtocol.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class QLabel;
class QuickConnectView;
class VornSingleServiceDataModel;

// The operations of the header that other screens may call.
class QuickConnectViewProtocol {
public:
    virtual ~QuickConnectViewProtocol() = default;
    virtual void show_connected_service(const std::string& service_id) = 0;
    virtual void clear_header_on_main() = 0;
    virtual QMenu* activate_quickConnect_menu(QObject* sender) = 0;
};

// The header's body: a button that draws the rounded, bordered background and its hover
// highlight, and opens the quick-connect menu.
class QuickConnectBodyButton : public QPushButton {
    Q_OBJECT
public:
    explicit QuickConnectBodyButton(QWidget* parent = nullptr);
    bool highlighted() const { return highlighted_; }
    void setHighlighted(bool on);

signals:
    void hoverChanged(bool inside);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool highlighted_ = false;
};

class QuickConnectView : public QWidget, public QuickConnectViewProtocol {
    Q_OBJECT
public:
    explicit QuickConnectView(QWidget* parent = nullptr);
    ~QuickConnectView() override;

    // The window's scene delegate (set by the explorer) and the display of errors (the explorer).
    QPointer<VornFileViewerSceneDelegateProtocol> file_delegatex;
    VornErrorLink error_delegate;

    QuickConnectBodyButton* view_wrapper_btn;
    QWidget* connection_status_circle;  // coloured on connection; not placed in the header
    QLabel* serverConnectionStatus_Lbl;
    QLabel* serverConnectionName_Lbl;
    QLabel* serverIconImageView;  // not placed in the header
    QLabel* quickViewDownArrowImageView;
    // Whether the connection is encrypted: a lock, or "Not encrypted"; empty while no server
    // is connected. The header's accessible name says the same.
    QLabel* encryption_Lbl;

    // A text cut short to `width` as a label of the header draws it: the end replaced by "…",
    // except for an address, whose path gives way in its middle first so that the scheme, host
    // and port stay whole (then the scheme goes, then the host's start).
    static QString shown_text(const QString& text, const QFontMetrics& metrics, int width, bool is_url);

    // Shows the saved server with that id as connected (nothing when it is not saved) and hides
    // the explorer's welcome splash.
    void show_connected_service(const std::string& service_id) override;
    // The header's name line: the server's nickname, or "CONNECTED" when it has none.
    void show_service_name(const VornSingleServiceDataModel& server);
    // Later on the main queue: fades the header's contents out (the texts stay).
    void clear_header_on_main() override;
    void clear_header();
    void reveal_header();
    void set_hover_highlight(bool on);
    // Shows the lock (true), "Not encrypted" (false) or nothing (not known).
    void show_encryption(std::optional<bool> encrypted);
    static constexpr const char* kEncryptedName = "Encrypted connection";
    static constexpr const char* kNotEncryptedText = "Not encrypted";

    // The quick-connect menu built from the saved servers and the window's state: "Disconnect"
    // (when connected), "Manage Services", then one entry per saved server (or the disabled
    // "No Saved Connections"). Nothing, and the error shown, without a window link. The caller
    // owns the menu.
    std::unique_ptr<QMenu> build_quick_connect_menu();
    // The body's action: builds the menu and opens it below the header; returns it (owned by
    // the header, deleted when it closes), or nothing.
    QMenu* activate_quickConnect_menu(QObject* sender) override;
    void refresh_quick_connect_menu();
    // The menu open now, if any.
    QMenu* visible_menu() const { return menu_; }

    // The menu's handlers.
    void quick_connect_to_service(const std::string& service_id);
    void disconnect_service();
    void disconnect_finished(const std::optional<VornError>& error);
    void manage_services();

    // The entry of a saved server: its URL, or "nickname (URL)".
    static QString service_entry_name(const VornSingleServiceDataModel& service);
    // Whether the entry of that server is the connected one: the window is connected to that
    // server's full URL text (and, when the window names its server, to that server).
    bool is_connected_entry(const VornSingleServiceDataModel& service) const;

    // Sizes of the layout.
    static constexpr int kArrowSide = 20;

private:
    void setup_quick_connect_view();
    void hovering(bool inside);
    void apply_arrow_image(bool tinted);
    void apply_colours();
    QPointer<QMenu> menu_;
    bool appearance_changed_ = false;
};
