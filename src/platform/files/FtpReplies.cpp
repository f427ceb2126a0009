#include "platform/files/FtpReplies.h"

#include <array>

namespace files::detail {

bool replyHas(std::string_view text, std::string_view lowerWord) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (std::size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < lowerWord.size() && lower(text[i + k]) == lowerWord[k]) ++k;
        if (k == lowerWord.size()) return true;
    }
    return false;
}

bool saysNotFound(std::string_view text) {
    // The words of the common servers (errno text, IIS, Serv-U, FileZilla Server, ...).
    static constexpr std::array<std::string_view, 9> kWords{
        "no such file", "no such directory", "not found", "not exist", "n't exist",
        "cannot find", "can't find", "could not find", "couldn't find"};
    for (std::string_view word : kWords) {
        if (replyHas(text, word)) return true;
    }
    return false;
}

ErrorKind ftpRefusalKind(long code, std::string_view text) {
    if (code == 530) return ErrorKind::loginRejected;
    if (code == 550 || code == 450) {
        if (saysNotFound(text)) return ErrorKind::notFound;
    }
    if (code == 550 || code == 553 || code == 532) return ErrorKind::permissionDenied;
    return ErrorKind::server;
}

bool closedWhileIdle(const TransferResult& r) {
    if (r.ok() || r.cancelled || r.silent || r.newConnections != 0) return false;
    if (r.uploaded > 0 || !r.body.empty()) return false;
    std::size_t replies = 0;
    for (const std::string& line : r.headers) {
        if (line.size() >= 3 && line[0] >= '1' && line[0] <= '5') ++replies;
    }
    if (replies == 0) {
        return r.code == CURLE_SEND_ERROR || r.code == CURLE_RECV_ERROR || r.code == CURLE_GOT_NOTHING ||
               r.code == CURLE_WEIRD_SERVER_REPLY;
    }
    // "421-..." continuation lines and the closing "421 ..." of one reply count as that reply.
    for (const std::string& line : r.headers) {
        if (line.compare(0, 3, "421") != 0) return false;
    }
    return r.responseCode == 421;
}

}  // namespace files::detail
