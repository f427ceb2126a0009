#pragma once
// The accessibility tree of a window as an assistive technology reads it, through Qt's
// accessibility interfaces: every element with its role and name, and the buttons it shows
// without a name.
#include <QAccessible>
#include <QString>
#include <QWidget>
#include <functional>

#include "platform/ui/View.h"
#include <string>
#include <vector>

namespace testsupport {

struct AccessibleElement {
    QAccessible::Role role;
    QString name;
    QAccessibleInterface* iface;
};

// Every element under the widget's interface (itself included) that is not invisible.
inline std::vector<AccessibleElement> accessibleElements(QWidget* root) {
    std::vector<AccessibleElement> out;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* i, int depth) {
        if (!i || !i->isValid() || depth > 64 || i->state().invisible) return;
        out.push_back({i->role(), i->text(QAccessible::Name), i});
        // A web page's own tree belongs to the web engine (built without run-time type
        // information, so the sanitizers cannot check calls into it); the app's controls are
        // all outside it.
        if (QObject* o = i->object(); o && o->inherits("QWebEngineView")) return;
        for (int c = 0; c < i->childCount(); ++c) walk(i->child(c), depth + 1);
    };
    walk(QAccessible::queryAccessibleInterface(root), 0);
    return out;
}

// A line per shown button that has no name (its class and object name), for a failure message.
inline std::vector<std::string> unnamedButtons(QWidget* root) {
    std::vector<std::string> out;
    for (const auto& e : accessibleElements(root)) {
        if (e.role != QAccessible::Button && e.role != QAccessible::PageTab) continue;
        if (!e.name.trimmed().isEmpty()) continue;
        QObject* o = e.iface->object();
        out.push_back(o ? std::string(o->metaObject()->className()) + " '" + o->objectName().toStdString() + "'"
                        : std::string("(no object)"));
    }
    return out;
}

// The names of the shown elements of that role.
inline QStringList accessibleNames(QWidget* root, QAccessible::Role role) {
    QStringList out;
    for (const auto& e : accessibleElements(root)) {
        if (e.role == role) out << e.name;
    }
    return out;
}

// Why a shown widget is out of the user's sight, or empty when it is in sight: drawn fully
// see-through (itself or a view around it), or lying under a view stacked above it that takes
// the pointer over all of it.
inline QString outOfSight(const QWidget* widget) {
    for (const QWidget* v = widget; v && !v->isWindow(); v = v->parentWidget()) {
        if (ui::alpha(v) < 0.01) return QStringLiteral("see-through ") + v->metaObject()->className();
        bool above = false;
        for (QObject* o : v->parentWidget()->children()) {
            if (o == v) {
                above = true;
                continue;
            }
            auto* s = qobject_cast<QWidget*>(o);
            if (!above || !s || s->isWindow() || !s->isVisible() || ui::alpha(s) < 0.99 ||
                s->testAttribute(Qt::WA_TransparentForMouseEvents))
                continue;
            if (s->geometry().contains(v->geometry()))
                return QStringLiteral("under ") + s->metaObject()->className();
        }
    }
    return {};
}

// A line per element reported as showing whose widget the user cannot see (see outOfSight).
inline std::vector<std::string> shownOutOfSight(QWidget* root) {
    std::vector<std::string> out;
    for (const auto& e : accessibleElements(root)) {
        auto* w = qobject_cast<QWidget*>(e.iface->object());
        if (!w) continue;
        const QString why = outOfSight(w);
        if (!why.isEmpty())
            out.push_back(std::string(w->metaObject()->className()) + " '" + e.name.toStdString() + "': " +
                          why.toStdString());
    }
    return out;
}

// The first shown element of that role, or nullptr.
inline QAccessibleInterface* firstOfRole(QWidget* root, QAccessible::Role role) {
    for (const auto& e : accessibleElements(root))
        if (e.role == role) return e.iface;
    return nullptr;
}

// The names of an element's children.
inline QStringList childNames(QAccessibleInterface* i) {
    QStringList out;
    for (int c = 0; i && c < i->childCount(); ++c)
        if (QAccessibleInterface* child = i->child(c)) out << child->text(QAccessible::Name);
    return out;
}

}  // namespace testsupport
