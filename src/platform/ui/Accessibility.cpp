#include "platform/ui/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QIcon>
#include <QRegularExpression>

namespace ui {

QString symbolNameInWords(const QString& symbolName) {
    QString words = symbolName;
    words.replace(QLatin1Char('.'), QLatin1Char(' '));
    return words.simplified();
}

QString accessibleButtonName(const QAbstractButton* button) {
    if (!button) return {};
    if (!button->accessibleName().isEmpty()) return button->accessibleName();
    QString text = button->text();
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    if (!text.trimmed().isEmpty()) return text;
    if (!button->toolTip().trimmed().isEmpty()) return button->toolTip();
    return symbolNameInWords(button->icon().name());
}

namespace {

// A picture-only button as the assistive technologies see it: a push button named as above,
// which can be pressed.
class PictureButtonAccessible : public QAccessibleWidget {
public:
    explicit PictureButtonAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return accessibleButtonName(button());
        if (t == QAccessible::Description && !button()->accessibleDescription().isEmpty()) {
            return button()->accessibleDescription();
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (button()->isCheckable()) {
            s.checkable = true;
            s.checked = button()->isChecked();
        }
        if (button()->isDown()) s.pressed = true;
        return s;
    }

    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (button()->isEnabled()) names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& name) override {
        if (name == pressAction()) {
            if (button()->isEnabled()) button()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* pictureButtonFactory(const QString&, QObject* object) {
    auto* button = qobject_cast<QAbstractButton*>(object);
    // Buttons with a title keep Qt's own interface; only a picture-only button gets this one.
    if (!button || !button->text().trimmed().isEmpty() || !button->accessibleName().isEmpty()) return nullptr;
    if (button->icon().isNull() && button->toolTip().isEmpty()) return nullptr;
    return new PictureButtonAccessible(button);
}

}  // namespace

void installAccessibleButtonNames() {
    static const bool installed = [] {
        QAccessible::installFactory(pictureButtonFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace ui
