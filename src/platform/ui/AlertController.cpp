#include "platform/ui/AlertController.h"

#include <QAction>
#include <QBoxLayout>
#include <QClipboard>
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

#include "platform/ui/Menu.h"

namespace ui {

namespace {

// Where a word too wide for the sheet may break (shown, never copied).
constexpr char16_t kBreak = 0x200B;
// The side margins of the sheet's content.
constexpr int kSideMargin = 20;

// The first `count` UTF-16 units of `word`, or one fewer where that would split a pair.
qsizetype headLength(const QString& word, qsizetype count) {
    return count > 0 && word[count - 1].isHighSurrogate() ? count - 1 : count;
}

}  // namespace

QString AlertController::shownText(const QString& message, const QFontMetrics& metrics, int width) {
    // A line holds a little less than `width` by the sum of its characters' advances: kerning
    // and shaping may make the laid-out line a bit wider.
    const int budget = std::max(1, width - metrics.averageCharWidth());
    QString out;
    out.reserve(message.size());
    for (qsizetype i = 0; i < message.size();) {
        if (message[i].isSpace()) {
            out += message[i++];
            continue;
        }
        qsizetype end = i;
        while (end < message.size() && !message[end].isSpace()) ++end;
        QString word = message.mid(i, end - i);
        i = end;
        if (word.size() > kLongestWord) {
            const qsizetype keep = kLongestWord / 2 - 1;
            const qsizetype head = headLength(word, keep);
            qsizetype tail = keep;
            if (word[word.size() - tail].isLowSurrogate()) --tail;
            word = word.left(head) + QChar(0x2026) + word.right(tail);
        }
        if (width <= 0 || metrics.horizontalAdvance(word) <= budget) {
            out += word;
            continue;
        }
        int line = 0;
        for (qsizetype k = 0; k < word.size();) {
            const qsizetype length = word[k].isHighSurrogate() && k + 1 < word.size() ? 2 : 1;
            const QString piece = word.mid(k, length);
            const int advance = metrics.horizontalAdvance(piece);
            if (line > 0 && line + advance > budget) {
                out += QChar(kBreak);
                line = 0;
            }
            out += piece;
            line += advance;
            k += length;
        }
    }
    return out;
}

int AlertController::textWidth() const {
    int sheet = kMaxWidth;
    const QWidget* view = viewIfLoaded();
    const QScreen* screen = view ? view->screen() : QGuiApplication::primaryScreen();
    if (screen) sheet = std::min(sheet, screen->availableGeometry().width() - 2 * kSideMargin);
    return std::max(160, sheet) - 2 * kSideMargin;
}

void AlertController::showMessage() {
    if (!messageLabel_) return;
    messageLabel_->setText(shownText(message_, messageLabel_->fontMetrics(), textWidth()));
    messageLabel_->setVisible(!message_.isEmpty());
}

std::shared_ptr<AlertAction> AlertAction::make(const QString& title, AlertActionStyle style, Handler handler) {
    return std::shared_ptr<AlertAction>(new AlertAction(title, style, std::move(handler)));
}

AlertAction::AlertAction(QString title, AlertActionStyle style, Handler handler)
    : title_(std::move(title)), style_(style), handler_(std::move(handler)) {}

void AlertAction::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (button_) button_->setEnabled(enabled);
}

AlertController::AlertController(QString title, QString message, AlertControllerStyle style)
    : alertTitle_(std::move(title)), message_(std::move(message)), style_(style) {
    setModalPresentationStyle(ModalPresentationStyle::formSheet);
}

std::shared_ptr<AlertController> AlertController::make(const QString& title, const QString& message,
                                                       AlertControllerStyle style) {
    return ui::make<AlertController>(title, message, style);
}

void AlertController::setAlertTitle(const QString& title) {
    alertTitle_ = title;
    name_text_fields();
    if (titleLabel_) {
        titleLabel_->setText(title);
        titleLabel_->setVisible(!title.isEmpty());
    }
}

