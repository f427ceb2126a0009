#pragma once
// Remote files on their way through the app: a directory listing, one listing entry, and the
// text of one file handed to the editor.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"
#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/Jsonable.h"

// The kind of a file-system entry, written to JSON as its text value.
enum class URLFileResourceType { namedPipe, characterSpecial, directory, blockSpecial, regular, symbolicLink, socket, unknown };
std::string url_file_resource_type_raw(URLFileResourceType t);
std::optional<URLFileResourceType> url_file_resource_type_from_raw(const std::string& raw);

// One entry of a listing. Every field is optional and written only when set.
class VornServerFileDataModel : public Jsonable {
public:
    std::optional<std::string> path;
    std::optional<std::string> name;
    std::optional<URLFileResourceType> kind;
    std::optional<int64_t> size;
    std::optional<Date> creationDate;
    std::optional<Date> modifiedDate;
    std::optional<EnumManager::file_special_assignment> special_assignment;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornServerFileDataModel> from_json(const OrderedJson& j);

    // The entry leading to the parent folder, shown first in a listing.
    static std::shared_ptr<VornServerFileDataModel> up_one_level();
};

// One directory listing as the file explorer shows it.
class VornServerFilesDataModel : public Jsonable {
public:
    VornServerFilesDataModel();  // a new UUID id

    std::string id;
    std::optional<std::vector<std::shared_ptr<VornServerFileDataModel>>> fileSections;
    std::optional<int64_t> fileCount;
    std::optional<float> filePacketSize;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornServerFilesDataModel> from_json(const OrderedJson& j);
};

// The text of one remote file, as handed to the editor.
class VornServerFileContentModel {
public:
    VornServerFileContentModel();  // a new UUID id, empty path and contents, txt

    std::string id;
    std::string path;
    std::string contents;
    EnumManager::editor_file_types file_type = EnumManager::editor_file_types::txt;
    // What the server said of the file as it was read (see VornACEFileSessionsDataModel).
    files::FileVersion server_version;
    // How the file's bytes became `contents` (its encoding, BOM, line endings, declaration), and
    // whether every byte read as that encoding: a file that does not stays read-only.
    textcodec::TextFormat text_format;
    bool lossless = true;
    std::optional<std::size_t> first_bad_offset;
};

// Whether a file's bytes, as the text road read them, are text: bytes that no BOM, declaration
// or UTF-8 names as text and that hold a zero byte are not (an image, an archive).
bool reads_as_text(const textcodec::DecodedText& read, std::string_view bytes);

// The key of a remote file between the browser and the editor: Base64 of the path's UTF-8 bytes.
std::string file_bucket_id_for_path(const std::string& path);

// Builds the content record of a downloaded file: the read's error is passed on; no data gives
// no_data; otherwise the bytes are read as text on the text road (textcodec::decodeText, in
// `chosen_encoding` when given), and the record with id = Base64 of the path holds that text
// and its format. Bytes that are not text (reads_as_text) give not_text: opening an image as
// text, and saving it, would spoil it.
void build_file_content_model(std::optional<std::string> data, const std::optional<VornError>& error,
                              const std::string& file_type, const std::string& path,
                              const std::function<void(std::shared_ptr<VornServerFileContentModel>, std::optional<VornError>)>& completion,
                              const std::optional<std::string>& chosen_encoding = std::nullopt);
