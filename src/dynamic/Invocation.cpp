#include "dynamic/Invocation.h"

#include <QMargins>
#include <QMetaObject>
#include <array>
#include <cctype>
#include <cstring>
#include <exception>

#include "dynamic/ClassRegistry.h"
#include "dynamic/Selector.h"
#include "dynamic/TypeMapping.h"

namespace dynamic {

bool Invocation::tracing = false;

int InvocationError::errorCode() const {
    switch (kind) {
        case Kind::unrecognizedSelector: return 404;
        case Kind::badArguments: return 400;
        case Kind::failed: return 500;
    }
    return 500;
}

QString InvocationError::localizedDescription() const {
    switch (kind) {
        case Kind::unrecognizedSelector:
            return QStringLiteral("'%1' doesn't recognize selector '%2'").arg(className, selector);
        case Kind::badArguments:
            return QStringLiteral("'%1' can't send '%2': %3").arg(className, selector, reason);
        case Kind::failed:
            return QStringLiteral("'%1' failed in '%2': %3").arg(className, selector, reason);
    }
    return {};
}

namespace {
bool isNumeric(QMetaType t) {
    switch (t.id()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Float:
        case QMetaType::Double: return true;
        default: return (t.flags() & QMetaType::IsEnumeration) != 0;
    }
}

// The keyword and the argument count of a selector: "setValue:forKey:" -> ("setValue", 2).
std::pair<QByteArray, int> splitSelector(const QString& selector) {
    const qsizetype colon = selector.indexOf(QLatin1Char(':'));
    return {(colon < 0 ? selector : selector.left(colon)).toLatin1(),
            static_cast<int>(selector.count(QLatin1Char(':')))};
}

// The argument labels of an init selector: "initWithTitle:count:" -> (title, count);
// "initWith:x:" -> ("", x); "init" -> ().
std::vector<QByteArray> constructorLabels(const QString& selector, int argc) {
    std::vector<QByteArray> labels;
    const QList<QByteArray> parts = selector.toLatin1().split(':');
    for (int k = 0; k < argc; ++k) {
        QByteArray label = k < parts.size() ? parts[k] : QByteArray();
        if (k == 0) {
            label = label.startsWith("initWith") ? label.mid(8) : QByteArray();
            if (!label.isEmpty()) label[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(label[0])));
        }
        labels.push_back(label);
    }
    return labels;
}

QString describeType(QMetaType t) { return t.isValid() ? QString::fromLatin1(t.name()) : QStringLiteral("?"); }
}  // namespace

bool Invocation::isObjectType(QMetaType type) {
    if (!type.isValid() || type.id() == QMetaType::Void) return false;
    const auto flags = type.flags();
    if (flags & QMetaType::PointerToQObject) return true;
    if (flags & (QMetaType::IsPointer | QMetaType::IsEnumeration)) return false;
    if (isNumeric(type)) return false;
    // Small structures are raw bytes, like scalars.
    switch (type.id()) {
        case QMetaType::QPoint:
        case QMetaType::QPointF:
        case QMetaType::QSize:
        case QMetaType::QSizeF:
        case QMetaType::QRect:
        case QMetaType::QRectF:
        case QMetaType::QLine:
        case QMetaType::QLineF: return false;
        default: break;
    }
    if (type == QMetaType::fromType<QMargins>() || type == QMetaType::fromType<QMarginsF>()) return false;
    // A selector is a word, read by size and alignment like a pointer.
    if (type == QMetaType::fromType<Selector>()) return false;
    return true;
}

Invocation::Invocation(QObject* target, QString selector) : target_(target), selector_(std::move(selector)) {}

Invocation::~Invocation() = default;

std::shared_ptr<Invocation> Invocation::create(QObject* target, const QString& selector, InvocationError* error) {
    std::shared_ptr<Invocation> inv(new Invocation(target, selector));
    const QString type = ClassRegistry::typeName(target);
    inv->logger().logGroup(false);
    inv->logger().log({QStringLiteral("# Invocation")});
    inv->logger().log({QStringLiteral("[%1 %2]").arg(type, selector)});
    inv->logger().log({QStringLiteral("Selector:"), selector});
    InvocationError failure;
    if (!inv->initialize(&failure)) {
        if (error) *error = failure;
        return nullptr;
    }
    return inv;
}

