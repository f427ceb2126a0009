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

namespace {
// Writes the encoded text atomically, or answers why it cannot.
template <class Encode>
std::optional<VornError> write_encoded(const URL& url, const Encode& encode) {
    if (!url) return make_error(jsonable_error::url_missing);
    auto text = encode();
    if (!text) return text.error();
    if (auto failed = defaults::writeFileAtomically(*url, *text)) return VornError{"FileError", 2, *failed, "writeFailed"};
    return std::nullopt;
}
}  // namespace

std::optional<VornError> write_value(const URL& url, const OrderedJson& value) {
    return write_encoded(url, [&] { return jsonable::toJsonString(value); });
}

std::optional<VornError> write(const URL& url, const Jsonable& record) {
    return write_encoded(url, [&] { return record.toJsonString(); });
}

std::string url_text(const URL& url) { return url ? "file://" + url->string() : std::string("nil"); }

}  // namespace json_store
