#pragma once
// The responder chain. An action is an invokable method named by its selector ("new_file",
// "edm_set_theme:" -> edm_set_theme), declared `Q_INVOKABLE void name()` or
// `Q_INVOKABLE void name(const ui::Command& sender)`. A command starts at the first responder (the
// focused widget of the active window) and travels: widget -> its parent widgets, where a screen's
// root view hands over to its view controller -> the parent (or presenting) controllers -> the
// window -> whatever the scene layer linked after the window with setNextResponder (scene, scene
// delegate) -> the application responder -> what is linked after that (the app delegate). The
// first object that implements the action (and does not refuse it through an invokable
// `bool canPerformAction(const QString& action)`) handles it.
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace ui {

struct Command {
    QString action;         // the selector, e.g. "edm_set_theme:"
    QVariant propertyList;  // the argument the command carries
    QString title;
    QObject* sender = nullptr;
    // What validation may change before a menu shows the command: its check mark (0 off, 1 on,
    // 2 mixed) and its attributes (1 disabled, 2 destructive, 4 hidden).
    int state = 0;
    int attributes = 0;
};

// "edm_set_theme:" -> "edm_set_theme".
QString actionName(const QString& selector);

// Explicit next responder of an object (kept weakly); nullptr removes the link.
void setNextResponder(QObject* object, QObject* next);
QObject* explicitNextResponder(const QObject* object);
// The object after `responder` in the chain, or nullptr at its end.
QObject* nextResponder(QObject* responder);

// The application-level responder that every window's chain ends in (unless linked otherwise).
void setApplicationResponder(QObject* responder);
QObject* applicationResponder();

// The focused widget of the active window, else the active window, else the application responder.
QObject* firstResponder();

// True when the object has the action as an invokable method of no argument or one ui::Command.
bool implementsAction(const QObject* object, const QString& selector);
// The same for every object of a class (checks that have no object at hand).
bool classImplementsAction(const QMetaObject* meta, const QString& selector);
// True when the object implements the action and does not refuse it.
bool canPerformAction(QObject* object, const QString& selector);

// The chain from `start` (the first responder when null), in order.
QList<QObject*> responderChain(QObject* start = nullptr);
// The first object of the chain that can perform the action, or nullptr.
QObject* targetForAction(const QString& selector, QObject* start = nullptr);
// Calls the action on that target; false when no responder takes it.
bool sendAction(const QString& selector, const Command& command = {}, QObject* start = nullptr);
// Calls the action on one object (no chain); false when it does not implement it.
bool invokeAction(QObject* target, const QString& selector, const Command& command = {});
// Lets the target adjust the command through its invokable `void validateCommand(ui::Command*)`;
// false (command unchanged) when it has none.
bool validateCommand(QObject* target, Command& command);

}  // namespace ui

Q_DECLARE_METATYPE(ui::Command)
Q_DECLARE_METATYPE(ui::Command*)
