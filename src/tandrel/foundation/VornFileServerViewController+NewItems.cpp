// The new-file and new-folder dialogs of the server screens: a name is asked for and the item is
// created in the current folder of the screen's file-viewer window, through the window's
// VornFileViewerSceneDelegateProtocol (create_remote_file, create_remote_folder).
#include <QLineEdit>

#include "platform/ui/AlertController.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornFileServerViewController.h"

namespace {

struct DialogTexts {
    const char* title;
    const char* message;
    const char* placeholder;
};

constexpr DialogTexts kFileDialog{"Create New File", "Please enter a name for your new file", "example.html"};
constexpr DialogTexts kFolderDialog{"Create New Folder", "Please enter a name for your new folder", "New Folder Name"};

QString tr_text(const char* key) { return QString::fromStdString(VORNPresenterUtility::localized(key)); }

}  // namespace

std::shared_ptr<ui::AlertController> VornFileServerViewController::make_new_item_alert(bool folder) {
    const DialogTexts& texts = folder ? kFolderDialog : kFileDialog;
    auto alert = ui::AlertController::make(tr_text(texts.title), tr_text(texts.message));
    std::weak_ptr<ui::AlertController> weak_alert = alert;
    alert->addTextField([texts, weak_alert](QLineEdit* field) {
        field->setPlaceholderText(tr_text(texts.placeholder));
        if (auto a = weak_alert.lock()) attach_field_empty_check(*a, field);
    });

    QPointer<VornFileServerViewController> self(this);
    RemoteItemCreator creator = [folder](VornFileViewerSceneDelegateProtocol& window, const std::string& name,
                                         const std::string& directory, VornFileViewerSceneDelegateProtocol::ErrorCompletion done) {
        if (folder) {
            window.create_remote_folder(name, directory, std::move(done));
        } else {
            window.create_remote_file(name, directory, std::move(done));
        }
    };
    auto create = ui::AlertAction::make(tr_text("Create"), ui::AlertActionStyle::default_, [self, weak_alert, creator] {
        auto a = weak_alert.lock();
        if (self && a) self->create_remote_item(a, creator);
    });
    create->setEnabled(false);
    alert->addAction(create);
    alert->addAction(ui::AlertAction::make(tr_text("Cancel"), ui::AlertActionStyle::cancel));
    alert->setPreferredAction(create);
    return alert;
}

void VornFileServerViewController::new_file() {
    auto alert = make_new_item_alert(false);
    VORNPresenterUtility::present_on_main(this, [self = QPointer<VornFileServerViewController>(this), alert](bool ready) {
        if (ready && self) self->presentViewController(alert, true);
    });
}

void VornFileServerViewController::new_folder() {
    auto alert = make_new_item_alert(true);
    VORNPresenterUtility::present_on_main(this, [self = QPointer<VornFileServerViewController>(this), alert](bool ready) {
        if (ready && self) self->presentViewController(alert, true);
    });
}

void VornFileServerViewController::create_remote_item(const std::shared_ptr<ui::AlertController>& alert,
                                                      const RemoteItemCreator& creator) {
    if (!alert || !creator) return;
    const auto fields = alert->textFields();
    if (fields.isEmpty() || !fields.first()) return;
    const std::string name = fields.first()->text().toStdString();
    if (name.empty()) return;

    // Without a connected window there is nowhere to create the item: say so.
    VornFileViewerSceneDelegateProtocol* window = scene_file_delegatex.data();
    if (!window || !window->my_session_info || !window->my_session_info->current_dir) {
        present_error(VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::guardReturnNoFileProvider)));
        return;
    }
    QPointer<VornFileServerViewController> self(this);
    creator(*window, name, *window->my_session_info->current_dir, [self](std::optional<VornError> error) {
        if (self) self->present_error(error);
    });
}
