#pragma once
// A small reflective wrapper that reaches classes and objects by name at run time. A Dynamic
// wraps one object or class and, optionally, a member not sent yet. Reading a member gives a new
// Dynamic; calling one turns the member name and the argument labels into a selector and sends
// it through an Invocation; typed getters turn the result into a plain value. Failures never
// throw: they are recorded in the wrapper, reported by isError(), and make every later step of a
// chain a no-op.
//
//   Dynamic::className("NSApplication")["sharedApplication"]["delegate"]
//       ["hostWindowForUIWindow"]({{"", QVariant::fromValue(window)}})["attachedWindow"]
//       .member<bool>("isKeyWindow");
//
// A Dynamic is a shared handle: copies stand for the same wrapper. Objects are held weakly
// (a deleted object reads as absent), except an instance made by a class call or handed over by
// a "new..."/"copy..." member, which belongs to the wrappers that came from that call and is
// deleted with the last of them. A wrapper made from a plain value (a string, a list, a map)
// answers messages as the object that value boxes into (see ValueBox.h).
//
// The operations a subclass may override are virtual; the constructors and the typed templates
// (member<T>, call<T>, unwrap<T>) cannot be in C++.
#include <QMarginsF>
#include <QMetaType>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "dynamic/Invocation.h"
#include "dynamic/Logger.h"
#include "dynamic/Selector.h"

namespace dynamic {

// The byte layouts of the two transform getters.
struct AffineTransform {
    double a, b, c, d, tx, ty;
};
struct Transform3D {
    double m[16];
};

class Dynamic {
public:
    using Argument = std::pair<QString, std::optional<QVariant>>;
    using Arguments = std::vector<Argument>;

    // A wrapper of nothing (not the shared one).
    Dynamic();
    Dynamic(const Dynamic&) = default;
    Dynamic& operator=(const Dynamic&) = default;
    virtual ~Dynamic() = default;
    // Wraps a value (an object stays itself; other values are held as they are) and a member.
    explicit Dynamic(const std::optional<QVariant>& object, const std::optional<QString>& memberName = std::nullopt);
    // The registered class of that name (absent when there is none).
    static Dynamic className(const QString& name);
    // The shared wrapper of nothing: what reading a member of nothing gives.
    static Dynamic nil();

    // One switch for the traces of wrappers and invocations.
    static bool loggingEnabled();
    static void setLoggingEnabled(bool on);

    virtual bool isError() const;
    virtual QString debugDescription() const;
    bool isSameWrapper(const Dynamic& other) const { return d_ == other.d_; }

    // Member read (nothing is sent until the result is needed or the member is called).
    Dynamic operator[](const QString& member) const { return getMember(member); }
    // Member write: the value is resolved, then the setter ("setX:", "isX" -> "setX:") is sent.
    virtual void set(const QString& member, const Dynamic& value) const;
    virtual void set(const QString& member, const std::optional<QVariant>& value) const;
    // Typed member read.
    template <class T>
    std::optional<T> member(const QString& name) const {
        return getMember(name).template unwrap<T>();
    }
    // A call with labelled arguments (labels may be empty and may repeat).
    virtual Dynamic operator()(const Arguments& arguments = {}) const;
    // Does nothing: a class call allocates and initialises in one send.
    virtual void alloc() const {}
    template <class T>
    std::optional<T> call(const Arguments& arguments = {}) const {
        return (*this)(arguments).template unwrap<T>();
    }

