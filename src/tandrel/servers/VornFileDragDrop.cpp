#include "tandrel/servers/VornFileDragDrop.h"

#include <QFile>
#include <QFileInfo>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/foundation/VornProviderErrors.h"

namespace {

using Err = EnumManager::vorn_error_throws;

VornError app_error(Err::Case c) { return Err(c); }

void present(const VornFileDragDrop::Screen& screen, const std::optional<VornError>& error) {
    if (error) VORNPresenterUtility::present_error(screen.data(), error, "OK");
}

FileViewerSceneDelegate* window_of(const VornFileDragDrop::Screen& screen) {
    if (!screen) return nullptr;
    return qobject_cast<FileViewerSceneDelegate*>(screen->scene_file_delegatex.data());
}

VornError read_error(const QFile& file) {
    return VornError::fileReadUnknown("The file \"" + QFileInfo(file).fileName().toStdString() +
                                     "\" couldn't be opened: " + file.errorString().toStdString());
}

}  // namespace

// ---- dropped items ---------------------------------------------------------------------------

bool VornDropItemProvider::hasItemConformingTo(const std::string& identifier) const {
    if (identifier == UTType::directory().identifier) return false;
    if (anyFileType) return true;
    for (const auto& own : registeredTypeIdentifiers) {
        if (own == identifier) return true;
    }
    return identifier == UTType::data().identifier;
}

void VornDropItemProvider::loadDataRepresentation(const Loaded& loaded) const {
    if (!loader) return loaded(std::nullopt, std::nullopt);
    loader(loaded);
}

std::shared_ptr<VornDropItemProvider> VornDropItemProvider::for_local_file(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) return nullptr;
    auto item = std::make_shared<VornDropItemProvider>();
    item->suggestedName = info.fileName().toStdString();
    const auto type = ut_type_for_url(info.fileName().toStdString());
    item->registeredTypeIdentifiers = {type ? type->identifier : UTType::data().identifier};
    item->anyFileType = true;
    item->loader = [path](const Loaded& loaded) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return loaded(std::nullopt, read_error(file));
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) return loaded(std::nullopt, read_error(file));
        loaded(std::string(bytes.constData(), static_cast<size_t>(bytes.size())), std::nullopt);
    };
    return item;
}

std::shared_ptr<VornDropItemProvider> VornDropItemProvider::for_bytes(std::string bytes, std::string identifier) {
    auto item = std::make_shared<VornDropItemProvider>();
    item->registeredTypeIdentifiers = {std::move(identifier)};
    auto shared = std::make_shared<const std::string>(std::move(bytes));
    item->loader = [shared](const Loaded& loaded) { loaded(*shared, std::nullopt); };
    return item;
}

std::vector<std::shared_ptr<VornDropItemProvider>> VornDropItemProvider::items_of(const QMimeData& data) {
    std::vector<std::shared_ptr<VornDropItemProvider>> items;
    if (data.hasFormat(QLatin1String(kRemoteFileFormat))) return items;  // a file of the server itself
    if (data.hasUrls()) {
        for (const QUrl& url : data.urls()) {
            if (!url.isLocalFile()) continue;
            if (auto item = for_local_file(url.toLocalFile())) {
                items.push_back(std::move(item));
            } else {
                AMZLogger::shared().log_info("drop: skipped " + url.toLocalFile().toStdString() + " (a folder or missing)");
            }
        }
        return items;
    }
    if (data.hasHtml()) {
        items.push_back(for_bytes(data.html().toStdString(), "text/html"));
    } else if (data.hasText()) {
        items.push_back(for_bytes(data.text().toStdString(), "text/plain"));
    }
    return items;
}

// ---- drop -------------------------------------------------------------------------------------

int VornFileDragDrop::perform_file_drop(Screen screen, const QMimeData& data) {
    return perform_file_drop(std::move(screen), VornDropItemProvider::items_of(data));
}

int VornFileDragDrop::perform_file_drop(Screen screen, const std::vector<std::shared_ptr<VornDropItemProvider>>& items) {
    int started = 0;
    for (const auto& item : items) {
        auto bucket = make_drop_bucket(item);
        if (bucket && upload_dropped_items(screen, *bucket)) ++started;
    }
    return started;
}

