#pragma once
// The base of the screens that serve a file-viewer window: a weak link to that window's scene
// delegate, the standard error alert (one button "OK"), and the new-file and new-folder actions
// of the main menu (VornFileServerViewController+NewItems.cpp). It lives in the foundation so that
// the server screens (tandrel/servers) and the document screens (tandrel/editor) share it
// without depending on each other; it reaches the window only through
// VornFileViewerSceneDelegateProtocol.
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/VornErrorProtocol.h"
#include "tandrel/foundation/VornViewController.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

namespace ui { class AlertController; }

class VornFileServerViewController : public VornViewController, public VornErrorProtocol {
    Q_OBJECT
public:
    VornFileServerViewController();
    ~VornFileServerViewController() override;

    // The file-viewer window this screen works for; set by whoever builds the screen. Empty once
    // that window is gone: check it before each use.
    QPointer<VornFileViewerSceneDelegateProtocol> scene_file_delegatex;

    // On the main queue, "An Error Occurred" with the error's description and "OK"; nothing for
    // an absent error.
    void present_error(const std::optional<VornError>& error) override;

    // The main menu's "New" actions; they reach the first server screen of the responder chain.
    // The server screens' new-file and new-folder dialogs come in through these.
    Q_INVOKABLE virtual void new_file();
    Q_INVOKABLE virtual void new_folder();
    static constexpr const char* kNewFile = "new_file";
    static constexpr const char* kNewFolder = "new_folder";

    // The dialogs' "Create": the name typed in the alert's first field is created in the current
    // folder of this screen's window by the creator (a file or a folder); an error (a name that
    // cannot be used, no connection, the server's refusal) is shown on this screen.
    using RemoteItemCreator = VornFileViewerSceneDelegateProtocol::RemoteItemCreator;
    void create_remote_item(const std::shared_ptr<ui::AlertController>& alert, const RemoteItemCreator& creator);
    // The dialog new_file and new_folder present (not yet shown).
    std::shared_ptr<ui::AlertController> make_new_item_alert(bool folder);
};