    // Result getters.
    std::optional<QVariant> asAnyObject() const;
    std::optional<QVariant> asObject() const;  // an object or an error value
    QObject* asQObject() const;                 // the resolved object when it is a QObject
    std::optional<QVariantList> asArray() const;
    std::optional<QVariantMap> asDictionary() const;
    std::optional<QString> asString() const;
    std::optional<QVariant> asValue() const;
    std::optional<int8_t> asInt8() const { return unwrap<int8_t>(); }
    std::optional<uint8_t> asUInt8() const { return unwrap<uint8_t>(); }
    std::optional<int16_t> asInt16() const { return unwrap<int16_t>(); }
    std::optional<uint16_t> asUInt16() const { return unwrap<uint16_t>(); }
    std::optional<int32_t> asInt32() const { return unwrap<int32_t>(); }
    std::optional<uint32_t> asUInt32() const { return unwrap<uint32_t>(); }
    std::optional<int64_t> asInt64() const { return unwrap<int64_t>(); }
    std::optional<uint64_t> asUInt64() const { return unwrap<uint64_t>(); }
    std::optional<qlonglong> asInt() const { return unwrap<qlonglong>(); }
    std::optional<qulonglong> asUInt() const { return unwrap<qulonglong>(); }
    std::optional<float> asFloat() const { return unwrap<float>(); }
    std::optional<double> asDouble() const { return unwrap<double>(); }
    std::optional<bool> asBool() const { return unwrap<bool>(); }
    std::optional<Selector> asSelector() const { return unwrap<Selector>(); }
    std::optional<QPointF> asCGPoint() const { return unwrap<QPointF>(); }
    std::optional<QPointF> asCGVector() const { return unwrap<QPointF>(); }
    std::optional<QSizeF> asCGSize() const { return unwrap<QSizeF>(); }
    std::optional<QPointF> asUIOffset() const { return unwrap<QPointF>(); }
    std::optional<QRectF> asCGRect() const { return unwrap<QRectF>(); }
    std::optional<QMarginsF> asUIEdgeInsets() const { return unwrap<QMarginsF>(); }
    std::optional<AffineTransform> asCGAffineTransform() const { return unwrap<AffineTransform>(); }
    std::optional<Transform3D> asCATransform3D() const { return unwrap<Transform3D>(); }
    template <class T>
    std::optional<T> asInferred() const {
        return unwrap<T>();
    }

    // The parts of the wrapper and its steps (public for inspection).
    std::optional<QVariant> object() const;
    std::optional<QString> memberName() const;
    std::shared_ptr<Invocation> invocation() const;
    std::optional<InvocationError> error() const;
    virtual Dynamic getMember(const QString& name) const;
    virtual std::optional<QVariant> resolve() const;
    virtual void resolveMember(const QString& selector, const std::vector<std::optional<QVariant>>& arguments) const;
    // The selector a member called with these labels sends.
    static QString selectorFor(const QString& member, const Arguments& arguments);
    // The setter selector name (without the colon) for a member.
    static QString setterFor(const QString& member);

    // The result converted to T: raw results by size and alignment, objects by conditional
    // conversion.
    template <class T>
    std::optional<T> unwrap() const;

private:
    struct State;
    explicit Dynamic(std::shared_ptr<State> state) : d_(std::move(state)) {}
    void closeBox() const;
    std::shared_ptr<State> d_;

    template <class T>
    static std::optional<T> convert(const QVariant& value);
    static bool isNumericType(QMetaType type);
};

template <class T>
std::optional<T> Dynamic::convert(const QVariant& value) {
    if (!value.isValid()) return std::nullopt;
    if constexpr (std::is_pointer_v<T> && std::is_base_of_v<QObject, std::remove_pointer_t<T>>) {
        if (!(value.metaType().flags() & QMetaType::PointerToQObject)) return std::nullopt;
        QObject* o = *static_cast<QObject* const*>(value.constData());
        if (T cast = qobject_cast<T>(o)) return cast;
        return std::nullopt;
    } else if constexpr (std::is_same_v<T, QVariant>) {
        return value;
    } else {
        if (value.metaType() == QMetaType::fromType<T>()) return value.value<T>();
        if constexpr (std::is_arithmetic_v<T>) {
            // A boxed number converts to any number type.
            if (isNumericType(value.metaType())) return value.value<T>();
        }
        return std::nullopt;
    }
}

template <class T>
std::optional<T> Dynamic::unwrap() const {
    const std::optional<QVariant> value = asValue();
    if (!value) return std::nullopt;
    const std::shared_ptr<Invocation> inv = invocation();
    if (!inv) {
        const std::optional<QVariant> own = object();
        return own ? convert<T>(*own) : std::nullopt;
    }
    if (inv->returnsObject() || inv->returnsPointer()) return convert<T>(*value);
    if constexpr (std::is_trivially_copyable_v<T>) {
        const QMetaType type = inv->returnType();
        if (!type.isValid() || type.sizeOf() != static_cast<qsizetype>(sizeof(T)) ||
            type.alignOf() != static_cast<qsizetype>(alignof(T))) {
            return std::nullopt;
        }
        if constexpr (std::is_same_v<T, bool>) {
            uint8_t byte = 0;
            std::memcpy(&byte, value->constData(), 1);
            return byte != 0;
        } else {
            T out;
            std::memcpy(&out, value->constData(), sizeof(T));
            return out;
        }
    } else {
        return std::nullopt;
    }
}

}  // namespace dynamic

Q_DECLARE_METATYPE(dynamic::Dynamic)