bool Invocation::initialize(InvocationError* error) {
    QObject* target = target_.data();
    const auto [keyword, argc] = splitSelector(selector_);
    const QString type = ClassRegistry::typeName(target);
    auto unrecognized = [&] {
        *error = InvocationError{InvocationError::Kind::unrecognizedSelector, type, selector_, {}};
        logger().log({QStringLiteral("ERROR:"), error->localizedDescription()});
        return false;
    };
    if (!target || keyword.isEmpty()) return unrecognized();

    const QMetaObject* meta = target->metaObject();
    bool found = false;
    if (ClassRegistry::isClass(target) && keyword.startsWith("init")) {
        // An init selector on a class: one of the instance type's constructors.
        // The labels pick it, as Qt keeps parameter names: initWithTitle:count: is the
        // constructor (title, count). An empty label, or a parameter declared without a name,
        // matches any; among the constructors that fit, the one with most names matched wins.
        if (const QMetaObject* instances = ClassRegistry::instanceType(target)) {
            const std::vector<QByteArray> labels = constructorLabels(selector_, argc);
            int best = -1;
            for (int i = 0; i < instances->constructorCount(); ++i) {
                const QMetaMethod c = instances->constructor(i);
                if (c.parameterCount() != argc) continue;
                const QList<QByteArray> names = c.parameterNames();
                int matched = 0;
                bool fits = true;
                for (int k = 0; k < argc && fits; ++k) {
                    const QByteArray& label = labels[static_cast<size_t>(k)];
                    const QByteArray name = k < names.size() ? names[k] : QByteArray();
                    if (label.isEmpty() || name.isEmpty()) continue;
                    if (label == name) ++matched;
                    else fits = false;
                }
                if (fits && matched > best) {
                    best = matched;
                    kind_ = Kind::constructor;
                    method_ = c;
                    instanceType_ = instances;
                    returnType_ = QMetaType::fromType<QObject*>();
                    found = true;
                }
            }
        }
    } else {
        // The most derived declaration wins.
        for (int i = meta->methodCount() - 1; i >= 0 && !found; --i) {
            const QMetaMethod m = meta->method(i);
            if (m.methodType() != QMetaMethod::Method && m.methodType() != QMetaMethod::Slot) continue;
            if (m.access() == QMetaMethod::Private) continue;
            if (m.name() != keyword || m.parameterCount() != argc) continue;
            kind_ = Kind::method;
            method_ = m;
            returnType_ = m.returnMetaType();
            found = true;
        }
        if (!found && argc == 0) {
            const int p = meta->indexOfProperty(keyword.constData());
            if (p >= 0 && meta->property(p).isReadable()) {
                kind_ = Kind::propertyRead;
                property_ = meta->property(p);
                returnType_ = property_.metaType();
                found = true;
            }
        }
        if (!found && argc == 1 && keyword.size() > 3 && keyword.startsWith("set")) {
            QByteArray rest = keyword.mid(3);
            const QByteArray candidates[] = {QByteArray(1, static_cast<char>(std::tolower(rest[0]))) + rest.mid(1),
                                             "is" + rest};
            for (const QByteArray& name : candidates) {
                const int p = meta->indexOfProperty(name.constData());
                if (p >= 0 && meta->property(p).isWritable()) {
                    kind_ = Kind::propertyWrite;
                    property_ = meta->property(p);
                    returnType_ = QMetaType::fromType<void>();
                    found = true;
                    break;
                }
            }
        }
    }
    if (!found) return unrecognized();

    switch (kind_) {
        case Kind::method:
        case Kind::constructor:
            for (int i = 0; i < method_.parameterCount(); ++i) parameterTypes_.push_back(method_.parameterMetaType(i));
            break;
        case Kind::propertyWrite: parameterTypes_.push_back(property_.metaType()); break;
        case Kind::propertyRead: break;
    }
    numberOfArguments_ = argc + 2;
    returnLength_ = returnType_.isValid() && returnType_.id() != QMetaType::Void ? static_cast<int>(returnType_.sizeOf()) : 0;
    logger().log({QStringLiteral("NumberOfArguments:"), QString::number(numberOfArguments_)});
    logger().log({QStringLiteral("ReturnLength:"), QString::number(returnLength_)});
    logger().log({QStringLiteral("ReturnType:"), describeType(returnType_)});
    arguments_.assign(static_cast<size_t>(argc), std::nullopt);
    given_.assign(static_cast<size_t>(argc), false);
    prepared_ = true;
    return true;
}

