#include "dynamic/Dynamic.h"

#include <cstdio>

#include "dynamic/ClassRegistry.h"
#include "dynamic/TypeMapping.h"
#include "dynamic/ValueBox.h"

namespace dynamic {

namespace {
bool gLogging = false;

bool holdsQObject(const QVariant& v) { return v.isValid() && (v.metaType().flags() & QMetaType::PointerToQObject); }
QObject* qobjectOf(const QVariant& v) { return holdsQObject(v) ? *static_cast<QObject* const*>(v.constData()) : nullptr; }
bool holdsError(const QVariant& v) { return v.metaType() == QMetaType::fromType<DynamicError>(); }

void warn(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
}  // namespace

struct Dynamic::State : Loggable {
    bool isQObject = false;
    QPointer<QObject> qobject;        // the wrapped object when it is a QObject
    std::optional<QVariant> value;    // any other wrapped value (an error value included)
    std::shared_ptr<QObject> keep;    // an instance made by a class call, kept alive with the wrapper
    std::shared_ptr<QObject> box;     // the object a plain value answers messages as (made once)
    std::optional<QString> memberName;
    std::shared_ptr<Invocation> invocation;
    std::optional<InvocationError> error;

    bool loggingEnabled() const override { return gLogging; }

    void setObject(const std::optional<QVariant>& object) {
        if (object && holdsQObject(*object)) {
            isQObject = true;
            qobject = qobjectOf(*object);
        } else if (object && object->isValid()) {
            value = object;
        }
    }
    std::optional<QVariant> object() const {
        if (isQObject) return qobject ? std::optional<QVariant>(QVariant::fromValue(qobject.data())) : std::nullopt;
        return value;
    }
    bool objectIsClass() const { return isQObject && qobject && ClassRegistry::isClass(qobject.data()); }
    bool objectIsError() const { return !isQObject && value && holdsError(*value); }
};

Dynamic::Dynamic() : d_(std::make_shared<State>()) {}

Dynamic::Dynamic(const std::optional<QVariant>& object, const std::optional<QString>& memberName)
    : d_(std::make_shared<State>()) {
    d_->setObject(object);
    d_->memberName = memberName;
    Logger& log = d_->logger();
    log.logGroup(true).logGroup(false);
    log.log({QStringLiteral("# Dynamic")});
    log.log({QStringLiteral("Object:"), object ? Logger::describe(*object) : QStringLiteral("<nil>")});
    log.log({QStringLiteral("Member:"), memberName.value_or(QStringLiteral("<nil>"))});
}

Dynamic Dynamic::className(const QString& name) {
    auto state = std::make_shared<State>();
    if (QObject* cls = ClassRegistry::classNamed(name)) {
        state->isQObject = true;
        state->qobject = cls;
    }
    Logger& log = state->logger();
    log.logGroup(true).logGroup(false);
    log.log({QStringLiteral("# Dynamic")});
    log.log({QStringLiteral("Class:"), name});
    return Dynamic(state);
}

Dynamic Dynamic::nil() {
    static const std::shared_ptr<State> shared = std::make_shared<State>();
    return Dynamic(shared);
}

bool Dynamic::loggingEnabled() { return gLogging; }

void Dynamic::setLoggingEnabled(bool on) {
    gLogging = on;
    Invocation::tracing = on;
}

bool Dynamic::isError() const { return d_->error.has_value() || d_->objectIsError(); }

QString Dynamic::debugDescription() const {
    const std::optional<QVariant> o = d_->object();
    if (!o) return QStringLiteral("<nil>");
    if (QObject* q = qobjectOf(*o)) {
        if (ClassRegistry::isClass(q)) return ClassRegistry::typeName(q);
        return Logger::describe(*o);
    }
    if (holdsError(*o)) return o->value<DynamicError>().description;
    return Logger::describe(*o);
}

std::optional<QVariant> Dynamic::object() const { return d_->object(); }
std::optional<QString> Dynamic::memberName() const { return d_->memberName; }
std::shared_ptr<Invocation> Dynamic::invocation() const { return d_->invocation; }
std::optional<InvocationError> Dynamic::error() const { return d_->error; }

void Dynamic::closeBox() const { d_->logger().logGroup(true); }

Dynamic Dynamic::getMember(const QString& name) const {
    const QString owner = d_->object() ? debugDescription() : QString();
    d_->logger().log({QStringLiteral("Get:"), owner + QLatin1Char('.') + name});
    const std::optional<QVariant> resolved = resolve();
    if (!resolved) return nil();
    if (holdsError(*resolved)) return *this;
    closeBox();
    Dynamic next(resolved, name);
    // An instance made by a class call stays alive while wrappers made from it are.
    if (QObject* q = qobjectOf(*resolved)) {
        if (d_->invocation && d_->invocation->ownedObject().get() == q) next.d_->keep = d_->invocation->ownedObject();
        else if (d_->keep.get() == q) next.d_->keep = d_->keep;
    }
    return next;
}

std::optional<QVariant> Dynamic::resolve() const {
    State& s = *d_;
    const std::optional<QVariant> own = s.object();
    if (!own) return std::nullopt;
    if (s.objectIsClass() && !s.memberName) return own;
    if (s.invocation) {
        if (auto returned = s.invocation->returnedObject()) return returned;
    }
    if (s.objectIsError()) return own;
    if (s.error) return QVariant::fromValue(s.error->bridged());
    if (s.memberName) {
        if (!s.invocation || !s.invocation->isInvoked()) resolveMember(*s.memberName, {});
        if (s.invocation) {
            if (auto returned = s.invocation->returnedObject()) return returned;
        }
        if (s.error) return QVariant::fromValue(s.error->bridged());
        return std::nullopt;
    }
    return own;
}

void Dynamic::resolveMember(const QString& selector, const std::vector<std::optional<QVariant>>& arguments) const {
    State& s = *d_;
    if (s.error || s.objectIsError()) return;
    QObject* target = nullptr;
    if (s.isQObject) {
        target = s.qobject.data();
    } else if (s.value) {
        // A plain value is sent to as the object it boxes into; other values are no objects.
        if (!s.box) s.box = std::shared_ptr<QObject>(boxValue(*s.value).release());
        target = s.box.get();
    }
    if (!target) return;
    s.logger().log({QStringLiteral("Call: [%1 %2]").arg(ClassRegistry::typeName(target), selector)});
    InvocationError failure;
    std::shared_ptr<Invocation> inv = Invocation::create(target, selector, &failure);
    if (!inv) {
        warn(QStringLiteral("WARNING: Trying to access an unrecognized member: %1.%2")
                 .arg(ClassRegistry::typeName(target), selector));
        s.error = failure;
        return;
    }
    s.invocation = inv;
    const int count = inv->numberOfArguments() - 2;
    for (int k = 0; k < count; ++k) {
        // A missing argument stays unset: the invocation then refuses to run.
        if (k >= static_cast<int>(arguments.size())) continue;
        std::optional<QVariant> value = arguments[static_cast<size_t>(k)];
        if (value && value->metaType() == QMetaType::fromType<Dynamic>()) value = value->value<Dynamic>().asObject();
        if (auto mapped = TypeMapping::convertToObjCType(value)) value = mapped;
        inv->setArgument(value, k + 2);
    }
    inv->invoke();
    if (inv->failure()) {
        s.error = inv->failure();
        s.invocation.reset();
    }
}

QString Dynamic::selectorFor(const QString& member, const Arguments& arguments) {
    QString suffix;
    for (const auto& [label, value] : arguments) {
        (void)value;
        if (suffix.isEmpty()) {
            QString first = label;
            if (!first.isEmpty()) first[0] = first[0].toUpper();
            suffix += first + QLatin1Char(':');
        } else {
            suffix += label + QLatin1Char(':');
        }
    }
    return member + suffix;
}

QString Dynamic::setterFor(const QString& member) {
    if (member.size() >= 3 && member.startsWith(QLatin1String("is")) && member[2].isUpper()) {
        return QStringLiteral("set") + member.mid(2);
    }
    if (member.isEmpty()) return QStringLiteral("set");
    return QStringLiteral("set") + member[0].toUpper() + member.mid(1);
}

Dynamic Dynamic::operator()(const Arguments& arguments) const {
    if (d_->objectIsClass() && !d_->memberName) {
        Dynamic init = getMember(arguments.empty() ? QStringLiteral("init") : QStringLiteral("initWith"));
        init(arguments);
        return init;
    }
    if (!d_->memberName) return *this;
    std::vector<std::optional<QVariant>> values;
    values.reserve(arguments.size());
    for (const auto& pair : arguments) values.push_back(pair.second);
    resolveMember(selectorFor(*d_->memberName, arguments), values);
    return *this;
}

void Dynamic::set(const QString& member, const Dynamic& value) const { set(member, value.resolve()); }

void Dynamic::set(const QString& member, const std::optional<QVariant>& value) const {
    const QString owner = d_->object() ? debugDescription() : QString();
    d_->logger().log({QStringLiteral("Set:"), owner + QLatin1Char('.') + member});
    const std::optional<QVariant> target = resolve();
    closeBox();
    Dynamic setter(target, setterFor(member));
    if (target) {
        if (QObject* q = qobjectOf(*target)) {
            if (d_->invocation && d_->invocation->ownedObject().get() == q) setter.d_->keep = d_->invocation->ownedObject();
            else if (d_->keep.get() == q) setter.d_->keep = d_->keep;
        }
    }
    setter({{QString(), value}});
}

std::optional<QVariant> Dynamic::asAnyObject() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    return r;
}

std::optional<QVariant> Dynamic::asObject() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    if (!r) return std::nullopt;
    if (holdsQObject(*r) || holdsError(*r) || Invocation::isObjectType(r->metaType())) return r;
    return std::nullopt;
}

