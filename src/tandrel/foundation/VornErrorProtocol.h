#pragma once
// Error displays held through weak links (`error_delegatex`): a screen that can show an error.
// In the foundation: the server screens, the document screens and their connectors all use it.
#include <QObject>
#include <QPointer>
#include <optional>
#include <type_traits>

#include "tandrel/foundation/VornError.h"

class VornErrorProtocol {
public:
    virtual ~VornErrorProtocol() = default;
    // Shows the error; nothing for an absent one.
    virtual void present_error(const std::optional<VornError>& error) = 0;
};

// A weak link to an error display that is a QObject: empty once the display is gone.
class VornErrorLink {
public:
    VornErrorLink() = default;
    template <class T, class = std::enable_if_t<std::is_base_of_v<QObject, T> && std::is_base_of_v<VornErrorProtocol, T>>>
    VornErrorLink(T* display) : object_(display), display_(display) {}  // NOLINT: a link converts from its target

    VornErrorProtocol* get() const { return object_ ? display_ : nullptr; }
    explicit operator bool() const { return get() != nullptr; }
    VornErrorProtocol* operator->() const { return get(); }

private:
    QPointer<QObject> object_;
    VornErrorProtocol* display_ = nullptr;
};
