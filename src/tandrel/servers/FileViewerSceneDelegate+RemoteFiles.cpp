// A file-viewer window's writes to its server: new files and folders, and the editor's saves.
#include <nlohmann/json.hpp>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/foundation/VornFileHistory.h"
#include "tandrel/foundation/VornProviderErrors.h"

namespace {

using Err = EnumManager::vorn_error_throws;

VornError app_error(Err::Case c) { return Err(c); }

void deliver(const FileViewerSceneDelegate::ErrorCompletion& completion, std::optional<VornError> error) {
    if (!completion) return;
    dispatch::mainQueue().async([completion, error] { completion(error); });
}

}  // namespace

// ---- names and paths ---------------------------------------------------------------------------

std::optional<VornError> FileViewerSceneDelegate::check_new_item_name(const std::string& name) {
    // The providers refuse these too, but only with a generic "path not valid"; and a name
    // with "/" would otherwise quietly create the item in another folder.
    if (files::path::checkName(name) || !files::path::isValidUtf8(name)) return app_error(Err::invalid_item_name);
    return std::nullopt;
}

std::string FileViewerSceneDelegate::remote_item_path(const std::string& directory, const std::string& name) {
    return files::path::join(directory, name);
}

// ---- new files and folders ---------------------------------------------------------------------

void FileViewerSceneDelegate::create_remote_file(const std::string& name, const std::string& directory,
                                                 ErrorCompletion completion) {
    if (auto bad = check_new_item_name(name)) return deliver(completion, bad);
    auto provider = provider_as_read_write();
    if (!provider) return deliver(completion, app_error(Err::guardReturnNoFileProvider));

    // A new file never replaces one that is there already (the server refuses the name).
    QPointer<FileViewerSceneDelegate> self(this);
    provider->writeContents(remote_item_path(directory, name), std::nullopt, files::WriteMode::createNew,
                            [self, completion](std::optional<files::FileError> error) {
                                auto result = vorn_error_from(error);
                                dispatch::mainQueue().async([self, completion, result] {
                                    if (self) return self->refresh_after_create(result, completion);
                                    if (completion) completion(result);
                                });
                            });
}

void FileViewerSceneDelegate::create_remote_folder(const std::string& name, const std::string& directory,
                                                   ErrorCompletion completion) {
    if (auto bad = check_new_item_name(name)) return deliver(completion, bad);
    auto provider = provider_as_read_write();
    if (!provider) return deliver(completion, app_error(Err::guardReturnNoFileProvider));

    QPointer<FileViewerSceneDelegate> self(this);
    provider->createFolder(name, files::path::normalize(directory),
                           [self, completion](std::optional<files::FileError> error) {
                               auto result = vorn_error_from(error);
                               dispatch::mainQueue().async([self, completion, result] {
                                   if (self) return self->refresh_after_create(result, completion);
                                   if (completion) completion(result);
                               });
                           });
}

void FileViewerSceneDelegate::refresh_after_create(std::optional<VornError> error, ErrorCompletion completion) {
    // The listing is fetched again whatever the server answered: after a refusal it shows what
    // is really there.
    reload_explorer_directory_on_main(true);
    if (completion) completion(error);
}

FileViewerSceneDelegate::RemoteItemCreator FileViewerSceneDelegate::file_creator() {
    return [](VornFileViewerSceneDelegateProtocol& window, const std::string& name, const std::string& directory,
              ErrorCompletion completion) { window.create_remote_file(name, directory, std::move(completion)); };
}

FileViewerSceneDelegate::RemoteItemCreator FileViewerSceneDelegate::folder_creator() {
    return [](VornFileViewerSceneDelegateProtocol& window, const std::string& name, const std::string& directory,
              ErrorCompletion completion) { window.create_remote_folder(name, directory, std::move(completion)); };
}

// ---- the editor's saves --------------------------------------------------------------------------

// A failed save's text: what became of the user's work first, then the server's reason.
std::string FileViewerSceneDelegate::not_saved_message(const files::FileError& error) {
    std::string text = error.targetIncomplete ? "The server's copy is now incomplete and must be saved again. "
                       : error.targetUnchanged ? "The file was not saved; the server's copy is unchanged. "
                                               : "The file was not saved. ";
    return text + error.message;
}

void FileViewerSceneDelegate::write_file_text_checked(const std::string& path, std::string text, files::WriteMode mode,
                                                      std::optional<files::FileVersion> expected,
                                                      VersionedWriteCompletion written,
                                                      std::optional<std::string> replaced) {
    auto provider = provider_as_read_write();
    if (!provider) {
        if (written) {
            dispatch::mainQueue().async([written] { written(std::nullopt, app_error(Err::guardReturnNoFileProvider)); });
        }
        return;
    }
    // The text moves into the provider uncopied.
    QPointer<FileViewerSceneDelegate> self(this);
    auto pending = std::make_shared<std::string>(std::move(text));
    auto write = [self, provider, path, mode, expected = std::move(expected), written, pending](
                     std::filesystem::path kept) mutable {
        const auto size = static_cast<int64_t>(pending->size());
        provider->writeContents(path, std::move(*pending), mode, std::move(expected),
                                [self, written, path, size, kept](std::optional<files::FileVersion> version,
                                                                  std::optional<files::FileError> error) {
                                    // A write that left the server's copy as it was replaced
                                    // nothing: the copy kept for it leaves the history again.
                                    if (error && !error->targetIncomplete &&
                                        (error->targetUnchanged || error->kind == files::ErrorKind::changedOnServer ||
                                         error->kind == files::ErrorKind::notFound)) {
                                        VornFileHistory::shared().forget(kept);
                                    }
                                    auto result = vorn_error_from(error);
                                    if (result) result->message = not_saved_message(*error);
                                    // Told of a refused server or not, the user learns here that
                                    // the file was not saved.
                                    if (result) result->told = false;
                                    // A write cut while it went to the file itself comes with what
                                    // the server told of the part it holds, for the next save to
                                    // check.
                                    dispatch::mainQueue().async([self, written, version = std::move(version), result,
                                                                 path, size] {
                                        // The rows on screen are redrawn (their open-file marks),
                                        // and the file's row shows what was written: a file the
                                        // save made again is listed, a grown one with its new size.
                                        if (!result && self && self->fileView_controller) {
                                            self->fileView_controller->reload_visible_sections_on_main();
                                            self->remote_file_written(path, size);
                                        }
                                        if (!result && self) emit self->remoteFileWritten(QByteArray::fromStdString(path));
                                        if (written) written(version, result);
                                    });
                                });
    };
    // The server's copy this write replaces goes into the history first: a checked replace
    // whose caller knows that copy's bytes. The write starts once the copy is on disk (or could
    // not be kept: the history is no reason to refuse a save; its log says so).
    if (replaced && expected && mode == files::WriteMode::replace && service) {
        VornFileHistory::shared().keep(service->id, path, std::move(*replaced),
                                       [write = std::move(write)](std::optional<VornError>, std::filesystem::path kept) mutable {
                                           dispatch::mainQueue().async(
                                               [write = std::move(write), kept = std::move(kept)]() mutable { write(kept); });
                                       });
        return;
    }
    write({});
}
