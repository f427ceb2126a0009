// The editor connector and a save that meets another change: the server's copy changed since the
// document's base (the copy the editor's text was edited from), so the checked write wrote
// nothing. Before it asks, the connector reads the server's copy (its bytes and version, off the
// GUI thread), reads it as text in the base's format and merges three ways (base, the editor's
// text, the server's text, with libgit2's file merge). "File Changed" then offers Cancel and
// Overwrite, and "Merge" when no change of one side overlapped one of the other. "Merge" puts the
// merged text into the page as one edit the user can undo and saves it at once, checked against
// the server's copy that was merged: a third change made meanwhile asks again. "Overwrite" writes
// over the copy the user was asked about, checked in the same way, so that copy is the one the
// history keeps. Nothing is written before the user chose. A copy that cannot be read or merged
// (gone: the question of a deleted file; unreadable, or not text in the base's format; a document
// without a base) is asked about as before, without "Merge". A copy from the file's history comes
// back into the page the same way as a merge, as one edit (restore_text).
#include <utility>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/AlertController.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornCompareViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornDocumentBase.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

using Err = EnumManager::vorn_error_throws;
using editor_support::app_error;

bool VornEditorJSConnector::ask_about_server_copy(const std::string& file_id, const VornError& error,
                                                  SaveCompletion completion, std::shared_ptr<const std::string> editor_text) {
    auto* h = hub();
    if (!h) return false;
    if (is_file_error(error, files::ErrorKind::notFound)) {
        // Gone from the server: asked as for a file deleted in the server window.
        h->current_editor_info().removed_from_server = true;
        write_page_session(file_id, std::move(completion));
        return true;
    }
    const bool made_again = is_file_error(error, files::ErrorKind::alreadyExists);
    if (!made_again && !is_file_error(error, files::ErrorKind::changedOnServer)) return false;
    auto record = find_file_session(file_id);
    if (made_again) {
        // Somebody made the deleted file anew: it is no longer deleted, and theirs is not
        // overwritten unasked.
        h->current_editor_info().removed_from_server = false;
        if (record && record->removed_from_server) {
            record->removed_from_server = false;
            if (auto* viewer = file_viewer()) viewer->save_service_session();
        }
    }
    const std::string name = record ? files::path::forDisplay(files::path::lastComponent(record->file_path))
                                    : std::string("This file");
    const std::string message =
        "\u201C" + name + (made_again ? "\u201D was made again on the server since it was deleted there."
                                      : "\u201D changed on the server since you opened it.");
    if (made_again || !record) {
        ask_changed_on_server(file_id, message, std::nullopt, std::move(completion));
        return true;
    }
    QPointer<VornEditorJSConnector> self(this);
    merge_with_server_copy(file_id, std::move(editor_text),
                           [self, file_id, message, completion](std::optional<ServerCopyMerge> merged, bool gone) {
                               if (!self) {
                                   if (completion) completion(false, std::nullopt);
                                   return;
                               }
                               if (gone) {
                                   // Deleted meanwhile: the question of a deleted file.
                                   if (auto* hh = self->hub()) hh->current_editor_info().removed_from_server = true;
                                   return self->write_page_session(file_id, completion);
                               }
                               self->ask_changed_on_server(file_id, message, std::move(merged), completion);
                           });
    return true;
}

