#include "tandrel/foundation/JsonStoreFile.h"

#include "platform/defaults/AtomicFile.h"

namespace json_store {

bool read(const URL& url, const std::function<void(const OrderedJson&)>& decode, std::optional<VornError>& error,
          std::optional<std::filesystem::path>& kept_copy) {
    error.reset();
    kept_copy.reset();
    if (!url) return false;
    auto bytes = defaults::readWholeFile(*url);
    if (!bytes || bytes->empty()) return false;
    auto parsed = jsonable::parse(*bytes);
    if (!parsed) {
        error = parsed.error();
    } else {
        try {
            decode(*parsed);
            return true;
        } catch (const DecodingError& e) {
            error = e.toError();
        }
    }
    kept_copy = defaults::keepAside(*url);
    return true;
}

std::optional<VornError> write_value(const URL& url, const OrderedJson& value) {
    if (!url) return make_error(jsonable_error::url_missing);
    auto text = jsonable::toJsonString(value);
    if (!text) return text.error();
    if (auto failed = defaults::writeFileAtomically(*url, *text)) return VornError{"FileError", 2, *failed, "writeFailed"};
    return std::nullopt;
}

std::optional<VornError> write(const URL& url, const Jsonable& record) {
    if (!url) return make_error(jsonable_error::url_missing);
    auto text = record.toJsonString();
    if (!text) return text.error();
    if (auto failed = defaults::writeFileAtomically(*url, *text)) return VornError{"FileError", 2, *failed, "writeFailed"};
    return std::nullopt;
}

std::string url_text(const URL& url) { return url ? "file://" + url->string() : std::string("nil"); }

}  // namespace json_store