std::optional<DropItemBucket> VornFileDragDrop::make_drop_bucket(const std::shared_ptr<VornDropItemProvider>& item) {
    if (!item || item->registeredTypeIdentifiers.empty()) return std::nullopt;
    DropItemBucket bucket;
    bucket.ib_item = item;
    bucket.ib_fileTypeIdentifier = item->registeredTypeIdentifiers.front();
    const std::string name =
        item->suggestedName && !item->suggestedName->empty() ? *item->suggestedName : DropItemBucket::kDefaultFileName;
    bucket.ib_fileName = name;
    bucket.ib_fileNameURLEncoded = files::path::encodeComponent(name);
    const QUrl url(QString::fromStdString(*bucket.ib_fileNameURLEncoded), QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    bucket.ib_fileNameAsURL = url;
    bucket.ib_fileType = ut_type_for_url(url).value_or(UTType::item());
    return bucket;
}

bool VornFileDragDrop::upload_dropped_items(Screen screen, const DropItemBucket& bucket) {
    if (!bucket.ib_item || !bucket.ib_fileType || !bucket.ib_fileName) return false;
    auto item = bucket.ib_item;
    if (!item->hasItemConformingTo(bucket.ib_fileType->identifier)) return false;
    item->suggestedName = bucket.ib_fileName;
    const std::string name = *bucket.ib_fileName;
    // Each item loads and uploads on its own; nothing waits for the others.
    dispatch::globalQueue(dispatch::QoS::background).async([screen, item, name] {
        item->loadDataRepresentation([screen, name](std::optional<std::string> data, std::optional<VornError> error) {
            dispatch::globalQueue(dispatch::QoS::background).async([screen, name, data = std::move(data), error]() mutable {
                upload_dropped_data(screen, error, std::move(data), name);
            });
        });
    });
    return true;
}

void VornFileDragDrop::upload_dropped_data(Screen screen, std::optional<VornError> error,
                                           std::optional<std::string> data, const std::string& name) {
    if (error) return present(screen, error);
    if (!data) return present(screen, app_error(Err::no_doc_int_manager));
    // The window's connection is read on the main queue, where it changes.
    auto bytes = std::make_shared<std::string>(std::move(*data));
    dispatch::mainQueue().async([screen, bytes, name] {
        FileViewerSceneDelegate* window = window_of(screen);
        auto provider = window ? window->provider_as_read_write() : nullptr;
        if (!window || !provider || !window->my_session_info->current_dir) {
            return present(screen, app_error(Err::guardReturnNoFileProvider));
        }
        if (auto bad = FileViewerSceneDelegate::check_new_item_name(name)) return present(screen, bad);
        const std::string path = FileViewerSceneDelegate::remote_item_path(*window->my_session_info->current_dir, name);
        QPointer<FileViewerSceneDelegate> weak_window(window);
        // Never over what is there: a name that is taken is refused and the old bytes stay.
        provider->writeContents(path, std::move(*bytes), files::WriteMode::createNew,
                                [screen, weak_window](std::optional<files::FileError> failure) {
                                    auto result = vorn_error_from(failure);
                                    dispatch::mainQueue().async([screen, weak_window, result] {
                                        if (result) return present(screen, result);
                                        if (weak_window) weak_window->reload_explorer_directory_on_main(true);
                                    });
                                });
    });
}

// ---- drag out ---------------------------------------------------------------------------------

QMimeData* VornFileDragDrop::drag_items_for_row(Screen screen, int row) {
    FileViewerSceneDelegate* window = window_of(screen);
    auto provider = window ? window->provider_as_read_write() : nullptr;
    if (!provider) return nullptr;
    auto listing = window->explorer_listing();
    if (!listing || !listing->fileSections || row < 0 || row >= static_cast<int>(listing->fileSections->size())) {
        return nullptr;
    }
    return make_drag_item(provider, (*listing->fileSections)[static_cast<size_t>(row)]);
}

QMimeData* VornFileDragDrop::make_drag_item(const std::shared_ptr<files::FileProvider>& provider,
                                            const std::shared_ptr<VornServerFileDataModel>& entry) {
    if (!provider || !entry || !entry->path) return nullptr;
    if (entry->kind == URLFileResourceType::directory) return nullptr;
    if (entry->special_assignment == EnumManager::file_special_assignment::up_one_level) return nullptr;
    const auto type = ut_type_for_url(*entry->path);
    if (!type) return nullptr;
    const std::string mime = type->preferredMIMEType.empty() ? "application/octet-stream" : type->preferredMIMEType;
    auto* data = new VornDraggedFileMimeData(*entry->path, mime);
    QPointer<VornDraggedFileMimeData> target(data);
    read_dragged_file(provider, *entry->path, [target](std::optional<std::string> bytes, std::optional<VornError> error) {
        dispatch::mainQueue().async([target, bytes = std::move(bytes), error]() mutable {
            if (target) target->set_loaded(std::move(bytes), error);
        });
    });
    return data;
}

void VornFileDragDrop::read_dragged_file(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                                         BytesCompletion completion) {
    if (!provider) return completion(std::nullopt, app_error(Err::guardReturnNoFileProvider));
    // The bytes as they are on the server: any file type, over either protocol.
    provider->contents(path, [completion](std::optional<files::Bytes> data, std::optional<files::FileError> error) {
        if (error) return completion(std::nullopt, vorn_error_from(*error));
        if (!data) return completion(std::nullopt, app_error(Err::load_url_fail));
        completion(std::move(data), std::nullopt);
    });
}

// ---- the dragged file's data ----------------------------------------------------------------

VornDraggedFileMimeData::VornDraggedFileMimeData(std::string path, std::string mime_type)
    : path_(std::move(path)), mime_type_(std::move(mime_type)) {}

QStringList VornDraggedFileMimeData::formats() const {
    return {QString::fromStdString(mime_type_), QLatin1String(VornDropItemProvider::kRemoteFileFormat)};
}

bool VornDraggedFileMimeData::hasFormat(const QString& mimetype) const { return formats().contains(mimetype); }

QVariant VornDraggedFileMimeData::retrieveData(const QString& mimetype, QMetaType) const {
    if (mimetype == QLatin1String(VornDropItemProvider::kRemoteFileFormat)) {
        return QByteArray::fromStdString(path_);
    }
    if (mimetype != QString::fromStdString(mime_type_) || !bytes_) return {};
    return QByteArray(bytes_->data(), static_cast<qsizetype>(bytes_->size()));
}

void VornDraggedFileMimeData::set_loaded(std::optional<std::string> bytes, std::optional<VornError> error) {
    bytes_ = std::move(bytes);
    error_ = std::move(error);
    if (error_) AMZLogger::shared().log_error("drag out of " + path_ + ": " + error_->text());
    emit loaded();
}