void VornEditorJSConnector::merge_with_server_copy(const std::string& file_id, std::shared_ptr<const std::string> editor_text,
                                                   std::function<void(std::optional<ServerCopyMerge>, bool gone)> done) {
    auto record = find_file_session(file_id);
    auto* viewer = file_viewer();
    auto provider = viewer ? viewer->provider_as_read_write() : nullptr;
    if (!record || !provider) {
        dispatch::mainQueue().async([done] { done(std::nullopt, false); });
        return;
    }
    // Without a base (a record of the sessions file alone) or the text the save wrote, the copy
    // is read for Overwrite only.
    auto base = editor_text ? record->base : nullptr;
    const std::string path = record->file_path;
    provider->contentsAndVersion(path, [base, path, editor_text, done](std::optional<files::Bytes> data,
                                                                      files::FileVersion version,
                                                                      std::optional<files::FileError> error) {
        if (error || !data) {
            const bool gone = error && error->kind == files::ErrorKind::notFound;
            if (error) AMZLogger::shared().log_info("the server's copy of " + path + " could not be read to merge: " + error->message);
            dispatch::mainQueue().async([done, gone] { done(std::nullopt, gone); });
            return;
        }
        // Read and merged off the GUI thread and off the connection's worker: a merge of a large
        // file takes time.
        dispatch::globalQueue(dispatch::QoS::userInitiated)
            .async([base, path, editor_text, done, data = std::move(data), version = std::move(version)]() mutable {
                ServerCopyMerge merged;
                merged.version = version;
                merged.editor_text = editor_text;
                if (base) {
                    // The server's copy is read in the base's format: the format both sides began from.
                    auto read = textcodec::decodeText(*data, path, base->format.encoding);
                    if (read.lossless) {
                        merged.merge = textmerge::mergeThreeWay(base->text, *editor_text, read.utf8);
                        merged.copy = std::make_shared<const VornDocumentBase>(
                            VornDocumentBase{std::move(read.utf8), read.format, std::move(version)});
                        if (!merged.merge.failure.empty()) {
                            AMZLogger::shared().log_info("no merge for " + path + ": " + merged.merge.failure);
                        }
                    }
                }
                merged.bytes = std::move(*data);
                dispatch::mainQueue().async([done, merged = std::move(merged)]() mutable { done(std::move(merged), false); });
            });
    });
}

void VornEditorJSConnector::ask_changed_on_server(const std::string& file_id, const std::string& message,
                                                  std::optional<ServerCopyMerge> merged, SaveCompletion completion) {
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    if (!presenter) {
        // Nobody to ask: the other change is not overwritten unasked.
        if (completion) completion(false, VornError::cocoa(4, message + " It was not saved.", "changed_on_server"));
        return;
    }
    // The answer runs once: whichever button, or none when the question could not be shown.
    auto answered = std::make_shared<bool>(false);
    auto once = [answered, completion](bool written, std::optional<VornError> e) {
        if (std::exchange(*answered, true)) return;
        if (completion) completion(written, e);
    };
    QPointer<VornEditorJSConnector> self(this);
    auto cancel = [once] {
        // "Cancel": nothing written, the edit stays in the window, unsaved.
        once(false, std::nullopt);
    };
    std::shared_ptr<const ReadServerCopy> shown;
    if (merged) shown = std::make_shared<const ReadServerCopy>(ReadServerCopy{merged->version, merged->bytes});
    auto overwrite = [self, file_id, once, shown] {
        if (!self) return once(false, std::nullopt);
        // "Overwrite": the page's text is written over the copy the user was asked about (a
        // change made since asks again); unread, over whatever the server has now.
        self->overwrite_consented_ = true;
        if (shown) self->overwrite_over_ = *shown;
        self->write_page_session(file_id, [self, once](bool written, std::optional<VornError> e) {
            if (self) self->overwrite_consented_ = false;
            once(written, e);
        });
    };
    auto alert = ui::AlertController::make(QString::fromUtf8(kChangedTitle), QString::fromStdString(message));
    if (merged && merged->copy && merged->merge.clean) {
        auto copy = merged->copy;
        auto text = std::make_shared<std::string>(merged->merge.text);
        alert->addAction(ui::AlertAction::make(QStringLiteral("Merge"), ui::AlertActionStyle::default_,
                                               [self, file_id, copy, text, once] {
                                                   if (!self) return once(false, std::nullopt);
                                                   self->save_merged_text(file_id, copy, std::move(*text), once);
                                               }));
    }
    if (merged && merged->copy) {
        // "Compare…": the server's text beside the merge, to take from either side and decide the
        // conflicts; its Save goes the way of Merge.
        auto copy = merged->copy;
        auto mine = merged->editor_text;
        auto start = std::make_shared<std::string>(merged->merge.text.empty() && mine ? *mine : merged->merge.text);
        alert->addAction(ui::AlertAction::make(QString::fromUtf8(kCompareAnswer), ui::AlertActionStyle::default_,
                                               [self, file_id, copy, mine, start, once] {
                                                   if (!self) return once(false, std::nullopt);
                                                   // Without the editor's text, the start stands for it.
                                                   std::string editor_text = mine ? *mine : *start;
                                                   self->compare_with_server_copy(file_id, copy, std::move(editor_text),
                                                                                  std::move(*start), once);
                                               }));
    }
    alert->addAction(ui::AlertAction::make(QStringLiteral("Overwrite"), ui::AlertActionStyle::destructive, overwrite));
    alert->addAction(ui::AlertAction::make(QStringLiteral("Cancel"), ui::AlertActionStyle::cancel, cancel));
    VORNPresenterUtility::present_on_main(presenter, [presenter, alert, once](bool ready) {
        // Not shown (the window went, or shows another sheet): nothing is written unasked.
        if (!ready || !presenter || !presenter->presentViewController(alert, true)) once(false, std::nullopt);
    });
}

