#pragma once
// A document window's live state.
#include <memory>
#include <optional>
#include <string>

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

    OrderedJson to_json() const override;
    static std::shared_ptr<VornCurrentEditorStateInfo> from_json(const OrderedJson& j);
};