void AlertController::setMessage(const QString& message) {
    message_ = message;
    name_text_fields();
    showMessage();
}

void AlertController::addAction(const std::shared_ptr<AlertAction>& action) {
    if (!action) return;
    actions_.push_back(action);
    if (buttonBox_) rebuildButtonRow();
}

void AlertController::setPreferredAction(const std::shared_ptr<AlertAction>& action) {
    preferred_ = action;
    if (buttonBox_) rebuildButtonRow();
}

void AlertController::addTextField(const std::function<void(QLineEdit*)>& configure) {
    if (!fieldBox_) {  // built with the view
        pendingFields_.push_back(configure);
        return;
    }
    auto* field = new QLineEdit(fieldBox_);
    field->setObjectName(QStringLiteral("alert_text_field_%1").arg(fields_.size()));
    fieldBox_->layout()->addWidget(field);
    fieldBox_->setVisible(true);
    fields_.push_back(field);
    if (configure) configure(field);
    name_text_fields();
    if (fields_.size() == 1) field->setFocus();
}

void AlertController::name_text_fields() {
    for (const auto& field : fields_) {
        if (!field) continue;
        const QString placeholder = field->placeholderText();
        field->setAccessibleName(fields_.size() > 1 && !placeholder.isEmpty() ? alertTitle_ + QStringLiteral(": ") + placeholder
                                                                              : alertTitle_);
        field->setAccessibleDescription(message_);
    }
}

QList<QLineEdit*> AlertController::textFields() const {
    QList<QLineEdit*> out;
    for (const auto& f : fields_)
        if (f) out.push_back(f);
    return out;
}

void AlertController::loadView() {
    auto* root = new QWidget;
    root->setObjectName(QStringLiteral("alert_view"));
    root->setMinimumWidth(300);
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(kSideMargin, 18, kSideMargin, 16);
    layout->setSpacing(10);

    titleLabel_ = new QLabel(alertTitle_, root);
    titleLabel_->setObjectName(QStringLiteral("alert_title"));
    QFont bold = titleLabel_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.1);
    titleLabel_->setFont(bold);
    titleLabel_->setAlignment(Qt::AlignCenter);
    titleLabel_->setWordWrap(true);
    // Titles and messages carry names from servers and links: shown as text, never as markup.
    titleLabel_->setTextFormat(Qt::PlainText);
    titleLabel_->setVisible(!alertTitle_.isEmpty());
    layout->addWidget(titleLabel_);

    messageLabel_ = new QLabel(root);
    messageLabel_->setObjectName(QStringLiteral("alert_message"));
    messageLabel_->setAlignment(Qt::AlignCenter);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextFormat(Qt::PlainText);
    messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Selectable with the pointer only: the label would take the focus on a click and so be read
    // as a control that takes it, one that Tab never reaches. The alert is read by its title and
    // message all the same, and Ctrl+C on its controls copies what is selected (copyMessage).
    messageLabel_->setFocusPolicy(Qt::NoFocus);
    // The label's own menu would copy its selection as laid out (paragraph separators, and the
    // breaks shown in a long word): its Copy is the alert's, as Ctrl+C is.
    messageLabel_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copyItem = new QAction(QStringLiteral("Copy"), messageLabel_);
    copyItem->setObjectName(QStringLiteral("alert_message_copy"));
    QObject::connect(copyItem, &QAction::triggered, this, [this] { copyMessage(); });
    auto* selectAllItem = new QAction(QStringLiteral("Select All"), messageLabel_);
    selectAllItem->setObjectName(QStringLiteral("alert_message_select_all"));
    QObject::connect(selectAllItem, &QAction::triggered, this, [this] {
        if (messageLabel_) messageLabel_->setSelection(0, static_cast<int>(messageLabel_->text().size()));
    });
    messageLabel_->addActions({copyItem, selectAllItem});
    showMessage();
    layout->addWidget(messageLabel_);

    fieldBox_ = new QWidget(root);
    auto* fieldLayout = new QVBoxLayout(fieldBox_);
    fieldLayout->setContentsMargins(0, 4, 0, 4);
    fieldLayout->setSpacing(6);
    fieldBox_->setVisible(false);
    layout->addWidget(fieldBox_);

    // Wherever the focus is in the alert: its buttons, nothing, or a text field with no selection.
    auto* copy = new QShortcut(QKeySequence::Copy, root);
    copy->setContext(Qt::WindowShortcut);
    QObject::connect(copy, &QShortcut::activated, this, [this] { copyMessage(); });

    buttonBox_ = new QWidget(root);
    buttonBox_->setObjectName(QStringLiteral("alert_buttons"));
    layout->addWidget(buttonBox_);
    setView(root);

    auto pending = std::move(pendingFields_);
    pendingFields_.clear();
    for (const auto& configure : pending) addTextField(configure);
    rebuildButtonRow();
    // As wide as the content asks, within the sheet's bound, and as tall as that width needs.
    const int width = std::clamp(root->sizeHint().width(), 340, std::max(340, textWidth() + 2 * kSideMargin));
    const int height = root->hasHeightForWidth() ? root->heightForWidth(width) : root->sizeHint().height();
    setPreferredContentSize(QSize(width, height));
}

