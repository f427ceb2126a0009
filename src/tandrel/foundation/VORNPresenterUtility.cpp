#include "tandrel/foundation/VORNPresenterUtility.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <deque>
#include <memory>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/AMZLogger.h"

namespace {

const char* kQueueName = "vorn_alert_queue";

void log_dropped(const std::string& what) {
    AMZLogger::shared().log_error("Alert not shown, its screen is gone: " + what);
}

// Alerts waiting for one screen, in arrival order. A child of the screen: when the screen goes,
// whatever still waits is told that the screen is gone.
class AlertQueue : public QObject {
public:
    explicit AlertQueue(ui::ViewController* presenter) : QObject(presenter), presenter_(presenter) {
        setObjectName(QLatin1String(kQueueName));
        QObject::connect(presenter, &ui::ViewController::presentationDidEnd, this, [this] {
            // Let the dismissal finish first.
            QPointer<AlertQueue> self(this);
            dispatch::mainQueue().async([self] {
                if (self) self->pump();
            });
        });
    }

    ~AlertQueue() override {
        for (auto& continuation : waiting_) {
            dispatch::mainQueue().async([continuation] { continuation(false); });
        }
    }

    static AlertQueue* of(ui::ViewController* presenter, bool create) {
        auto* q = presenter->findChild<AlertQueue*>(QLatin1String(kQueueName), Qt::FindDirectChildrenOnly);
        if (!q && create) q = new AlertQueue(presenter);
        return q;
    }

    bool empty() const { return waiting_.empty(); }
    void push(VORNPresenterUtility::Continuation c) { waiting_.push_back(std::move(c)); }

    // Shows what waits, one at a time, while the screen is free.
    void pump() {
        while (!waiting_.empty()) {
            ui::ViewController* p = presenter_;
            if (!p) return;
            if (!p->isViewLoaded() || !p->isViewInWindow()) {
                auto c = std::move(waiting_.front());
                waiting_.pop_front();
                AMZLogger::shared().log_error("Alert not shown: its screen is no longer in a window");
                c(false);
                continue;
            }
            if (p->presentedViewController()) return;  // the next dismissal pumps again
            auto c = std::move(waiting_.front());
            waiting_.pop_front();
            c(true);
        }
    }

private:
    QPointer<ui::ViewController> presenter_;
    std::deque<VORNPresenterUtility::Continuation> waiting_;
};

// Decides now, on the main queue.
void attempt(const VORNPresenterUtility::Presenter& presenter, VORNPresenterUtility::Continuation continuation) {
    ui::ViewController* p = presenter.data();
    if (!p) {
        AMZLogger::shared().log_error("Alert not shown: its screen is gone");
        continuation(false);
        return;
    }
    if (!p->isViewLoaded() || !p->isViewInWindow()) {
        AMZLogger::shared().log_error("Alert not shown: its screen is not in a window");
        continuation(false);
        return;
    }
    AlertQueue* queue = AlertQueue::of(p, false);
    if (p->presentedViewController() || (queue && !queue->empty())) {
        AlertQueue::of(p, true)->push(std::move(continuation));  // first come, first shown
        return;
    }
    continuation(true);
}

QString q(const std::string& s) { return QString::fromStdString(s); }

void show(const std::shared_ptr<ui::AlertController>& alert, const VORNPresenterUtility::Presenter& presenter) {
    ui::ViewController* p = presenter.data();
    if (!p || !p->presentViewController(alert, true)) {
        log_dropped(alert->alertTitle().toStdString() + ": " + alert->message().toStdString());
    }
}

}  // namespace

std::string VORNPresenterUtility::localized(const std::string& key) {
    return QCoreApplication::translate("Localizable", key.c_str()).toStdString();
}

void VORNPresenterUtility::present_on_main(Presenter presenter, Continuation continuation) {
    if (!continuation) return;
    dispatch::mainQueue().async([presenter, continuation = std::move(continuation)]() mutable {
        attempt(presenter, std::move(continuation));
    });
}

