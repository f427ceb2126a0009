// The file explorer's table: selecting and opening rows (a folder is listed, a file opens in a
// document window or, where there is one window, in the compact editor), the row context menu
// that renames and deletes remote files and folders, and the way to a folder's deleted files.
#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornFileHistory.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/foundation/CompactEditorRoute.h"
#include "tandrel/servers/FileExplorerListingModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornDeletedFilesViewController.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/foundation/VornProviderErrors.h"

namespace {
using Err = EnumManager::vorn_error_throws;
VornError app_error(Err::Case c) { return Err(c); }

bool is_up_one_level(const VornServerFileDataModel& entry) {
    return entry.special_assignment && *entry.special_assignment == EnumManager::file_special_assignment::up_one_level;
}
}  // namespace

// ---- selecting and opening ----------------------------------------------------------------------

void VornFileViewController::select_cell_row(int row) {
    if (!model_->entryAt(row)) return;
    QTableView* table = fileExplorerTableView;
    QItemSelectionModel* selection = table->selectionModel();
    if (!selection) return;
    const QModelIndex index = model_->index(row, 0);
    selection->clearSelection();
    selection->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void VornFileViewController::open_file_entry(int row) {
    auto entry = model_->entryAt(row);
    if (!entry) return;
    select_cell_row(row);
    if (FileViewTableViewCell::is_directory(*entry)) {
        begin_loading_on_main(true);
        go_to_directory(entry->path ? *entry->path : std::string("/"), true);
        return;
    }
    open_file(entry);
}

bool VornFileViewController::preview_supported_for_path(const std::string& path) {
    return preview_page_kind(path) != PreviewPage::none;
}

void VornFileViewController::open_file(const std::shared_ptr<VornServerFileDataModel>& entry) {
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->my_session_info || !window->my_session_info->service_id) return;
    if (!entry || !entry->path) return;
    const std::string service_id = *window->my_session_info->service_id;
    const std::string bucket_id = file_bucket_id_for_path(*entry->path);
    AMZLogger::shared().log_verbose("service_id: " + service_id + " - bucket_id: " + bucket_id);
    // The extension is read from the path itself, so names with blanks or other characters
    // that a URL would have to escape open as well.
    const bool preview = preview_supported_for_path(*entry->path);

    if (ui::Application::shared().supportsMultipleScenes()) {
        QPointer<VornFileViewController> self(this);
        scene_links().open_document_scene(service_id, bucket_id, preview, [self](const VornError& error) {
            if (self) VORNPresenterUtility::present_error(self.data(), error, "OK");
        });
        return;
    }
    open_in_compact_editor(service_id, bucket_id, preview);
}

// ---- compact editor route ----------------------------------------------------------------------

void VornFileViewController::open_in_compact_editor(const std::string& service_id, const std::string& bucket_id,
                                                    bool preview) {
    iphone_doc_int = make_compact_document_interface();
    if (!iphone_doc_int) {
        present_error(app_error(Err::no_compact_editor));
        return;
    }
    iphone_doc_int->full_screen_iphone = true;
    iphone_doc_int->my_current_editor_info.file_bucket_id = bucket_id;
    iphone_doc_int->my_current_editor_info.service_session_id = service_id;
    iphone_doc_int->my_current_editor_info.preview_supported = preview;
    iphone_doc_int->setup_document_controllers();
    std::shared_ptr<CompactEditorScreen> compact = iphone_doc_int->ext_compact_editor_vc();
    if (!compact) {
        present_error(app_error(Err::no_compact_editor));
        return;
    }
    compact->setup_editor_web_view();
    // The document side records the file's editing session once its page is ready. The screen
    // keeps the document interface (and its compact editor) meanwhile; the waiting task holds
    // only weak links, so a task dropped unrun (at exit) destroys nothing.
    // A file opened again meanwhile replaces the document interface: only the latest is shown.
    QPointer<VornFileViewController> self(this);
    std::weak_ptr<CompactDocumentInterface> document = iphone_doc_int;
    dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kCompactEditorWaitMs),
                    [self, document, service_id, bucket_id] {
                        if (!self || document.expired() || document.lock() != self->iphone_doc_int) return;
                        self->present_compact_editor(service_id, bucket_id);
                    });
}

