#pragma once
// Error values of the file providers: a kind the caller can act on and a sentence for the user.

#include <string>
#include <string_view>

namespace files {

enum class ErrorKind {
    cannotReachHost,
    timedOut,
    loginRejected,
    notFound,
    alreadyExists,
    parentMissing,
    permissionDenied,
    tlsFailure,
    secureConnectionRequired,  // the server takes logins only over TLS, or the user requires TLS and the server offers none
    notTrusted,                // the server's certificate or host key was not trusted (the user said no, or nobody could be asked)
    changedOnServer,           // a checked write found the server's copy changed since it was read; nothing was written
    cancelled,
    invalidPath,
    server,  // any other answer of the server: serverCode and serverText say which
    other,
};

struct FileError {
    ErrorKind kind = ErrorKind::other;
    std::string message;     // one or two sentences for the user
    int serverCode = 0;      // FTP reply code or HTTP status, 0 when the server said nothing
    std::string serverText;  // the server's own words, when it gave any
    int transportCode = 0;   // the transfer library's code, for logs
    // A failed write that touched only a temporary copy: the file it was to replace is as it was.
    bool targetUnchanged = false;
    // A failed write that went to the file itself once its bytes had begun to move: the server
    // may now hold only part of them, and the file must be written again.
    bool targetIncomplete = false;
    // The user knows already: they turned down the trust question that led here (or read the
    // warning that refused the server). Nothing more need be shown to them about it.
    bool userTold = false;

    // An error with the kind's standard sentence, and `detail` appended when given.
    static FileError make(ErrorKind kind, std::string_view detail = {});
    // An error for a server answer that fits no other kind.
    static FileError fromServer(int code, std::string_view text);
};

// The standard sentence of each kind ("The operation was cancelled.").
std::string_view standardMessage(ErrorKind kind);
// The kind's name as written in the enum ("alreadyExists"), for logs and tests.
std::string_view kindName(ErrorKind kind);

}  // namespace files