void AlertController::rebuildButtonRow() {
    if (!buttonBox_) return;
    delete buttonBox_->layout();
    for (QPushButton* b : buttonBox_->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        b->hide();
        b->deleteLater();
    }
    // Two buttons side by side (cancel first), more in a column, as alerts lay them out.
    const bool row = actions_.size() <= 2;
    QBoxLayout* layout = row ? static_cast<QBoxLayout*>(new QHBoxLayout(buttonBox_))
                             : static_cast<QBoxLayout*>(new QVBoxLayout(buttonBox_));
    layout->setContentsMargins(0, 6, 0, 0);
    layout->setSpacing(8);
    // Mnemonics in the caller's order: the first action has the first pick of the letters.
    QStringList titles;
    for (const auto& action : actions_) titles << action->title();
    const QStringList marked = withMnemonics(titles);
    for (size_t i = 0; i < actions_.size(); ++i) actions_[i]->mnemonicTitle_ = marked[static_cast<qsizetype>(i)];
    std::vector<std::shared_ptr<AlertAction>> ordered = actions_;
    if (row) {
        std::stable_partition(ordered.begin(), ordered.end(),
                              [](const auto& a) { return a->style() == AlertActionStyle::cancel; });
    } else {
        std::stable_partition(ordered.begin(), ordered.end(),
                              [](const auto& a) { return a->style() != AlertActionStyle::cancel; });
    }
    for (const auto& action : ordered) addButton(action);
}

void AlertController::addButton(const std::shared_ptr<AlertAction>& action) {
    const auto it = std::find(actions_.begin(), actions_.end(), action);
    const int index = static_cast<int>(it - actions_.begin());
    auto* button = new QPushButton(action->mnemonicTitle_.isEmpty() ? action->title() : action->mnemonicTitle_, buttonBox_);
    button->setObjectName(QStringLiteral("alert_action_%1").arg(index));
    button->setEnabled(action->isEnabled() && !answered_);
    button->setAutoDefault(false);
    button->installEventFilter(this);
    if (action->style() == AlertActionStyle::destructive) {
        QPalette p = button->palette();
        p.setColor(QPalette::ButtonText, QColor(0xd7, 0x2c, 0x2c));
        button->setPalette(p);
    }
    if (action->style() == AlertActionStyle::cancel) {
        QFont f = button->font();
        f.setBold(true);
        button->setFont(f);
    }
    const bool isDefault = preferred_ ? preferred_ == action
                                      : (action->style() == AlertActionStyle::default_ &&
                                         std::count_if(actions_.begin(), actions_.end(), [](const auto& a) {
                                             return a->style() == AlertActionStyle::default_;
                                         }) == 1);
    button->setDefault(isDefault);
    action->button_ = button;
    std::weak_ptr<AlertAction> weakAction = action;
    QPointer<AlertController> self(this);
    QObject::connect(button, &QPushButton::clicked, this, [self, weakAction] {
        if (auto a = weakAction.lock(); a && self) self->performAction(a);
    });
    buttonBox_->layout()->addWidget(button);
}

