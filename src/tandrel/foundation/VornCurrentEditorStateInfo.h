#pragma once
// A document window's live state.
#include <memory>
#include <optional>
#include <string>

#include "platform/text/TextEncoding.h"
#include "tandrel/foundation/Jsonable.h"

class VornCurrentEditorStateInfo : public Jsonable {
public:
    std::optional<std::string> file_path;
    std::optional<std::string> file_bucket_id;
    std::optional<std::string> service_session_id;
    bool has_changes = false;
    bool preview_supported = false;
    // The file was deleted from its server while open here (not stored): a save asks before it
    // writes the file there again.
    bool removed_from_server = false;
    // The document's encoding, BOM, line endings and declaration, as its session record keeps
    // them (not stored here): the bar shows them, the preview serves the text in them.
    std::optional<textcodec::TextFormat> text_format;
    // Some of the file's bytes do not read as that encoding (not stored): the document is
    // read-only and is not saved until it is reopened in one that holds every byte.
    bool text_lossy = false;
    std::optional<std::size_t> first_bad_offset;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornCurrentEditorStateInfo> from_json(const OrderedJson& j);
};
