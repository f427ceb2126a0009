#include "platform/ui/Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QIcon>
#include <QMenu>
#include <QPointer>
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

const char* kPopupProperty = "ui_accessible_popup";
const char* kOpensPopupProperty = "ui_accessible_opens_popup";

bool opensPopup(const QAbstractButton* button) { return button && button->property(kOpensPopupProperty).toBool(); }

// The button's popup while it is open.
QMenu* openPopup(const QAbstractButton* button) {
    QMenu* menu = accessiblePopup(button);
    return menu && menu->isVisible() ? menu : nullptr;
}

// A picture-only button, or a button that opens a popup menu, as the assistive technologies see
// it: a push button (or menu button) named as above, which can be pressed; an open popup is its
// one child.
class PictureButtonAccessible : public QAccessibleWidget {
public:
    explicit PictureButtonAccessible(QAbstractButton* button)
        : QAccessibleWidget(button, opensPopup(button) ? QAccessible::ButtonMenu : QAccessible::Button) {}

    int childCount() const override { return QAccessibleWidget::childCount() + (openPopup(button()) ? 1 : 0); }

    QAccessibleInterface* child(int index) const override {
        const int own = QAccessibleWidget::childCount();
        if (index < own) return QAccessibleWidget::child(index);
        QMenu* menu = openPopup(button());
        return index == own && menu ? QAccessible::queryAccessibleInterface(menu) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        QMenu* menu = openPopup(button());
        if (menu && child && child->object() == menu) return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(child);
    }

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
        if (button()->isEnabled()) {
            if (opensPopup(button())) names.prepend(showMenuAction());
            names.prepend(pressAction());
        }
        return names;
    }

    void doAction(const QString& name) override {
        if (name == pressAction() || name == showMenuAction()) {
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
    if (!button) return nullptr;
    if (opensPopup(button)) return new PictureButtonAccessible(button);
    // Buttons with a title keep Qt's own interface; only a picture-only button gets this one.
    if (!button->text().trimmed().isEmpty() || !button->accessibleName().isEmpty()) return nullptr;
    if (button->icon().isNull() && button->toolTip().isEmpty()) return nullptr;
    return new PictureButtonAccessible(button);
}

}  // namespace

void setAccessiblePopup(QAbstractButton* button, QMenu* menu) {
    if (!button) return;
    button->setProperty(kPopupProperty, QVariant::fromValue(QPointer<QObject>(menu)));
    if (opensPopup(button)) return;
    button->setProperty(kOpensPopupProperty, true);
    // The interface is chosen when it is first asked for: one made before the button was known
    // to open a popup gives way to the menu button's.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(button)) {
        if (QAccessible::Id id = QAccessible::uniqueId(made)) QAccessible::deleteAccessibleInterface(id);
    }
}

QMenu* accessiblePopup(const QAbstractButton* button) {
    if (!button) return nullptr;
    return qobject_cast<QMenu*>(button->property(kPopupProperty).value<QPointer<QObject>>().data());
}

void installAccessibleButtonNames() {
    static const bool installed = [] {
        QAccessible::installFactory(pictureButtonFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace ui
