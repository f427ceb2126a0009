#pragma once
// Whole-file writes that never leave a half-written file behind, and a way to keep a file that
// could not be read out of the way of later writes.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace defaults {

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`. Returns an error text, or nothing on success. On failure `path` is untouched.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Copies an unreadable file to "<name>.bad-<UTC time>" beside it (a numbered suffix when that
// name is taken) and returns the copy's path; nothing when the file is missing or the copy fails.
std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path);

// Reads a whole file; nothing when it cannot be opened.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace defaults