void VornEditorJSConnector::save_merged_text(const std::string& file_id, std::shared_ptr<const VornDocumentBase> server_copy,
                                             std::string merged, SaveCompletion completion) {
    auto record = find_file_session(file_id);
    if (!record || !server_copy) {
        if (completion) completion(false, app_error(Err::cannot_save_ace_file_session));
        return;
    }
    QPointer<VornEditorJSConnector> self(this);
    put_text_in_page(file_id, std::move(merged), [self, file_id, record, server_copy, completion](std::optional<VornError> e) {
        if (!self || e) {
            if (completion) completion(false, e);
            return;
        }
        // The editor's text holds the server's changes now: the copy merged with is the one the
        // text was edited from, and the one the save checks (a change made since asks again).
        // Not before: a page that did not take the text would be saved over that copy unasked.
        record->server_version = server_copy->version;
        record->base = server_copy;
        AMZLogger::shared().log_info("merged the server's changes into " + record->file_path);
        self->write_page_session(file_id, completion);
    });
}

void VornEditorJSConnector::restore_text(const std::string& file_id, std::string text) {
    QPointer<VornEditorJSConnector> self(this);
    put_text_in_page(file_id, std::move(text), [self](std::optional<VornError> e) {
        if (self) self->report_error(e);
    });
}

void VornEditorJSConnector::put_text_in_page(const std::string& file_id, std::string text,
                                             std::function<void(std::optional<VornError>)> done) {
    run_editor_js(editor_script::set_text(file_id, text), [done](nlohmann::json reply, std::optional<VornError> e) {
        if (!e && !(reply.is_boolean() && reply.get<bool>())) e = app_error(Err::no_data);
        done(e);
    });
}

void VornEditorJSConnector::compare_with_server_copy(const std::string& file_id,
                                                     std::shared_ptr<const VornDocumentBase> server_copy,
                                                     std::string editor_text, std::string start,
                                                     SaveCompletion completion) {
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    auto record = find_file_session(file_id);
    if (!presenter || !record || !server_copy) {
        if (completion) completion(false, std::nullopt);
        return;
    }
    QPointer<VornEditorJSConnector> self(this);
    auto sheet = ui::make<VornCompareViewController>(
        files::path::forDisplay(files::path::lastComponent(record->file_path)), server_copy->text,
        std::move(editor_text), std::move(start), record->ace_language,
        [self, file_id, server_copy, completion](std::optional<std::string> result) {
            // "Cancel" (or a sheet that went): nothing written, the edit stays in the window.
            if (!self || !result) {
                if (completion) completion(false, std::nullopt);
                return;
            }
            self->save_merged_text(file_id, server_copy, std::move(*result), completion);
        });
    // The sheet waits for the question to go: one sheet at a time over a screen.
    VORNPresenterUtility::present_on_main(presenter, [presenter, sheet](bool ready) {
        if (!ready || !presenter || !presenter->presentViewController(sheet, true)) sheet->cancel();
    });
}