void Invocation::setArgument(const std::optional<QVariant>& value, int index) {
    if (!prepared_) return;
    logger().log({QStringLiteral("Argument #%1:").arg(index - 1), value ? Logger::describe(*value) : QStringLiteral("<nil>")});
    const int k = index - 2;
    if (k < 0 || k >= static_cast<int>(arguments_.size())) return;
    arguments_[static_cast<size_t>(k)] = value;
    given_[static_cast<size_t>(k)] = true;
}

std::optional<QVariant> Invocation::coerce(const QVariant& value, QMetaType to, int position) {
    auto bad = [&](const QString& why) -> std::optional<QVariant> {
        failure_ = InvocationError{InvocationError::Kind::badArguments, ClassRegistry::typeName(target_.data()),
                                   selector_, QStringLiteral("argument #%1 %2").arg(position).arg(why)};
        return std::nullopt;
    };
    if (to.id() == QMetaType::QVariant) return QVariant::fromValue(value);
    if (!value.isValid()) {
        // An absent value is a null pointer; a value type cannot be made up.
        if (to.flags() & (QMetaType::IsPointer | QMetaType::PointerToQObject)) return QVariant(to);
        return bad(QStringLiteral("is missing (expected %1)").arg(describeType(to)));
    }
    if (value.metaType() == to) return value;
    if (to.flags() & QMetaType::PointerToQObject) {
        if (!(value.metaType().flags() & QMetaType::PointerToQObject)) {
            return bad(QStringLiteral("is %1, expected %2").arg(describeType(value.metaType()), describeType(to)));
        }
        QObject* object = *static_cast<QObject* const*>(value.constData());
        if (object && to.metaObject() && !object->metaObject()->inherits(to.metaObject())) {
            return bad(QStringLiteral("is %1, expected %2")
                           .arg(QString::fromLatin1(object->metaObject()->className()), describeType(to)));
        }
        return QVariant(to, &object);
    }
    if (isNumeric(value.metaType()) && isNumeric(to)) {
        QVariant converted = value;
        if (converted.convert(to)) return converted;
    } else if (!isNumeric(to) && !isNumeric(value.metaType())) {
        // A bridged value reaches the member as the type it declares (a QVariantList as a
        // QStringList, a QDateTime as a QDate, ...). Numbers and text never turn into each other.
        if (auto converted = TypeMapping::convertToDeclaredType(value, to)) return converted;
    }
    return bad(QStringLiteral("is %1, expected %2").arg(describeType(value.metaType()), describeType(to)));
}

