#pragma once
// SFTP requests sent and answered on a libssh SFTP session's channel by us, many at once.
//
// libssh 0.10's SFTP calls send one request and wait for its answer, so a folder of 10,000
// entries costs a round trip per hundred entries and a file write a round trip per 64 KB: on a
// server 50 ms away, seconds. Here the requests go out back to back, up to a window of them on
// their way, and the answers are matched by their ids, as OpenSSH's own sftp client and sshfs
// keep a link busy: a listing's READDIR requests on one handle (the server answers each with the
// next entries, in order), a file's WRITE requests, a file's READ requests, and single requests
// libssh has no call for (posix-rename@openssh.com).
//
// The wire is used on the worker that owns the session, only between libssh's own calls (none
// of which is outstanding then): libssh reads a packet whole, so nothing of ours is ever left in
// its buffers, nor anything of its in ours. A request's answer is always read before the wire
// returns, even after a failure, so the channel is left in step for the next call; only a
// connection failure leaves answers unread, and the connection is then dropped.

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace files::sftpwire {

// What a request came to: done, refused by the server with an SFTP status code, or the
// connection failed (what the server did with the request is then unknown).
struct Result {
    enum class Kind { ok, status, connection } kind = Kind::ok;
    int status = 0;  // SSH_FX_* for Kind::status
    static Result ok() { return {}; }
    static Result refused(int code) { return {Kind::status, code}; }
    static Result lost() { return {Kind::connection, 0}; }
    explicit operator bool() const { return kind == Kind::ok; }
};

// How many requests a transfer keeps on their way: it starts at `initial` and grows by one for
// each answer that came back with no request waiting to be sent, up to `most`.
struct Window {
    int initial = 16;
    int most = 64;
};

class Wire {
public:
    // `progress` is called each time an answer arrives (the server is alive and answering).
    Wire(sftp_session sftp, std::chrono::milliseconds timeout, std::function<void()> progress = {});

    // A folder's entries, read from its open handle with several READDIR requests on their
    // way; each entry (name, attributes) as libssh's own sftp_readdir gives it, to `entry`,
    // which takes ownership. Ok at the end of the folder.
    Result readDirectory(sftp_dir dir, const std::function<void(sftp_attributes)>& entry, Window window = {8, 16});

    // Writes `data` at `offset` of the open file, `chunk` bytes a WRITE request.
    // `sent` is called before the first byte goes out.
    Result write(sftp_file file, std::uint64_t offset, std::string_view data, std::size_t chunk = 64 * 1024,
                 Window window = {}, const std::function<void()>& sent = {});

    // Reads the open file from `offset` to its end into `out` (appended), `chunk` bytes a READ
    // request. `sizeHint` (the file's size, when known) keeps the requests from running far past
    // the end. A server may answer a READ with fewer bytes than asked before the end: the
    // missing part is asked for again.
    // With `attributes`, the file's attributes are asked for (FSTAT) in the same flight as the
    // first reads, and put there (nothing when the server refused); the size they tell then
    // serves as the size hint.
    Result read(sftp_file file, std::uint64_t offset, std::string& out, std::optional<std::uint64_t> sizeHint = std::nullopt,
                std::size_t chunk = 64 * 1024, Window window = {}, sftp_attributes* attributes = nullptr);

    // An SSH_FXP_EXTENDED request whose answer is a status (posix-rename@openssh.com and the
    // like): `name`, then the strings given.
    Result extended(std::string_view name, const std::vector<std::string_view>& strings);

    // Decodes SFTP version 3 attributes (as sent in NAME and ATTRS answers) into a libssh
    // attribute record (sftp_attributes_free frees it); nothing when they are cut short.
    static sftp_attributes parseAttributes(std::string_view& in);

private:
    struct Answer {
        std::uint8_t type = 0;
        std::uint32_t id = 0;
        std::string body;  // what follows the id
    };
    std::uint32_t send(std::uint8_t type, const std::string& afterId);
    bool receive(Answer& answer);
    static Result statusOf(const Answer& answer);

    sftp_session sftp_;
    int timeoutMs_;
    std::function<void()> progress_;
};

// Big-endian SFTP encoding, for the requests built here and in tests.
void putU32(std::string& out, std::uint32_t v);
void putU64(std::string& out, std::uint64_t v);
void putString(std::string& out, std::string_view s);
bool takeU32(std::string_view& in, std::uint32_t& v);
bool takeU64(std::string_view& in, std::uint64_t& v);
bool takeString(std::string_view& in, std::string_view& s);

}  // namespace files::sftpwire
