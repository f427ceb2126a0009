#pragma once
// Whole-file writes that never leave a half-written file behind, and a way to keep a file that
// could not be read out of the way of later writes. What the app writes (settings, saved servers,
// editing sessions with the text of remote files) is the user's alone: files are 0600, and the
// folders made for them 0700.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace defaults {

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path` (which is then readable by its owner only). Returns an error text, or nothing on
// success. On failure `path` is untouched.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Creates the folder and the missing folders above it, each new one 0700, and narrows the folder
// itself to 0700. Returns an error text, or nothing on success.
std::optional<std::string> createPrivateDirectories(const std::filesystem::path& folder);

// Copies an unreadable file to "<name>.bad-<UTC time>" beside it (a numbered suffix when that
// name is taken) and returns the copy's path; nothing when the file is missing or the copy fails.
// A file that was kept aside before with the same bytes is not copied again: its copy is returned.
std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path);

// Reads a whole file; nothing when it cannot be opened.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace defaults
