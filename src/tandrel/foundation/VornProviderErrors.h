#pragma once
// A file provider's error as the app's error value: the provider's sentence is what the user
// reads; its kind's name is what the log shows. In the foundation: the file viewer (servers) and
// the document window (editor) both read through a provider.
#include <optional>

#include "platform/files/FileError.h"
#include "tandrel/foundation/VornError.h"

inline VornError vorn_error_from(const files::FileError& error) {
    return VornError{"FileProviderError", static_cast<int64_t>(error.kind), error.message,
                     std::string(files::kindName(error.kind)), error.userTold};
}

inline std::optional<VornError> vorn_error_from(const std::optional<files::FileError>& error) {
    if (!error) return std::nullopt;
    return vorn_error_from(*error);
}

// True for the app's form of a provider error of that kind.
inline bool is_file_error(const VornError& error, files::ErrorKind kind) {
    return error.is("FileProviderError", static_cast<int64_t>(kind));
}
