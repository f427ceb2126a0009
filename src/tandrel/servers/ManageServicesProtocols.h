#pragma once
// The links between the saved-servers list, its rows, the server form and the file explorer that
// embeds the list as its welcome screen. Each protocol is adopted by a screen (a QObject); the
// links are weak: hold them as WeakLink<Protocol>, which empties itself when the screen goes.
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class SingleServiceViewController;

// A weak link to an object through one of the protocols it adopts.
template <class Protocol>
class WeakLink {
public:
    WeakLink() = default;
    WeakLink(std::nullptr_t) {}  // NOLINT
    template <class T>
    WeakLink(T* object) : object_(object), protocol_(object) {}  // NOLINT: T is a QObject adopting Protocol

    Protocol* get() const { return object_ ? protocol_ : nullptr; }
    QObject* object() const { return object_.data(); }
    explicit operator bool() const { return get() != nullptr; }
    Protocol* operator->() const { return get(); }
    bool operator==(const WeakLink& other) const { return get() == other.get(); }

private:
    QPointer<QObject> object_;
    Protocol* protocol_ = nullptr;
};

// What the list's rows ask of the list.
class manage_service_cell_delegate_protocol {
public:
    virtual ~manage_service_cell_delegate_protocol() = default;
    // The file-viewer window the list serves (its identifier and its scene delegate).
    virtual std::optional<std::string> cell_file_controller_window_id() const = 0;
    virtual QPointer<VornFileViewerSceneDelegateProtocol> cell_scene_file_delegatex() const = 0;
    // Shows the server form over the list; false when it cannot be shown now.
    virtual bool cell_present_form(const std::shared_ptr<SingleServiceViewController>& form) = 0;
    // Links a new form back to the list, so that it hears when the form saved a server.
    virtual void cell_link_form(SingleServiceViewController& form) = 0;
};

// What the server form (and the keychain store, through the form) tells the list.
class single_vc_to_manage_vc_protocol {
public:
    virtual ~single_vc_to_manage_vc_protocol() = default;
    // A server was saved: reload the list and close the form it presents.
    virtual void service_list_changed() = 0;
};

// What the list tells the file explorer that embeds it as its welcome screen.
class welcome_manage_services_protocol {
public:
    virtual ~welcome_manage_services_protocol() = default;
    // A server chosen on the welcome screen was connected.
    virtual void welcome_service_connected() = 0;
};
