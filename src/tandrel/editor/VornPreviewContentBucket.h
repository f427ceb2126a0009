#pragma once
// Content handed from the editor to the preview: the document's MIME type, its text and its type
// (the path extension). Every field is optional and written only when present.
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/Jsonable.h"

class VornPreviewContentBucket : public Jsonable {
public:
    std::optional<std::string> file_mime;
    std::optional<std::string> content;
    std::optional<std::string> file_type;

    OrderedJson to_json() const override;
    // Reads each key when present (a present key must hold text); other keys are ignored.
    // Throws DecodingError for a value that is not an object or a member that is not text.
    static std::shared_ptr<VornPreviewContentBucket> from_json(const OrderedJson& j);
};