QObject* Dynamic::asQObject() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    return r ? qobjectOf(*r) : nullptr;
}

std::optional<QVariantList> Dynamic::asArray() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    if (!r) return std::nullopt;
    const int id = r->metaType().id();
    if (id == QMetaType::QVariantList || id == QMetaType::QStringList || id == QMetaType::QByteArrayList) {
        return r->toList();
    }
    return std::nullopt;
}

std::optional<QVariantMap> Dynamic::asDictionary() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    if (!r) return std::nullopt;
    const int id = r->metaType().id();
    if (id == QMetaType::QVariantMap || id == QMetaType::QVariantHash) return r->toMap();
    return std::nullopt;
}

std::optional<QString> Dynamic::asString() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    if (!r) return std::nullopt;
    if (holdsQObject(*r)) return Logger::describe(*r);
    if (holdsError(*r)) return r->value<DynamicError>().description;
    if (r->canConvert<QString>()) return r->toString();
    return std::nullopt;
}

std::optional<QVariant> Dynamic::asValue() const {
    std::optional<QVariant> r = resolve();
    closeBox();
    if (r) return r;
    const std::shared_ptr<Invocation>& inv = d_->invocation;
    if (!inv || !inv->returnType().isValid() || inv->returnType().id() == QMetaType::Void) return std::nullopt;
    if (inv->returnLength() <= 0) return std::nullopt;
    QByteArray bytes(inv->returnLength(), '\0');
    inv->getReturnValue(bytes.data());
    if (inv->returnsObject()) return std::nullopt;  // an object result that came back empty
    return QVariant(inv->returnType(), bytes.constData());
}

bool Dynamic::isNumericType(QMetaType type) {
    switch (type.id()) {
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
        default: return false;
    }
}

}  // namespace dynamic