void VornFileViewController::present_compact_editor(const std::string& service_id, const std::string& bucket_id) {
    std::shared_ptr<CompactEditorScreen> compact = iphone_doc_int ? iphone_doc_int->ext_compact_editor_vc() : nullptr;
    if (!compact) {
        present_error(app_error(Err::no_compact_editor));
        return;
    }
    std::shared_ptr<VornACEFileSessionsDataModel> session;
    const auto& sessions = app_sessions_manager().service_sessions;
    if (auto it = sessions.find(service_id); it != sessions.end() && it->second) {
        for (const auto& s : it->second->ace_file_sessions) {
            if (s && s->session_id == bucket_id) {
                session = s;
                break;
            }
        }
    }
    if (!session) {
        present_error(app_error(Err::load_url_fail));
        return;
    }
    compact->load_editor_page();
    auto navigation = ui::make<ui::NavigationController>(compact->compact_view_controller());
    navigation->setModalPresentationStyle(ui::ModalPresentationStyle::fullScreen);
    presentViewController(navigation, true, [compact, session] {
        auto content = std::make_shared<VornServerFileContentModel>();
        content->id = session->session_id;
        content->path = "";
        content->contents = session->json;
        content->file_type = EnumManager::editor_file_types::txt;
        compact->open_file_content(content);
    });
}

// ---- context menu -------------------------------------------------------------------------------

std::string VornFileViewController::kind_word(const VornServerFileDataModel& entry) {
    return FileViewTableViewCell::is_directory(entry) ? "Directory" : "File";
}

void VornFileViewController::show_context_menu(const QPoint& position) {
    const QModelIndex index = fileExplorerTableView->indexAt(position);
    // Below the rows: the folder shown.
    auto menu = index.isValid() ? build_context_menu(index.row()) : build_folder_menu();
    if (!menu) return;
    if (context_menu_) context_menu_->deleteLater();
    context_menu_ = menu.release();
    context_menu_->setParent(fileExplorerTableView, context_menu_->windowFlags());
    context_menu_->setAttribute(Qt::WA_DeleteOnClose);
    context_menu_->popup(fileExplorerTableView->viewport()->mapToGlobal(position));
}

std::unique_ptr<QMenu> VornFileViewController::build_context_menu(int row) {
    auto entry = model_->entryAt(row);
    if (!entry) return nullptr;
    // The "[UP ONE LEVEL] .." row stands for the parent folder: renaming or deleting it would
    // act on the parent, so it has no menu.
    if (is_up_one_level(*entry)) return nullptr;
    select_cell_row(row);
    FileViewerSceneDelegate* window = file_window();
    if (!entry->path || !entry->kind || !window || !window->provider_as_read_write()) {
        present_error(app_error(Err::no_data));
        return nullptr;
    }
    const std::string word = kind_word(*entry);
    auto menu = std::make_unique<QMenu>(QStringLiteral("Options"));
    menu->setTitle(QStringLiteral("Options"));
    QPointer<VornFileViewController> self(this);

    QAction* rename = menu->addAction(ui::Image::systemImage(QStringLiteral("rectangle.and.pencil.and.ellipsis"))
                                          .withTintColor(XCol::foreground().resolvedFor(view()))
                                          .icon(),
                                      QString::fromStdString("Rename " + word));
    connect(rename, &QAction::triggered, this, [self, entry] {
        if (self) self->show_rename_alert(entry);
    });

    const ui::Image trash = ui::Image::systemImage(QStringLiteral("trash.fill"));
    QAction* remove = menu->addAction(
        trash.isNull() ? QIcon() : trash.withTintColor(XCol::foreground().resolvedFor(view())).icon(),
        QString::fromStdString("Delete " + word));
    connect(remove, &QAction::triggered, this, [self, entry] {
        if (self) self->confirm_delete(entry);
    });

    if (FileViewTableViewCell::is_directory(*entry)) {
        const std::string folder = *entry->path;
        QAction* deleted = menu->addAction(QString::fromUtf8(kDeletedFiles));
        connect(deleted, &QAction::triggered, this, [self, folder] {
            if (self) self->show_deleted_files(folder);
        });
    }
    return menu;
}

std::unique_ptr<QMenu> VornFileViewController::build_folder_menu() {
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->provider_as_read_write()) return nullptr;
    auto menu = std::make_unique<QMenu>(QStringLiteral("Folder"));
    QPointer<VornFileViewController> self(this);
    const std::string folder = current_settings.current_dir.empty() ? std::string("/") : current_settings.current_dir;
    QAction* deleted = menu->addAction(QString::fromUtf8(kDeletedFiles));
    connect(deleted, &QAction::triggered, this, [self, folder] {
        if (self) self->show_deleted_files(folder);
    });
    return menu;
}

