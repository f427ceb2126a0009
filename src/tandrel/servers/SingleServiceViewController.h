#pragma once
// The server form: adds a saved server, or edits or deletes one. Before anything is stored it
// logs in to the server with what was typed; a server that passes goes into the saved-servers
// store, its password into the keychain, and the file-viewer window connects to it.
//
// While the login is tested the form is "authenticating" (spinner, Apply disabled, the other
// views faded, "Authenticating Login..."); every way out of the wait ends that state.
//
// Editing: the password field starts empty, saying when the keyring keeps the server's password;
// left blank, Update checks the login with that saved password and keeps it. The nickname, web
// root and Site URL reach the server's open windows at once; the form says that the connection's
// settings are used from the server's next connection.
//
// This class keeps the layout and the wiring of the fields and buttons; the checks of what was
// typed, the record, the keychain and the store writes are ServerFormModel's.
#include <QMetaObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/ManageServicesProtocols.h"
#include "tandrel/servers/ServerFormModel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>

#include "tandrel/servers/ServerScreenWidgets.h"

class SingleServiceViewController : public VornFileServerViewController {
    Q_OBJECT
public:
    // The form's rows, in display order: the login's, then (under the "Require encryption" box)
    // the preview's site: the "Web root" folder and the "Site URL" that serves it.
    enum class ui_elements { nickname, server_url, username, password, port, web_root, site_url };
    static const std::vector<ui_elements>& ui_elements_all_cases();

    // The values taken from the fields at the last accepted Apply or Update.
    using newServiceInfo = ServerFormModel::ServiceInfo;

    SingleServiceViewController();
    ~SingleServiceViewController() override;

    // The views are made with the form and live in its view once it is loaded; a link is empty
    // once its view is gone (the window that showed the form closed).
    QPointer<QLabel> authenticating_lbl;
    QPointer<servers_ui::ActivityIndicatorView> spinner;
    // The saved-servers list to tell after a save (weak).
    WeakLink<single_vc_to_manage_vc_protocol> single_vc_to_manage_vc_delegate;
    // Set by the opener before the view loads: edit mode, and the id of the record to edit
    // (empty: none).
    bool is_editing_a_service = false;
    std::string service_id;
    std::shared_ptr<VornSingleServiceDataModel> editing_service_model;
    QPointer<QScrollArea> scrollview;
    QPointer<QWidget> contentViexw;
    QPointer<QPushButton> close_controller_btn;  // not placed on screen
    QPointer<QLabel> controller_title_lbl;
    QPointer<servers_ui::SegmentedControl> add_service_type;
    EnumManager::VornConnectionType add_service_type_selection = EnumManager::VornConnectionType::unKnown;
    std::map<ui_elements, QWidget*> element_ui_dict;
    std::map<ui_elements, QLabel*> element_ui_lbl_dict;
    std::map<ui_elements, QLineEdit*> element_ui_tf_dict;
    newServiceInfo currentFormData;
    QPointer<QPushButton> apply_btn;
    QPointer<QPushButton> cancel_btn;
    QPointer<QPushButton> delete_btn;
    // "Require encryption" under the port: an FTP server that is never logged in to without TLS
    // (enabled for FTP only).
    QPointer<QCheckBox> require_encryption_box;
    // Edit mode: the line under the fields that says when the edited settings apply.
    QPointer<QLabel> edit_note_lbl;
    static constexpr const char* kEditNote =
        "The address, user name, password, port and encryption are used from the server's next connection; "
        "the nickname, Web root and Site URL apply at once.";
    // Edit mode: the keyring keeps a password for the edited server (known once it answered).
    bool password_saved() const { return password_saved_; }

    // The form's values (ServerFormModel's): a server's id (and keychain account), the port
    // text's value and check, the port alert, and the URL with the port written in. A port text
    // that names no port ("abc", "0", "99999") is refused before the form saves or connects, so a
    // typo never quietly reaches the default port.
    static std::string service_id_for(const std::string& url, const std::string& username) {
        return ServerFormModel::service_id_for(url, username);
    }
    static int64_t port_value(const std::string& text) { return ServerFormModel::port_value(text); }
    static bool port_text_acceptable(const std::string& text) { return ServerFormModel::port_text_acceptable(text); }
    static constexpr const char* kInvalidPortTitle = ServerFormModel::kInvalidPortTitle;
    static constexpr const char* kInvalidPortMessage = ServerFormModel::kInvalidPortMessage;
    static std::string url_with_port(const std::string& url, int64_t port, int64_t form_default) {
        return ServerFormModel::url_with_port(url, port, form_default);
    }
    static std::string caption_for(ui_elements element);
    // The URL row's caption on a protocol's tab: "Service URL - Including " and the schemes that
    // protocol accepts (the FTP tab's for the row as it is built).
    static std::string url_caption_for(int type_segment);
    static std::string placeholder_for(ui_elements element);
    // The connection-type switch, one choice a segment in its order: the segment's title and the
    // example the URL field shows while the choice is made (its type and default port are
    // ServerFormModel's for the segment).
    struct ConnectionChoice {
        const char* title;
        const char* url_placeholder;
    };
    static const std::vector<ConnectionChoice>& connection_choices();

