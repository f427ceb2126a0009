#pragma once
// What a file-viewer window needs of an editor page's connector when the page closes a changed
// file with "Save" (FileViewerSceneDelegate::upload_file_with_completion): the connector's error
// display, and its step after the write (which drops the file's editing session). The editor's
// connector adopts it; the window holds it through a weak link. In the foundation: the editor
// library adopts it and the servers library calls it, neither linking the other.
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornErrorProtocol.h"

class VornEditorSaveConnectorProtocol {
public:
    virtual ~VornEditorSaveConnectorProtocol() = default;
    // The connector's error display (`error_delegatex`); empty when it has none.
    virtual VornErrorLink save_error_delegate() const = 0;
    // Runs once the write has answered: an error goes to the error display and nothing else
    // happens; without one the file's session `session_id` is removed and the completion gets
    // true.
    virtual void remove_session_after_save(std::optional<VornError> error, const std::string& session_id,
                                           std::function<void(bool)> completion) = 0;
};

// A weak link to a connector that is a QObject: empty once the connector is gone.
class VornEditorSaveConnectorLink {
public:
    VornEditorSaveConnectorLink() = default;
    template <class T, class = std::enable_if_t<std::is_base_of_v<QObject, T> &&
                                                std::is_base_of_v<VornEditorSaveConnectorProtocol, T>>>
    VornEditorSaveConnectorLink(T* connector) : object_(connector), connector_(connector) {}  // NOLINT: a link converts from its target

    VornEditorSaveConnectorProtocol* get() const { return object_ ? connector_ : nullptr; }
    explicit operator bool() const { return get() != nullptr; }
    VornEditorSaveConnectorProtocol* operator->() const { return get(); }

private:
    QPointer<QObject> object_;
    VornEditorSaveConnectorProtocol* connector_ = nullptr;
};
