#pragma once
// The accessibility tree of a window as an assistive technology reads it, through Qt's
// accessibility interfaces: every element with its role and name, the buttons and controls it
// shows without a name, what it reports as showing that the user cannot see, and the walk Tab
// takes through the controls it reports as taking the focus.
#include <QAccessible>
#include <QString>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <set>

#include "platform/ui/View.h"
#include <string>
#include <vector>

namespace testsupport {

struct AccessibleElement {
    QAccessible::Role role;
    QString name;
    QAccessibleInterface* iface;
};

// Every element under the widget's interface (itself included) that is not invisible, or, with
// `withInvisible`, every element (the invisible ones and what lies under them too).
inline std::vector<AccessibleElement> accessibleElements(QWidget* root, bool withInvisible = false) {
    std::vector<AccessibleElement> out;
    std::function<void(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* i, int depth) {
        if (!i || !i->isValid() || depth > 64 || (!withInvisible && i->state().invisible)) return;
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

// A line per element reported as showing (anywhere in the tree, under an invisible element too)
// whose widget the user cannot see: hidden, or out of sight (see outOfSight).
inline std::vector<std::string> shownOutOfSight(QWidget* root) {
    std::vector<std::string> out;
    for (const auto& e : accessibleElements(root, true)) {
        auto* w = qobject_cast<QWidget*>(e.iface->object());
        if (!w || e.iface->state().invisible) continue;
        const QString why = w->isVisible() ? outOfSight(w) : QStringLiteral("hidden");
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

// An object's class, object name and accessible name, for a failure message.
inline std::string describe(QObject* o) {
    if (!o) return "(no object)";
    std::string out = o->metaObject()->className();
    if (!o->objectName().isEmpty()) out += " '" + o->objectName().toStdString() + "'";
    if (QAccessibleInterface* i = QAccessible::queryAccessibleInterface(o); i && !i->text(QAccessible::Name).isEmpty())
        out += " \"" + i->text(QAccessible::Name).toStdString() + "\"";
    return out;
}

// The widgets of the shown, enabled elements that report taking the focus, in the tree's order
// (a disabled control reports it too, but neither a click nor Tab can give it the focus).
inline std::vector<QWidget*> focusableControls(QWidget* root) {
    std::vector<QWidget*> out;
    for (const auto& e : accessibleElements(root)) {
        auto* w = qobject_cast<QWidget*>(e.iface->object());
        const QAccessible::State state = e.iface->state();
        if (!w || !state.focusable || state.disabled) continue;
        if (std::find(out.begin(), out.end(), w) == out.end()) out.push_back(w);
    }
    return out;
}

// A line per shown element that takes the focus and has no name.
inline std::vector<std::string> unnamedControls(QWidget* root) {
    std::vector<std::string> out;
    for (const auto& e : accessibleElements(root)) {
        if (e.iface->state().focusable && e.name.trimmed().isEmpty()) out.push_back(describe(e.iface->object()));
    }
    return out;
}

// Tab's walk through a window's controls (those the tree reports as taking the focus), by real
// key presses on the focused widget, from the focused control until the focus comes back to it.
// A window whose focus is on no control (a screen's own view holds it, so that menu commands
// reach the screen) starts from the control the first Tab reaches. A control in `tabIndents`
// keeps Tab for itself (a code editor indents with it) and is left with Ctrl+Tab instead. A stop
// inside a control (a web view's page surface, a row's button in a list) counts as the innermost
// control around it. A key goes to a control only once `ready` says it can take it (a web page
// hears of the focus from its own process, after Qt moved it there).
struct TabWalk {
    std::vector<QWidget*> stops;      // the controls reached, the start last when the walk came round
    std::vector<std::string> faults;  // what is wrong: a control missed or reached twice, a stop that
                                      // is no reported control, a walk that stuck or never came back
};

inline TabWalk tabWalk(QWidget* window, const std::set<QWidget*>& tabIndents = {},
                       const std::function<bool(QWidget*)>& ready = {}, int maxStops = 60) {
    TabWalk walk;
    const std::vector<QWidget*> controls = focusableControls(window);
    auto isControl = [&](QWidget* w) { return std::find(controls.begin(), controls.end(), w) != controls.end(); };
    auto controlOf = [&](QWidget* w) -> QWidget* {
        for (QWidget* c = w; c; c = c->isWindow() ? nullptr : c->parentWidget())
            if (isControl(c)) return c;
        return w;
    };
    // One press of the key that moves on from `at`; false when the focus stays where it was. A
    // web page hands the focus on from its own process, on a later turn of the event loop; every
    // other widget moves it before the press returns.
    auto press = [&](QWidget* at) {
        QWidget* focused = window->focusWidget();
        if (!focused) return false;
        if (ready && at && !ready(at)) {
            walk.faults.push_back(describe(at) + " never took the focus it was given");
            return false;
        }
        QTest::keyClick(focused, Qt::Key_Tab, tabIndents.count(at) ? Qt::ControlModifier : Qt::NoModifier);
        auto moved = [&] { return controlOf(window->focusWidget()) != at; };
        return at && at->inherits("QWebEngineView") ? QTest::qWaitFor(moved, 5000) : moved();
    };
    QWidget* start = controlOf(window->focusWidget());
    if (start && !isControl(start)) {
        if (!press(start)) {
            walk.faults.push_back("Tab does not leave " + describe(start));
            return walk;
        }
        start = controlOf(window->focusWidget());
    }
    if (!start) {
        walk.faults.push_back("nothing in the window has the focus");
        return walk;
    }
    QWidget* at = start;
    for (int i = 0; i < maxStops; ++i) {
        if (!press(at)) {
            if (at != start) walk.faults.push_back("Tab stays in " + describe(at));
            else walk.stops.push_back(at);  // the window's one control
            break;
        }
        at = controlOf(window->focusWidget());
        walk.stops.push_back(at);
        if (at == start) break;
    }
    if (walk.stops.empty() || walk.stops.back() != start)
        walk.faults.push_back("Tab never came back to " + describe(start));
    for (QWidget* c : controls) {
        const auto n = std::count(walk.stops.begin(), walk.stops.end(), c);
        if (n != 1) walk.faults.push_back(describe(c) + " reached " + std::to_string(n) + " times");
    }
    for (QWidget* s : walk.stops) {
        if (!isControl(s)) walk.faults.push_back(describe(s) + " takes the focus but is not reported as taking it");
    }
    return walk;
}

}  // namespace testsupport
