#pragma once
// A weak link to an object typed by one of its protocols: empty once the object (a QObject) is
// gone. The editor's protocols are plain interfaces, so the link keeps a QPointer to the object
// beside the interface pointer.
#include <QObject>
#include <QPointer>
#include <type_traits>

template <class Protocol>
class ProtocolLink {
public:
    ProtocolLink() = default;
    template <class T, class = std::enable_if_t<std::is_base_of_v<QObject, T> && std::is_base_of_v<Protocol, T>>>
    ProtocolLink(T* target) : object_(target), target_(target) {}  // NOLINT: a link converts from its target

    Protocol* get() const { return object_ ? target_ : nullptr; }
    QObject* object() const { return object_.data(); }
    explicit operator bool() const { return get() != nullptr; }
    Protocol* operator->() const { return get(); }

private:
    QPointer<QObject> object_;
    Protocol* target_ = nullptr;
};