void AlertController::copyMessage() {
    if (!messageLabel_ || message_.isEmpty()) return;
    const bool selected = messageLabel_->hasSelectedText();
    // A text field with the focus copies its own selection (it takes the key before this).
    if (auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget()); field && fields_.contains(field) && !selected)
        return;
    if (!selected) {
        QGuiApplication::clipboard()->setText(message_);
        return;
    }
    // A selection reads line breaks as paragraph separators, and holds the shown break
    // opportunities of long words: the copy has plain line breaks and neither.
    QString text = messageLabel_->selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
    text.remove(QChar(kBreak));
    QGuiApplication::clipboard()->setText(text);
}

bool AlertController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        auto* button = qobject_cast<QPushButton*>(watched);
        // The focused button is the one Return means, not the dialog's default one.
        if (enter && plain && button && buttonBox_ && buttonBox_->isAncestorOf(button)) {
            if (button->isEnabled()) button->click();
            return true;
        }
    }
    return ViewController::eventFilter(watched, event);
}

bool AlertController::performAction(int index) {
    if (index < 0 || index >= static_cast<int>(actions_.size())) return false;
    return performAction(actions_[static_cast<size_t>(index)]);
}

bool AlertController::performAction(const std::shared_ptr<AlertAction>& action) {
    if (!action || answered_ || !action->isEnabled()) return false;
    if (std::find(actions_.begin(), actions_.end(), action) == actions_.end()) return false;
    answered_ = true;
    for (const auto& a : actions_)
        if (a->button_) a->button_->setEnabled(false);
    // Close and run the handler after the click (or key) event is done.
    auto self = std::static_pointer_cast<AlertController>(sharedFromThis());
    auto handler = action->handler_;
    QTimer::singleShot(0, QCoreApplication::instance(), [self, handler] {
        auto run = [handler] {
            if (handler) handler();
        };
        if (self && self->presentingViewController()) {
            self->dismissViewControllerAnimated(true, run);
        } else {
            run();
        }
    });
    return true;
}

std::shared_ptr<AlertAction> AlertController::fallbackAction() const {
    for (const auto& a : actions_)
        if (a->style() == AlertActionStyle::cancel) return a;
    if (actions_.size() == 1) return actions_.front();
    return nullptr;
}

namespace {
std::function<void(AlertController*)>& appearanceObserver() {
    static std::function<void(AlertController*)> observer;
    return observer;
}
}  // namespace

void AlertController::setAppearanceObserver(std::function<void(AlertController*)> observer) {
    appearanceObserver() = std::move(observer);
}

void AlertController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    const bool first = !shown_;
    shown_ = true;
    if (first && appearanceObserver()) appearanceObserver()(this);
}

void AlertController::presentationCloseRequested() {
    if (answered_) return;
    if (auto action = fallbackAction(); action && action->isEnabled()) performAction(action);
    // Otherwise the alert stays: it has no obvious way out but its buttons.
}

void AlertController::released() {
    if (answered_ || !shown_) return;
    // Shown and never answered (its window went away): run the obvious answer.
    answered_ = true;
    if (auto action = fallbackAction(); action && action->handler_) {
        QTimer::singleShot(0, QCoreApplication::instance(), action->handler_);
    }
}

}  // namespace ui