std::shared_ptr<VornDeletedFilesViewController> VornFileViewController::show_deleted_files(const std::string& folder) {
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->provider_as_read_write()) {
        present_error(app_error(Err::guardReturnNoFileProvider));
        return nullptr;
    }
    auto sheet = ui::make<VornDeletedFilesViewController>(QPointer<FileViewerSceneDelegate>(window), folder);
    if (!presentViewController(sheet, true)) {
        AMZLogger::shared().log_error("Deleted Files not shown");
        return nullptr;
    }
    return sheet;
}

// ---- rename -----------------------------------------------------------------------------------

std::shared_ptr<ui::AlertController> VornFileViewController::show_rename_alert(
    const std::shared_ptr<VornServerFileDataModel>& entry) {
    if (!entry) return nullptr;
    const std::string word = kind_word(*entry);
    const QString lowered = QString::fromStdString(word).toLower();
    auto alert = ui::AlertController::make(QString::fromStdString("Rename " + word),
                                           QStringLiteral("Enter the new name for this ") + lowered + QLatin1Char('.'));
    const QString name = QString::fromStdString(entry->name.value_or(""));
    alert->addTextField([name](QLineEdit* field) {
        field->setText(name);
        field->selectAll();
    });
    std::weak_ptr<ui::AlertController> weak = alert;
    QPointer<VornFileViewController> self(this);
    alert->addAction(ui::AlertAction::make(QStringLiteral("Rename"), ui::AlertActionStyle::default_, [weak, self, entry] {
        if (!self) return;
        std::string new_name = "Untitled";
        if (auto a = weak.lock(); a && !a->textFields().isEmpty()) new_name = a->textFields().first()->text().toStdString();
        self->rename_remote_item(entry, new_name);
    }));
    alert->addAction(ui::AlertAction::make(QStringLiteral("Cancel"), ui::AlertActionStyle::cancel));
    if (!presentViewController(alert, true)) {
        AMZLogger::shared().log_error("Rename alert not shown");
    }
    return alert;
}

std::string VornFileViewController::renamed_path(const std::string& old_path, const std::string& new_name) {
    std::string path = parent_directory(old_path) + "/" + new_name;
    for (size_t at = path.find("//"); at != std::string::npos; at = path.find("//")) path.erase(at, 1);
    return path;
}

std::optional<VornError> VornFileViewController::check_rename(const VornServerFileDataModel& entry,
                                                              const std::string& new_name) const {
    if (auto bad = FileViewerSceneDelegate::check_new_item_name(new_name)) return bad;
    const auto& listing = current_settings.currentServerReturnInfo;
    if (listing && listing->fileSections) {
        for (const auto& other : *listing->fileSections) {
            if (!other || is_up_one_level(*other) || !other->name) continue;
            if (*other->name == new_name && (!entry.path || other->path != entry.path)) {
                return vorn_error_from(files::FileError::make(files::ErrorKind::alreadyExists));
            }
        }
    }
    return std::nullopt;
}

void VornFileViewController::rename_remote_item(const std::shared_ptr<VornServerFileDataModel>& entry,
                                                const std::string& new_name) {
    if (!entry || !entry->path) return present_error(app_error(Err::no_data));
    if (entry->name && *entry->name == new_name) return;  // nothing to rename
    if (auto bad = check_rename(*entry, new_name)) return present_error(bad);
    FileViewerSceneDelegate* window = file_window();
    auto provider = window ? window->provider_as_read_write() : nullptr;
    if (!provider) return present_error(app_error(Err::guardReturnNoFileProvider));
    // A move renames files and folders alike and never replaces what is already there.
    QPointer<VornFileViewController> self(this);
    // The name as the server has it where the user left it as shown: a byte that is not UTF-8
    // (shown as U+FFFD) stays that byte.
    const std::string new_server_name =
        files::path::renamedKeepingBytes(files::path::lastComponent(*entry->path), new_name);
    const std::string from = *entry->path;
    const std::string to = renamed_path(*entry->path, new_server_name);
    // The open files of the server follow the new name even when this window has gone by then.
    const std::string service_id = window->service ? window->service->id : std::string();
    provider->moveItem(from, to, [self, from, to, service_id](std::optional<files::FileError> error) {
        dispatch::mainQueue().async([self, error, from, to, service_id] {
            if (self && self->file_window()) return self->rename_finished(vorn_error_from(error), from, to);
            if (!error && !service_id.empty()) FileViewerSceneDelegate::item_moved_on_server(service_id, from, to);
        });
    });
}

