#pragma once
// Drag and drop on the file explorer's table: files dropped onto it are uploaded into the
// current remote folder, one independent upload per item, and a remote file dragged out of it
// hands over its bytes. The explorer screen calls these from its table's drop and drag handling;
// `screen` is that screen (errors are shown on it, and its window is the connection used).
#include <QMimeData>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/VornError.h"
#include "tandrel/servers/DropItemBucket.h"

class VornFileServerViewController;
class VornServerFileDataModel;
namespace files { class FileProvider; }

class VornFileDragDrop {
public:
    using Screen = QPointer<VornFileServerViewController>;
    using BytesCompletion = std::function<void(std::optional<std::string> data, std::optional<VornError> error)>;

    // ---- drop -----------------------------------------------------------------------------
    // Starts one upload per item of the drop; returns how many started. Items without a type,
    // or whose name cannot be made a URL, are skipped.
    static int perform_file_drop(Screen screen, const QMimeData& data);
    static int perform_file_drop(Screen screen, const std::vector<std::shared_ptr<VornDropItemProvider>>& items);
    // The record of one item (nothing when the item is skipped).
    static std::optional<DropItemBucket> make_drop_bucket(const std::shared_ptr<VornDropItemProvider>& item);
    // Loads the item's bytes on a background queue, then uploads them; false when the item
    // cannot give its bytes as its type (skipped without a message).
    static bool upload_dropped_items(Screen screen, const DropItemBucket& bucket);
    // A loading error, or no data, is shown on the screen; otherwise the bytes are written to
    // "<current folder>/<name>" on the window's server, never over an existing item ("already
    // exists" is shown and the item stays as it was). Success reloads the explorer's folder.
    static void upload_dropped_data(Screen screen, std::optional<VornError> error, std::optional<std::string> data,
                                    const std::string& name);

    // ---- drag out ---------------------------------------------------------------------------
    // The data of a drag of the explorer's row (nothing outside the listing, for an entry
    // without a path or a folder, or without a connection). Its bytes are read from the server
    // in the background as the drag starts; the drop target gets them once they are there.
    static QMimeData* drag_items_for_row(Screen screen, int row);
    static QMimeData* make_drag_item(const std::shared_ptr<files::FileProvider>& provider,
                                     const std::shared_ptr<VornServerFileDataModel>& entry);
    // The raw bytes of a remote file (FTP or WebDAV), on the provider's thread.
    static void read_dragged_file(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                                  BytesCompletion completion);
};

// The data of a remote file dragged out of the explorer: the file's MIME type (and
// kRemoteFileFormat), with the bytes once they have arrived. Until then, or when the read
// failed, it offers no bytes rather than an empty copy.
class VornDraggedFileMimeData : public QMimeData {
    Q_OBJECT
public:
    VornDraggedFileMimeData(std::string path, std::string mime_type);

    const std::string& path() const { return path_; }
    const std::string& mimeType() const { return mime_type_; }
    bool isLoaded() const { return bytes_.has_value(); }
    const std::optional<VornError>& loadError() const { return error_; }

    QStringList formats() const override;
    bool hasFormat(const QString& mimetype) const override;

    // Called on the main queue by the read.
    void set_loaded(std::optional<std::string> bytes, std::optional<VornError> error);

signals:
    void loaded();

protected:
    QVariant retrieveData(const QString& mimetype, QMetaType preferredType) const override;

private:
    std::string path_;
    std::string mime_type_;
    std::optional<std::string> bytes_;
    std::optional<VornError> error_;
};