    // ---- actions --------------------------------------------------------------------------------
    Q_INVOKABLE void apply_button_pressed();   // add mode: validate_new_service
    Q_INVOKABLE void update_button_pressed();  // edit mode: validate_update
    Q_INVOKABLE void delete_btn_pressed();     // confirmDeleteService
    Q_INVOKABLE void close_controller();       // one main-queue hop, then close_form
    void selected_segment();                   // segment_changed

    // The keyboard's frame (the desktop has no on-screen keyboard: these stay for windows that
    // report one). A missing frame leaves the insets as they are.
    void keyboardWillShow(const std::optional<QRect>& keyboard_begin_frame);
    void keyboardWillHide();
    void adjust_for_keyboard(const std::optional<QRect>& keyboard_begin_frame);

    // ---- steps ----------------------------------------------------------------------------------
    void validate_new_service();
    void validate_update();
    void after_login_check(std::optional<VornError> error, bool edit_mode);
    // Add mode's duplicate prompt; any other keyring failure (and any in edit mode, whose store
    // replaces the login's password) is shown as an error.
    void handleKeychainDuplicate(const VornError& error, bool edit_mode);
    void update_duplicate_keychain_item();
    // The step after the keychain update of the duplicate prompt in add mode.
    void save_updated_service(std::function<void()> completion);
    // After-save steps of the keychain store: store the edited record, or the new one.
    void update_editing_service();
    void add_new_service();
    void connect_new_service(std::optional<std::string> id);
    void update_finished(bool saved);
    void confirmDeleteService();
    void delete_service();
    void close_form();
    void fillServiceForm();
    void segment_changed();
    // The URL field's example for the switch's choice at that index.
    void show_choice_placeholder(int index);

    // ---- the authenticating state ---------------------------------------------------------------
    void begin_authenticating_on_main();
    void end_authenticating_on_main();
    void begin_authenticating();
    void end_authenticating();
    // Between the start of a login check and the end of the wait.
    bool is_authenticating() const { return busy_; }

    // Captions get the Subheadline font and fields the Caption1 font again.
    void user_interface_style_did_change(const ui::TraitCollection& previous,
                                         const ui::TraitCollection& current) override;

    // ---- the login check ------------------------------------------------------------------------
    // Logs in with the URL, user and password for the connection type (never without TLS with
    // `require_encryption`); the completion runs once, on the main queue: no error when the
    // server accepted the login.
    static void check_login(const std::string& url, const std::string& username, const std::string& password,
                            EnumManager::VornConnectionType type,
                            std::function<void(std::optional<VornError>)> completion,
                            bool require_encryption = false);

protected:
    void loadView() override;
    void viewDidLoad() override;
    // The first time the form shows, its first field takes the focus.
    void viewWillAppear(bool animated) override;

private:
    void buildServiceForm();
    void setup_scroll_view();
    void setup_title_label();
    void setup_type_segments();
    void setup_form_rows();
    void add_form_row(ui_elements element);
    QWidget* make_form_row(ui_elements element);
    void setup_encryption_box();
    void setup_edit_note();
    void setup_buttons();
    void set_form_defaults();
    void setup_spinner();
    void setup_key_commands();
    // Tab walks the fields in order, then the protocol, then the buttons.
    void setup_tab_order();
    // Return: the focused button, else Apply (or Update); Escape: Cancel.
    void return_pressed();

    // What the fields hold now, for ServerFormModel::check.
    ServerFormModel::Fields form_fields() const;
    // The checked fields into currentFormData; false (and the alert of the problem shown, the
    // wait ended) when the port names no port or a required field is unusable, or when the form
    // needs its file-viewer window and has none. `kept_password`: the edited server's saved
    // password, used when the password field is blank.
    bool accept_form(ServerFormModel::Fields fields, bool needs_window_link,
                     const std::optional<std::string>& kept_password = std::nullopt);
    void show_missing_information(const std::string& missing_field = {});
    // Edit mode: asks the keyring whether it keeps the server's password, for the field's hint.
    void look_up_saved_password();
    void show_password_hint(int type_segment);
    int edit_note_height() const;
    void show_invalid_port();
    void start_login_check(bool edit_mode);
    VornKeyChainFormSteps form_steps();
    std::shared_ptr<SingleServiceViewController> strong_self();
    void notify_list();
    void reconnect_updated_service(const std::string& id);
    void present_on_form_or_window(const VornError& error);
    // The faded views of the authenticating state.
    QList<QWidget*> fading_views() const;
    int form_content_height() const;
    void fit_content();

    QMetaObject::Connection apply_action_;
    bool busy_ = false;
    bool closed_ = false;
    bool focused_once_ = false;
    bool password_saved_ = false;
    int keyboard_inset_ = 0;
};
