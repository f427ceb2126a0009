#pragma once
// Files dropped onto the file explorer, on their way to the server: the item as the desktop
// hands it over (a name and a way to load its bytes) and the record of one item being prepared.
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornError.h"

class QMimeData;
namespace files { class FileProvider; }

// One dropped item: its suggested name, the types it says it has, and its bytes on request.
class VornDropItemProvider {
public:
    using Loaded = std::function<void(std::optional<std::string> data, std::optional<VornError> error)>;

    std::optional<std::string> suggestedName;
    std::vector<std::string> registeredTypeIdentifiers;
    // Reads the bytes on the calling thread (a background one) and hands them over once.
    std::function<void(const Loaded&)> loader;
    // A local file can give its bytes as any file type; dropped text only as data.
    bool anyFileType = false;

    bool hasItemConformingTo(const std::string& identifier) const;
    // Loads on the calling thread; no loader gives no data and no error.
    void loadDataRepresentation(const Loaded& loaded) const;

    // A local file (nothing for a folder or an unreadable path).
    static std::shared_ptr<VornDropItemProvider> for_local_file(const QString& path);
    // Bytes in memory, without a name (dropped text).
    static std::shared_ptr<VornDropItemProvider> for_bytes(std::string bytes, std::string identifier);
    // The items of a desktop drop: each local file, or else the dropped HTML or text as one
    // item. A drag that started in a file explorer (format kRemoteFileFormat) gives none.
    static std::vector<std::shared_ptr<VornDropItemProvider>> items_of(const QMimeData& data);

    // Marks the data of a drag out of a file explorer.
    static constexpr const char* kRemoteFileFormat = "application/x-dravix-remote-file";
};

// One dropped item while it is being prepared for its upload.
class DropItemBucket {
public:
    std::shared_ptr<VornDropItemProvider> ib_item;
    std::optional<std::string> ib_fileName;            // the name it is uploaded under
    std::optional<std::string> ib_fileNameURLEncoded;  // that name percent-encoded (RFC 3986 unreserved kept)
    std::optional<QUrl> ib_fileNameAsURL;              // a URL made from the encoded name
    std::optional<std::string> ib_fileTypeIdentifier;  // the item's first type identifier
    std::optional<UTType> ib_fileType;                 // the type of the name, or the generic item
    std::shared_ptr<files::FileProvider> provider;     // never set by the drop flow

    // The name used when the item suggests none.
    static constexpr const char* kDefaultFileName = "Untitled.html";
};