void VornFileViewController::rename_finished(const std::optional<VornError>& error, const std::string& from,
                                             const std::string& to) {
    if (error) return present_error(error);
    const auto base = VornAppUrlUtility::base_url();
    AMZLogger::shared().log_verbose("URL: " + (base ? base->string() : std::string()));
    FileViewerSceneDelegate* window = file_window();
    // Open files follow their new name: later saves go there, not back to the old name.
    if (window && !from.empty() && !to.empty()) window->remote_item_moved(from, to);
    if (window && window->fileView_controller) window->fileView_controller->refresh_directory_on_main(true);
}

// ---- delete -----------------------------------------------------------------------------------

void VornFileViewController::confirm_delete(const std::shared_ptr<VornServerFileDataModel>& entry) {
    if (!entry) return;
    const std::string word = kind_word(*entry);
    std::string lowered = QString::fromStdString(word).toLower().toStdString();
    const std::string title = "Delete " + word + "?";
    const std::string message = "Are you sure you want to delete this " + lowered + "? This is irreverisble.";
    QPointer<VornFileViewController> self(this);
    VORNPresenterUtility::Presenter presenter(this);
    VORNPresenterUtility::present_on_main(presenter, [self, entry, title, message, presenter](bool ready) {
        VORNPresenterUtility::present_actions_alert(
            ready, title, message,
            {{"Delete", ui::AlertActionStyle::destructive, true}, {"Cancel", ui::AlertActionStyle::cancel, false}},
            [self, entry](bool answer) {
                if (answer && self) self->delete_remote_item(entry);
            },
            presenter);
    });
}

void VornFileViewController::delete_remote_item(const std::shared_ptr<VornServerFileDataModel>& entry) {
    if (!entry || !entry->path) return present_error(app_error(Err::no_data));
    if (is_up_one_level(*entry)) return;  // never the parent folder through its stand-in
    FileViewerSceneDelegate* window = file_window();
    auto provider = window ? window->provider_as_read_write() : nullptr;
    if (!provider) return present_error(app_error(Err::guardReturnNoFileProvider));
    QPointer<VornFileViewController> self(this);
    const std::string path = *entry->path;
    // The open files of the server keep the mark even when this window has gone by then.
    const std::string service_id = window->service ? window->service->id : std::string();
    auto remove = [self, provider, path, service_id] {
        provider->removeItem(path, [self, path, service_id](std::optional<files::FileError> error) {
            dispatch::mainQueue().async([self, error, path, service_id] {
                if (self && self->file_window()) return self->delete_finished(vorn_error_from(error), path);
                if (!error && !service_id.empty()) FileViewerSceneDelegate::item_removed_on_server(service_id, path);
            });
        });
    };
    // A file's copy goes into the server's history first, so a deleted file can be got back
    // (a folder's files are not kept, nor a file larger than the server's whole allowance). A
    // copy that cannot be read or kept is no reason to refuse the delete; the log says so.
    const bool regular = entry->kind == URLFileResourceType::regular;
    const auto limits = VornFileHistory::Limits::from_settings();
    if (!regular || service_id.empty() || entry->size.value_or(0) > limits.max_bytes) return remove();
    provider->contentsAndVersion(path, [remove, service_id, path](std::optional<files::Bytes> data, files::FileVersion,
                                                                 std::optional<files::FileError> error) {
        if (!data) {
            AMZLogger::shared().log_info("history: " + path + " could not be read before its delete" +
                                         (error ? ": " + error->message : std::string()));
            return dispatch::mainQueue().async(remove);
        }
        VornFileHistory::shared().keep(service_id, path, std::move(*data), [remove](std::optional<VornError>, std::filesystem::path) {
            dispatch::mainQueue().async(remove);
        });
    });
}

void VornFileViewController::delete_finished(const std::optional<VornError>& error, const std::string& path) {
    if (error) return present_error(error);
    FileViewerSceneDelegate* window = file_window();
    // Document windows of a file that is gone are told; their saves ask before writing it again.
    if (window && !path.empty()) window->remote_item_removed(path);
    if (window && window->fileView_controller) window->fileView_controller->refresh_directory_on_main(true);
}
