#pragma once
// Alerts: a title, a message, text fields and actions with styles, shown as a centred sheet
// over the presenter's window. Choosing an action closes the alert and then runs the action's
// handler. Return presses the button that has the keyboard focus (with the focus elsewhere, the
// default button); each button has a mnemonic (Alt+letter), as menu entries do; Escape or the
// sheet's close button chooses the cancel action (or the only action); an alert that goes away
// unchosen (its window closed) runs that same action, so the handler of a shown alert always
// runs when there is an obvious one. The message can be selected with the pointer; Ctrl+C copies
// the selection, or the whole message when nothing of it is selected (and no text field has the
// focus), so a command it names is copied, not retyped; its line breaks are copied as line breaks.
//
// The sheet is at most kMaxWidth wide (less on a narrower screen): a word of the message too wide
// for it (a long link or path) is broken across lines where it has to be, and one of more than
// kLongestWord characters shows only its start and end around a "…"; the copy is the message as
// given, whole.
#include <QList>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

class QFontMetrics;
class QLabel;
class QLineEdit;
class QPushButton;
class QBoxLayout;

namespace ui {

// The platform's numbering: default 0, cancel 1, destructive 2.
enum class AlertActionStyle { default_ = 0, cancel = 1, destructive = 2 };
enum class AlertControllerStyle { actionSheet = 0, alert = 1 };

class AlertController;

class AlertAction {
public:
    using Handler = std::function<void()>;
    static std::shared_ptr<AlertAction> make(const QString& title, AlertActionStyle style, Handler handler = {});

    const QString& title() const { return title_; }
    AlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

private:
    friend class AlertController;
    AlertAction(QString title, AlertActionStyle style, Handler handler);
    QString title_;
    QString mnemonicTitle_;  // the title as its button shows it, its mnemonic marked
    AlertActionStyle style_;
    Handler handler_;
    bool enabled_ = true;
    QPointer<QPushButton> button_;
};

class AlertController : public ViewController {
    Q_OBJECT
public:
    AlertController(QString title, QString message, AlertControllerStyle style = AlertControllerStyle::alert);
    static std::shared_ptr<AlertController> make(const QString& title, const QString& message,
                                                 AlertControllerStyle style = AlertControllerStyle::alert);

    QString alertTitle() const { return alertTitle_; }
    void setAlertTitle(const QString& title);
    // The sheet is named by the alert's title (when the controller has no title of its own).
    QString sheetTitle() const override { return title().isEmpty() ? alertTitle_ : title(); }
    QString message() const { return message_; }
    void setMessage(const QString& message);
    // The widest the sheet gets, and the longest word of the message that is shown whole.
    static constexpr int kMaxWidth = 560;
    static constexpr int kLongestWord = 600;
    // The message as the sheet shows it, for text `width` pixels wide in `metrics`' font: each word
    // wider than that gets a break opportunity (U+200B) where a line is full, and each word over
    // kLongestWord characters keeps its first and last kLongestWord / 2 - 1 characters around "…".
    static QString shownText(const QString& message, const QFontMetrics& metrics, int width);
    AlertControllerStyle preferredStyle() const { return style_; }

    void addAction(const std::shared_ptr<AlertAction>& action);
    const std::vector<std::shared_ptr<AlertAction>>& actions() const { return actions_; }
    void setPreferredAction(const std::shared_ptr<AlertAction>& action);
    std::shared_ptr<AlertAction> preferredAction() const { return preferred_; }

    // Adds a text field (before the view loads or after); `configure` runs on the new field.
    void addTextField(const std::function<void(QLineEdit*)>& configure = {});
    QList<QLineEdit*> textFields() const;

    // Chooses the action as a click would: the alert closes, then the handler runs (on the next
    // event-loop turn). Returns false for a disabled action or an alert already answered.
    bool performAction(const std::shared_ptr<AlertAction>& action);
    bool performAction(int index);
    bool isAnswered() const { return answered_; }

    // Told of every alert as it appears (the app's test control reports them); empty by default.
    static void setAppearanceObserver(std::function<void(AlertController*)> observer);

    void released() override;

protected:
    void loadView() override;
    void presentationCloseRequested() override;
    void viewWillAppear(bool animated) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The text fields are named by the alert's title (several by title and placeholder) and
    // described by its message: the alert has no label of its own beside them.
    void name_text_fields();
    std::shared_ptr<AlertAction> fallbackAction() const;
    // Ctrl+C in the alert: the message (or its selection) goes to the clipboard.
    void copyMessage();
    // The message into its label, as shownText makes it for the sheet's width.
    void showMessage();
    int textWidth() const;
    void addButton(const std::shared_ptr<AlertAction>& action);
    void rebuildButtonRow();

    QString alertTitle_;
    QString message_;
    AlertControllerStyle style_;
    std::vector<std::shared_ptr<AlertAction>> actions_;
    std::shared_ptr<AlertAction> preferred_;
    std::vector<std::function<void(QLineEdit*)>> pendingFields_;
    QList<QPointer<QLineEdit>> fields_;
    bool answered_ = false;
    bool shown_ = false;

    QPointer<QLabel> titleLabel_;
    QPointer<QLabel> messageLabel_;
    QPointer<QWidget> fieldBox_;
    QPointer<QWidget> buttonBox_;
};

}  // namespace ui
