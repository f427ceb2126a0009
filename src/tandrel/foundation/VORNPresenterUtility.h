#pragma once
// Alerts and errors for every screen. All alert work runs on the main queue whatever thread
// calls in. An alert is shown on its screen when the screen is ready (its view loaded and in a
// shown window, presenting nothing); while the screen already shows something, the alert waits
// and is shown when that closes, in the order the alerts came. An alert whose screen is gone is
// not shown and is logged. The builders do nothing but log when told the screen is not ready.
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/AlertController.h"
#include "tandrel/foundation/VornError.h"

class QLineEdit;

class VORNPresenterUtility {
public:
    using Presenter = QPointer<ui::ViewController>;
    using Continuation = std::function<void(bool ready)>;

    struct ActionEntry {
        std::string title;
        ui::AlertActionStyle style = ui::AlertActionStyle::default_;
        bool flag = false;  // what the completion receives when this action is chosen
    };
    struct TextFieldEntry {
        std::string placeholder;
        ui::AlertActionStyle style = ui::AlertActionStyle::default_;
    };

    // On the main queue: runs the continuation with true once the presenter is ready (at once,
    // or when what it shows now has closed), with false when the presenter is gone.
    static void present_on_main(Presenter presenter, Continuation continuation);

    // "An Error Occurred" with the error's description and one button; the completion receives
    // true when the button is chosen. Nothing happens for an absent error.
    static void present_error(Presenter presenter, const std::optional<VornError>& error,
                              const std::string& button_title, std::function<void(bool)> completion = {});

    // The builders, meant as continuations of present_on_main.
    static void present_error_alert(bool flag, const VornError& error, const std::string& button_title,
                                    std::function<void(bool)> completion, Presenter presenter);
    static void present_action_alert(bool flag, const std::string& title, const std::string& message,
                                     const std::string& button_title, std::function<void(bool)> completion,
                                     Presenter presenter);
    static void present_actions_alert(bool flag, const std::string& title, const std::string& message,
                                      const std::vector<ActionEntry>& actions, std::function<void(bool)> completion,
                                      Presenter presenter);
    static void present_text_field_alert(bool flag, const std::string& title, const std::string& message,
                                         const std::vector<TextFieldEntry>& fields, const std::string& action_title,
                                         std::function<void(const std::string&)> completion, Presenter presenter);

    // The text for a key of the app's string table (the key itself when there is no translation).
    static std::string localized(const std::string& key);
};

// The empty-field check of a prompt: with an empty first text field the first action is disabled
// and the message becomes "Please enter a value"; with text the first action is enabled again
// (the message stays). Nothing happens for an alert without text fields or actions.
void textDidChangeFieldEmptyCheck(ui::AlertController& alert);
// Runs that check whenever the field's text changes.
void attach_field_empty_check(ui::AlertController& alert, QLineEdit* field);
