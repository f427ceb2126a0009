#pragma once
// One selector sent once to one target over Qt's meta-object system. A selector names a member
// by its first keyword and its argument count ("hostWindowForUIWindow:" is the invokable
// hostWindowForUIWindow taking one argument); a selector without arguments may also read a
// property, and "setX:" write the property x. A class object's init selectors construct an
// instance through an invokable constructor of the class's instance type; that instance belongs
// to whoever keeps the invocation.
//
// The return type's QMetaType stands for its type encoding: QObject pointers and value classes
// (strings, lists, maps, URLs, ...) are objects; scalars, enums, pointers and the small geometry
// structures are raw bytes, read by size and alignment.
//
// Failures are values: an unrecognised selector fails creation; missing or mistyped arguments and
// exceptions inside the called method are recorded in failure() instead of reaching the caller.
#include <QMetaMethod>
#include <QMetaProperty>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

#include "dynamic/Logger.h"

namespace dynamic {

// An error carried as a value along a chain: a domain, a code and a user-facing description.
struct DynamicError {
    QString domain;
    int code = 0;
    QString description;
    bool operator==(const DynamicError&) const = default;
};

struct InvocationError {
    enum class Kind { unrecognizedSelector, badArguments, failed };
    Kind kind = Kind::unrecognizedSelector;
    QString className;
    QString selector;
    QString reason;  // for the kinds other than unrecognizedSelector

    static QString errorDomain() { return QStringLiteral("Invocation"); }
    int errorCode() const;
    QString localizedDescription() const;
    DynamicError bridged() const { return {errorDomain(), errorCode(), localizedDescription()}; }
};

class Invocation : public Loggable {
public:
    // Prepares the send; null with *error set when the target has no member for the selector.
    static std::shared_ptr<Invocation> create(QObject* target, const QString& selector, InvocationError* error);
    ~Invocation() override;

    // The trace switch, set together with Dynamic's.
    static bool tracing;
    bool loggingEnabled() const override { return tracing; }

    // Sets the argument at an index (2 for the first declared argument; the receiver and the
    // selector take 0 and 1). Indices outside the selector's arguments are ignored.
    void setArgument(const std::optional<QVariant>& value, int index);
    // Sends the selector, once. A second call does nothing.
    void invoke();

    QObject* target() const { return target_.data(); }
    const QString& selector() const { return selector_; }
    bool isInvoked() const { return isInvoked_; }
    // The argument count including the receiver and the selector.
    int numberOfArguments() const { return numberOfArguments_; }
    int returnLength() const { return returnLength_; }
    // Invalid when unknown; QMetaType::Void for a method returning nothing.
    QMetaType returnType() const { return returnType_; }
    bool returnsObject() const;
    bool returnsPointer() const;  // an untyped pointer, read as an object by the typed getters
    // The raw result (an empty variant before the call or for a void result).
    const QVariant& returnValue() const;
    // Copies the raw result into a buffer of returnLength() bytes.
    void getReturnValue(void* buffer) const;
    // The result as an object (computed once): absent unless the return type is an object type.
    std::optional<QVariant> returnedObject();
    // An object the invocation made and owns (a constructed instance, or the parentless result
    // of a member whose name makes it the caller's: returnsRetained), kept alive with it.
    std::shared_ptr<QObject> ownedObject() const { return owned_; }
    bool returnsRetained() const;

    // Why the call did not run or did not finish (missing or mistyped arguments, an exception).
    const std::optional<InvocationError>& failure() const { return failure_; }

    // Whether a value counts as an object (see the header comment).
    static bool isObjectType(QMetaType type);

private:
    enum class Kind { method, propertyRead, propertyWrite, constructor };
    Invocation(QObject* target, QString selector);
    bool initialize(InvocationError* error);
    std::optional<QVariant> coerce(const QVariant& value, QMetaType to, int position);

    QPointer<QObject> target_;
    QString selector_;
    bool prepared_ = false;
    Kind kind_ = Kind::method;
    QMetaMethod method_;
    QMetaProperty property_;
    const QMetaObject* instanceType_ = nullptr;
    std::vector<QMetaType> parameterTypes_;
    int numberOfArguments_ = 0;
    int returnLength_ = 0;
    QMetaType returnType_;
    std::vector<std::optional<QVariant>> arguments_;
    std::vector<bool> given_;
    bool isInvoked_ = false;
    QVariant result_;
    bool returnedComputed_ = false;
    bool returnedIsQObject_ = false;
    QPointer<QObject> returnedQObject_;
    std::optional<QVariant> returnedValue_;
    std::shared_ptr<QObject> owned_;
    std::optional<InvocationError> failure_;
};

}  // namespace dynamic

Q_DECLARE_METATYPE(dynamic::DynamicError)