void VORNPresenterUtility::present_error(Presenter presenter, const std::optional<VornError>& error,
                                         const std::string& button_title, std::function<void(bool)> completion) {
    if (!error) return;
    if (error->is_silent()) {
        AMZLogger::shared().log_verbose("not shown: " + error->text());
        return;
    }
    VornError e = *error;
    dispatch::mainQueue().async([presenter, e, button_title, completion = std::move(completion)]() mutable {
        present_on_main(presenter, [presenter, e, button_title, completion](bool flag) {
            present_error_alert(flag, e, button_title, completion, presenter);
        });
    });
}

void VORNPresenterUtility::present_error_alert(bool flag, const VornError& error, const std::string& button_title,
                                               std::function<void(bool)> completion, Presenter presenter) {
    present_action_alert(flag, localized("An Error Occurred"), localized(error.localizedDescription()), button_title,
                         std::move(completion), std::move(presenter));
}

void VORNPresenterUtility::present_action_alert(bool flag, const std::string& title, const std::string& message,
                                                const std::string& button_title, std::function<void(bool)> completion,
                                                Presenter presenter) {
    if (!flag) {
        log_dropped(title + ": " + message);
        return;
    }
    auto alert = ui::AlertController::make(q(title), q(message));
    alert->addAction(ui::AlertAction::make(q(button_title), ui::AlertActionStyle::default_, [completion] {
        if (completion) completion(true);
    }));
    show(alert, presenter);
}

void VORNPresenterUtility::present_actions_alert(bool flag, const std::string& title, const std::string& message,
                                                 const std::vector<ActionEntry>& actions,
                                                 std::function<void(bool)> completion, Presenter presenter) {
    if (!flag) {
        log_dropped(title + ": " + message);
        return;
    }
    auto alert = ui::AlertController::make(q(title), q(message));
    for (const ActionEntry& entry : actions) {
        const bool value = entry.flag;
        alert->addAction(ui::AlertAction::make(q(entry.title), entry.style, [completion, value] {
            if (completion) completion(value);
        }));
    }
    show(alert, presenter);
}

void VORNPresenterUtility::present_text_field_alert(bool flag, const std::string& title, const std::string& message,
                                                    const std::vector<TextFieldEntry>& fields,
                                                    const std::string& action_title,
                                                    std::function<void(const std::string&)> completion,
                                                    Presenter presenter) {
    if (!flag) {
        log_dropped(title + ": " + message);
        return;
    }
    auto alert = ui::AlertController::make(q(title), q(message));
    std::weak_ptr<ui::AlertController> weak = alert;
    for (size_t i = 0; i < fields.size(); ++i) {
        const QString placeholder = q(fields[i].placeholder);
        alert->addTextField([placeholder](QLineEdit* f) { f->setPlaceholderText(placeholder); });
        alert->addAction(ui::AlertAction::make(q(action_title), fields[i].style, [weak, i, completion] {
            auto a = weak.lock();
            if (!a || !completion) return;
            const QList<QLineEdit*> list = a->textFields();
            if (static_cast<qsizetype>(i) >= list.size()) return;  // no field, no text: nothing is called
            completion(list[static_cast<qsizetype>(i)]->text().toStdString());  // an empty text is passed on
        }));
    }
    show(alert, presenter);
}

void textDidChangeFieldEmptyCheck(ui::AlertController& alert) {
    const QList<QLineEdit*> fields = alert.textFields();
    if (fields.isEmpty()) return;
    if (alert.actions().empty()) return;
    const auto& first = alert.actions().front();
    if (fields.front()->text().isEmpty()) {
        first->setEnabled(false);
        alert.setMessage(QStringLiteral("Please enter a value"));
    } else {
        first->setEnabled(true);
    }
}

void attach_field_empty_check(ui::AlertController& alert, QLineEdit* field) {
    if (!field) return;
    QPointer<ui::AlertController> weak(&alert);
    QObject::connect(field, &QLineEdit::textChanged, &alert, [weak] {
        if (weak) textDidChangeFieldEmptyCheck(*weak);
    });
}
