#include "tandrel/editor/VornPreviewContentBucket.h"

OrderedJson VornPreviewContentBucket::to_json() const {
    OrderedJson j = OrderedJson::object();
    if (file_mime) j["file_mime"] = *file_mime;
    if (content) j["content"] = *content;
    if (file_type) j["file_type"] = *file_type;
    return j;
}

std::shared_ptr<VornPreviewContentBucket> VornPreviewContentBucket::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornPreviewContentBucket");
    auto bucket = std::make_shared<VornPreviewContentBucket>();
    auto text = [&](const char* key) -> std::optional<std::string> {
        auto it = j.find(key);
        if (it == j.end()) return std::nullopt;
        if (!it->is_string()) throw DecodingError(std::string("Expected to decode String for key ") + key);
        return it->get<std::string>();
    };
    bucket->file_mime = text("file_mime");
    bucket->content = text("content");
    bucket->file_type = text("file_type");
    return bucket;
}