void Invocation::invoke() {
    if (!prepared_ || isInvoked_) return;
    logger().log({QStringLiteral("Invoking...")});
    isInvoked_ = true;
    QObject* target = target_.data();
    auto fail = [&](InvocationError::Kind kind, const QString& why) {
        failure_ = InvocationError{kind, ClassRegistry::typeName(target), selector_, why};
    };

    std::vector<QVariant> values;
    if (!target) {
        fail(InvocationError::Kind::failed, QStringLiteral("the receiver is gone"));
    } else {
        for (size_t i = 0; i < parameterTypes_.size() && !failure_; ++i) {
            if (i >= given_.size() || !given_[i]) {
                fail(InvocationError::Kind::badArguments,
                     QStringLiteral("argument #%1 is missing (expected %2)").arg(i + 1).arg(describeType(parameterTypes_[i])));
                break;
            }
            const std::optional<QVariant>& given = arguments_[i];
            auto v = coerce(given.value_or(QVariant()), parameterTypes_[i], static_cast<int>(i) + 1);
            if (v) values.push_back(*v);
        }
        if (parameterTypes_.size() > 10 && !failure_) {
            fail(InvocationError::Kind::badArguments, QStringLiteral("more than 10 arguments"));
        }
    }

    if (!failure_) {
        std::array<QGenericArgument, 10> args{};
        for (size_t i = 0; i < values.size(); ++i) {
            args[i] = QGenericArgument(parameterTypes_[i].name(), values[i].constData());
        }
        try {
            switch (kind_) {
                case Kind::method: {
                    bool ok;
                    if (returnType_.isValid() && returnType_.id() != QMetaType::Void) {
                        result_ = QVariant(returnType_);
                        ok = method_.invoke(target, Qt::DirectConnection,
                                            QGenericReturnArgument(returnType_.name(), result_.data()), args[0], args[1],
                                            args[2], args[3], args[4], args[5], args[6], args[7], args[8], args[9]);
                    } else {
                        ok = method_.invoke(target, Qt::DirectConnection, args[0], args[1], args[2], args[3], args[4],
                                            args[5], args[6], args[7], args[8], args[9]);
                    }
                    if (!ok) {
                        result_ = QVariant();
                        fail(InvocationError::Kind::failed, QStringLiteral("the call was refused"));
                    } else if (returnsRetained() && (returnType_.flags() & QMetaType::PointerToQObject)) {
                        // A "new..." or "copy..." member hands its caller an object of its own:
                        // this invocation keeps it, and the last wrapper holding it deletes it
                        // once. An object with a parent stays its parent's.
                        QObject* made = *static_cast<QObject* const*>(result_.constData());
                        if (made && !made->parent()) owned_.reset(made);
                    }
                    break;
                }
                case Kind::propertyRead: result_ = property_.read(target); break;
                case Kind::propertyWrite:
                    if (!property_.write(target, values.front())) {
                        fail(InvocationError::Kind::failed, QStringLiteral("the property refused the value"));
                    }
                    break;
                case Kind::constructor: {
                    QObject* made = instanceType_->newInstance(args[0], args[1], args[2], args[3], args[4], args[5],
                                                               args[6], args[7], args[8], args[9]);
                    if (!made) {
                        fail(InvocationError::Kind::failed, QStringLiteral("the constructor refused the arguments"));
                    } else {
                        owned_.reset(made);
                        result_ = QVariant::fromValue(made);
                    }
                    break;
                }
            }
        } catch (const std::exception& e) {
            result_ = QVariant();
            fail(InvocationError::Kind::failed, QString::fromUtf8(e.what()));
        } catch (...) {
            result_ = QVariant();
            fail(InvocationError::Kind::failed, QStringLiteral("an unknown exception"));
        }
    }
    if (failure_) logger().log({QStringLiteral("ERROR:"), failure_->localizedDescription()});
    logger().logGroup(true);
}

bool Invocation::returnsObject() const { return isObjectType(returnType_); }

bool Invocation::returnsPointer() const { return returnType_.id() == QMetaType::VoidStar; }

const QVariant& Invocation::returnValue() const { return result_; }

void Invocation::getReturnValue(void* buffer) const {
    if (!prepared_) return;
    if (result_.isValid() && returnLength_ > 0) {
        std::memcpy(buffer, result_.constData(), static_cast<size_t>(returnLength_));
    }
    if (selector_ == QLatin1String("alloc")) {
        logger().log({QStringLiteral("getReturnValue() -> <alloc>")});
    } else if (returnsObject()) {
        logger().log({QStringLiteral("getReturnValue() ->"), Logger::describe(result_)});
    } else if (returnLength_ > 0) {
        logger().log({QStringLiteral("getReturnValue() ->"), QString::number(*static_cast<const int8_t*>(buffer))});
    }
}

std::optional<QVariant> Invocation::returnedObject() {
    if (!returnedComputed_) {
        returnedComputed_ = true;
        if (returnType_.isValid() && returnsObject() && returnLength_ >= 1 && isInvoked_ && !failure_ &&
            result_.isValid()) {
            logger().log({QStringLiteral("getReturnValue() ->"), Logger::describe(result_)});
            if (returnType_.flags() & QMetaType::PointerToQObject) {
                returnedQObject_ = *static_cast<QObject* const*>(result_.constData());
                returnedIsQObject_ = true;
            } else if (returnType_.id() == QMetaType::QVariant) {
                const QVariant inner = result_.value<QVariant>();
                if (inner.isValid()) returnedValue_ = inner;
            } else {
                returnedValue_ = result_;
            }
        }
    }
    // An object held weakly: once deleted it reads as absent.
    if (returnedIsQObject_) {
        if (!returnedQObject_) return std::nullopt;
        return QVariant::fromValue(returnedQObject_.data());
    }
    return returnedValue_;
}

bool Invocation::returnsRetained() const {
    if (kind_ == Kind::constructor) return true;
    return selector_ == QLatin1String("alloc") || selector_.startsWith(QLatin1String("new")) ||
           selector_.startsWith(QLatin1String("copy")) || selector_.startsWith(QLatin1String("mutableCopy"));
}

}  // namespace dynamic
