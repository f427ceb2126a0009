#include "platform/ui/Responder.h"

#include <QApplication>
#include <QHash>
#include <QMetaMethod>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include "platform/ui/ViewController.h"

namespace ui {

namespace {

QHash<const QObject*, QPointer<QObject>>& links() {
    static QHash<const QObject*, QPointer<QObject>> map;
    return map;
}

QPointer<QObject>& applicationResponderSlot() {
    static QPointer<QObject> slot;
    return slot;
}

// The index of the action method: `name()` or `name(ui::Command)`; -1 when there is none.
int actionMethodIndex(const QMetaObject* meta, const QByteArray& name) {
    static const QMetaType commandType = QMetaType::fromType<Command>();
    for (int i = meta->methodCount() - 1; i >= 0; --i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == QMetaMethod::Signal || m.name() != name) continue;
        if (m.parameterCount() == 0) return i;
        if (m.parameterCount() == 1 && m.parameterMetaType(0) == commandType) return i;
    }
    return -1;
}

}  // namespace

QString actionName(const QString& selector) {
    const qsizetype colon = selector.indexOf(QLatin1Char(':'));
    return colon < 0 ? selector.trimmed() : selector.left(colon).trimmed();
}

void setNextResponder(QObject* object, QObject* next) {
    if (!object) return;
    auto& map = links();
    const bool known = map.contains(object);
    if (!next) {
        map.remove(object);
        return;
    }
    map.insert(object, QPointer<QObject>(next));
    if (!known) {
        QObject::connect(object, &QObject::destroyed, [object] { links().remove(object); });
    }
}

QObject* explicitNextResponder(const QObject* object) {
    auto& map = links();
    auto it = map.find(object);
    return it == map.end() ? nullptr : it.value().data();
}

void setApplicationResponder(QObject* responder) { applicationResponderSlot() = responder; }
QObject* applicationResponder() { return applicationResponderSlot().data(); }

QObject* nextResponder(QObject* responder) {
    if (!responder) return nullptr;
    if (QObject* linked = explicitNextResponder(responder)) return linked;
    if (auto* vc = qobject_cast<ViewController*>(responder)) {
        if (QWidget* view = vc->viewIfLoaded(); view && view->parentWidget()) return view->parentWidget();
        if (vc->parentViewController()) return vc->parentViewController();
        if (vc->presentingViewController()) return vc->presentingViewController();
        if (responder != applicationResponder()) return applicationResponder();
        return nullptr;
    }
    if (auto* widget = qobject_cast<QWidget*>(responder)) {
        if (ViewController* vc = viewControllerForView(widget)) return vc;
        if (!widget->isWindow() && widget->parentWidget()) return widget->parentWidget();
        if (widget->isWindow() && widget->parentWidget() && !explicitNextResponder(widget)) {
            // A dialog or sheet of a window hands on to that window.
            return widget->parentWidget()->window();
        }
    }
    if (responder != applicationResponder()) return applicationResponder();
    return nullptr;
}

QObject* firstResponder() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        if (QWidget* focus = QApplication::focusWidget()) return focus;
        if (QWidget* active = QApplication::activeWindow()) return active;
    }
    return applicationResponder();
}

bool implementsAction(const QObject* object, const QString& selector) {
    return object && classImplementsAction(object->metaObject(), selector);
}

bool classImplementsAction(const QMetaObject* meta, const QString& selector) {
    const QByteArray name = actionName(selector).toLatin1();
    return meta && !name.isEmpty() && actionMethodIndex(meta, name) >= 0;
}

bool canPerformAction(QObject* object, const QString& selector) {
    if (!implementsAction(object, selector)) return false;
    const QMetaObject* meta = object->metaObject();
    const int check = meta->indexOfMethod("canPerformAction(QString)");
    if (check < 0) return true;
    bool allowed = true;
    meta->method(check).invoke(object, Qt::DirectConnection, Q_RETURN_ARG(bool, allowed),
                               Q_ARG(QString, actionName(selector)));
    return allowed;
}

QList<QObject*> responderChain(QObject* start) {
    QList<QObject*> chain;
    QSet<QObject*> seen;
    for (QObject* r = start ? start : firstResponder(); r && !seen.contains(r); r = nextResponder(r)) {
        seen.insert(r);
        chain.push_back(r);
    }
    return chain;
}

QObject* targetForAction(const QString& selector, QObject* start) {
    for (QObject* r : responderChain(start)) {
        if (canPerformAction(r, selector)) return r;
    }
    return nullptr;
}

bool invokeAction(QObject* target, const QString& selector, const Command& command) {
    if (!target) return false;
    const QByteArray name = actionName(selector).toLatin1();
    const int index = actionMethodIndex(target->metaObject(), name);
    if (index < 0) return false;
    const QMetaMethod method = target->metaObject()->method(index);
    Command sent = command;
    if (sent.action.isEmpty()) sent.action = selector;
    if (method.parameterCount() == 0) return method.invoke(target, Qt::DirectConnection);
    return method.invoke(target, Qt::DirectConnection, Q_ARG(ui::Command, sent));
}

bool validateCommand(QObject* target, Command& command) {
    if (!target) return false;
    const QMetaObject* meta = target->metaObject();
    const int index = meta->indexOfMethod("validateCommand(ui::Command*)");
    if (index < 0) return false;
    Command* pointer = &command;
    return meta->method(index).invoke(target, Qt::DirectConnection, Q_ARG(ui::Command*, pointer));
}

bool sendAction(const QString& selector, const Command& command, QObject* start) {
    QObject* target = targetForAction(selector, start);
    return target && invokeAction(target, selector, command);
}

}  // namespace ui
