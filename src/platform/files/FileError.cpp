#include "platform/files/FileError.h"

namespace files {

std::string_view standardMessage(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::cannotReachHost: return "The server could not be reached.";
        case ErrorKind::timedOut: return "The server did not answer in time.";
        case ErrorKind::loginRejected: return "The server rejected the user name or password.";
        case ErrorKind::notFound: return "The file or folder was not found on the server.";
        case ErrorKind::alreadyExists: return "A file or folder with that name already exists.";
        case ErrorKind::parentMissing: return "The folder to put it in does not exist.";
        case ErrorKind::permissionDenied: return "The server did not allow this.";
        case ErrorKind::tlsFailure: return "A secure connection to the server could not be set up.";
        case ErrorKind::secureConnectionRequired: return "The server requires a secure connection.";
        case ErrorKind::notTrusted: return "The server's identity was not trusted, so nothing was sent to it.";
        case ErrorKind::changedOnServer: return "The file changed on the server since it was opened.";
        case ErrorKind::cancelled: return "The operation was cancelled.";
        case ErrorKind::invalidPath: return "The name or path is not valid.";
        case ErrorKind::server: return "The server refused the request.";
        case ErrorKind::other: return "The operation failed.";
    }
    return "The operation failed.";
}

std::string_view kindName(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::cannotReachHost: return "cannotReachHost";
        case ErrorKind::timedOut: return "timedOut";
        case ErrorKind::loginRejected: return "loginRejected";
        case ErrorKind::notFound: return "notFound";
        case ErrorKind::alreadyExists: return "alreadyExists";
        case ErrorKind::parentMissing: return "parentMissing";
        case ErrorKind::permissionDenied: return "permissionDenied";
        case ErrorKind::tlsFailure: return "tlsFailure";
        case ErrorKind::secureConnectionRequired: return "secureConnectionRequired";
        case ErrorKind::notTrusted: return "notTrusted";
        case ErrorKind::changedOnServer: return "changedOnServer";
        case ErrorKind::cancelled: return "cancelled";
        case ErrorKind::invalidPath: return "invalidPath";
        case ErrorKind::server: return "server";
        case ErrorKind::other: return "other";
    }
    return "other";
}

FileError FileError::make(ErrorKind kind, std::string_view detail) {
    FileError error;
    error.kind = kind;
    error.message = std::string(standardMessage(kind));
    if (!detail.empty()) {
        error.message += " (";
        error.message += detail;
        error.message += ")";
    }
    return error;
}

FileError FileError::fromServer(int code, std::string_view text) {
    FileError error;
    error.kind = ErrorKind::server;
    error.serverCode = code;
    error.serverText = std::string(text);
    error.message = "The server refused the request: " + std::to_string(code);
    if (!text.empty()) {
        error.message += " ";
        error.message += text;
    }
    if (error.message.back() != '.') error.message += ".";
    return error;
}

}  // namespace files
