#pragma once
// Reading and writing the JSON files of the app's stores: lenient about absence, strict about
// content, atomic on write, and never losing a file that could not be read.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tandrel/foundation/Jsonable.h"

namespace json_store {

using URL = std::optional<std::filesystem::path>;

// Reads and decodes the file at `url` with `decode` (which may throw DecodingError).
// Returns false, touching nothing, when there is no URL, no file or an empty file. Otherwise
// returns true; on a read or decode failure `error` is set and the file is copied aside
// (the copy's path in `kept_copy`), so a later save cannot overwrite what the user had.
bool read(const URL& url, const std::function<void(const OrderedJson&)>& decode, std::optional<VornError>& error,
          std::optional<std::filesystem::path>& kept_copy);

// Writes the record's JSON text atomically; the error when there is no URL, the record cannot
// be encoded or the write fails.
std::optional<VornError> write(const URL& url, const Jsonable& record);
// The same for a record already in its JSON form.
std::optional<VornError> write_value(const URL& url, const OrderedJson& value);

std::string url_text(const URL& url);

}  // namespace json_store
