#pragma once
// The accessibility tree of a window as an assistive technology reads it, through Qt's
// accessibility interfaces: every element with its role and name, and the buttons it shows
// without a name.
#include <QAccessible>
#include <QString>
#include <QWidget>
#include <functional>
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

}  // namespace testsupport
