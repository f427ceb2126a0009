#pragma once
// SFTP requests sent and answered on a libssh SFTP session's channel by us, many at once.
//
// libssh 0.10's SFTP calls send one request and wait for its answer, so a folder of 10,000
// entries costs a round trip per hundred entries and a file write a round trip per 64 KB: on a
// server 50 ms away, seconds. Here the requests go out back to back, up to a window of them on
// their way, and the answers are matched by their ids, as OpenSSH's own sftp client and sshfs
// keep a link busy: a listing's READDIR requests on one handle (the server answers each with the
// next entries, in order), a file's WRITE requests, a file's READ requests, single requests
// libssh has no call for (posix-rename@openssh.com), and the requests of one step posted
// together (a save's copy: its OPEN beside the OPEN of the file the version check reads, then
// its WRITEs, FSETSTAT, CLOSE and the check's FSTAT and READs in one flight; the files a page
// links: all their OPENs, then each one's FSTAT and first READ).
//
// The wire is used on the worker that owns the session, only between libssh's own calls (none
// of which is outstanding then): libssh reads a packet whole, so nothing of ours is ever left in
// its buffers, nor anything of its in ours. A request's answer is always read before the wire
// returns, even after a failure, so the channel is left in step for the next call; only a
// connection failure leaves answers unread, and the connection is then dropped. The one
// exception: a CLOSE sent by closeLater, whose answer the caller reads with settle before
// anything else uses the channel (libssh's calls included). SFTP's own start (INIT and VERSION)
// is done here too, beside the subsystem request (see start).

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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
    // `sent` is called before the first byte goes out; `then`, right after the last WRITE went
    // out (before its answer came), to post what follows the write in the same flight.
    Result write(sftp_file file, std::uint64_t offset, std::string_view data, std::size_t chunk = 64 * 1024,
                 Window window = {}, const std::function<void()>& sent = {}, const std::function<void()>& then = {});

    // Reads the open file from `offset` to its end into `out` (appended), `chunk` bytes a READ
    // request. `sizeHint` (the file's size, when known) keeps the requests from running far past
    // the end. A server may answer a READ with fewer bytes than asked before the end: the
    // missing part is asked for again.
    // With `attributes`, the file's attributes are asked for (FSTAT) in the same flight as the
    // first reads, and put there (nothing when the server refused); the size they tell then
    // serves as the size hint.
    Result read(sftp_file file, std::uint64_t offset, std::string& out, std::optional<std::uint64_t> sizeHint = std::nullopt,
                std::size_t chunk = 64 * 1024, Window window = {}, sftp_attributes* attributes = nullptr);
    // The same, on a handle an OPEN answer gave.
    Result readHandle(std::string_view handle, std::uint64_t offset, std::string& out,
                      std::optional<std::uint64_t> sizeHint = std::nullopt, std::size_t chunk = 64 * 1024,
                      Window window = {}, sftp_attributes* attributes = nullptr);

    // An SSH_FXP_EXTENDED request whose answer is a status (posix-rename@openssh.com and the
    // like): `name`, then the strings given.
    Result extended(std::string_view name, const std::vector<std::string_view>& strings);

    // Single requests posted back to back and their answers awaited afterwards, in any order:
    // what a step sends in one flight with others. `post` gives the request's id (0: the
    // connection failed). Answers that arrive for other requests meanwhile are kept until
    // awaited. Every posted request must be awaited before the wire goes (the channel stays in
    // step for libssh's calls).
    struct Answer {
        std::uint8_t type = 0;
        std::uint32_t id = 0;
        std::string body;  // what follows the id
    };
    std::uint32_t post(std::uint8_t type, const std::string& afterId);
    // A CLOSE of a handle only read from, whose answer is not waited for: its id goes to
    // `owed`, and settle reads the answer before the channel's next use (0: the connection failed).
    // Answers to those CLOSEs that arrive while this wire waits for others are taken in on the
    // way (and their ids taken out of `owed`): requests may follow them in the same flight.
    std::uint32_t closeLater(std::string_view handle, std::vector<std::uint32_t>& owed);
    // Reads the answers `owed` names (they come before any other), and empties it; false when
    // the connection failed or something else came.
    bool settle(std::vector<std::uint32_t>& owed);
    bool await(std::uint32_t id, Answer& answer);
    // The answer of a request whose answer is a status.
    Result awaitStatus(std::uint32_t id);
    // The handle an OPEN or OPENDIR answer gives (nothing with the status when refused; a
    // status "OK" instead of the handle is a refusal with SSH_FX_BAD_MESSAGE).
    static Result handleIn(const Answer& answer, std::string& handle);
    // Attributes in an ATTRS answer (sftp_attributes_free frees them); nothing when refused (as
    // handleIn: a status "OK" instead of them too).
    static Result attributesIn(const Answer& answer, sftp_attributes& attributes);
    static Result statusOf(const Answer& answer);
    // The same as write, on a handle an OPEN answer gave.
    Result writeHandle(std::string_view handle, std::uint64_t offset, std::string_view data, std::size_t chunk = 64 * 1024,
                       Window window = {}, const std::function<void()>& sent = {}, const std::function<void()>& then = {});

    // A server's SFTP extensions, as its VERSION names them: (name, data), in its order.
    using Extensions = std::vector<std::pair<std::string, std::string>>;

    // Decodes SFTP version 3 attributes (as sent in NAME and ATTRS answers) into a libssh
    // attribute record (sftp_attributes_free frees it); nothing when they are cut short.
    static sftp_attributes parseAttributes(std::string_view& in);
    // The entries of a NAME answer's body (what follows the id): each (name, attributes) to
    // `entry`, which takes ownership; false when the body is cut short (the entries before the
    // break were given).
    static bool namesIn(std::string_view body, const std::function<void(sftp_attributes)>& entry);

private:
    std::uint32_t send(std::uint8_t type, const std::string& afterId);
    friend sftp_session start(ssh_session, std::chrono::milliseconds, Extensions&, const char*);
    // The next answer to one of ours (`mine`): one kept earlier, else from the channel, keeping
    // the answers to others that come first.
    bool receive(Answer& answer, const std::function<bool(std::uint32_t)>& mine);
    bool receiveAny(Answer& answer);
    // Whether the answer to `next` (or part of some answer) has arrived and can be read
    // without waiting for the server.
    bool answerWaiting(const std::map<std::uint32_t, Answer>& early, std::uint32_t next) const;

    sftp_session sftp_;
    int timeoutMs_;
    std::function<void()> progress_;
    std::set<std::uint32_t> posted_;        // posted requests not awaited yet
    std::map<std::uint32_t, Answer> kept_;  // their answers that came already
    std::vector<std::uint32_t>* owed_ = nullptr;  // where closeLater put the CLOSEs not awaited
    bool widened_ = false;            // see widenReceiveWindow
    std::uint64_t sinceWidened_ = 0;  // bytes read since
};

// How much the server may send on the channel before we read it (its SSH window). libssh opens a
// channel with 64,000 bytes and tops it up to 1,280,000 only once less than half is left, so a
// file read from a far server came at about half a megabyte a round trip however many READs
// were on their way; OpenSSH's client allows 2 MB. With this the READs a transfer keeps on their
// way (up to 64 of 64 KB) are what sets the pace. A wire tops the window up to this at its first
// answer and again each time half of it has been read.
constexpr std::uint32_t kReceiveWindow = 4 * 1024 * 1024;
// Tops the channel's window up to kReceiveWindow (libssh's own top-ups never lower it again).
void widenReceiveWindow(ssh_channel channel);

// SFTP started on a logged-in session: a session channel opened (its confirmation awaited: what
// is sent on the channel names the server's number for it), then the subsystem request sent
// without waiting for its answer, and SFTP's INIT beside it where the server's window for the
// channel lets it go before the answer (OpenSSH's sshd opens that window only once the
// subsystem runs: INIT then follows the answer, as with libssh's sftp_new and sftp_init). The
// request's answer is read before the VERSION, so a server that refuses the subsystem is told
// as such (libssh's error) rather than waited for. The server's extensions (name, data, in its
// order) go to `extensions`: libssh's own list stays empty, its sftp_extension_supported is not
// asked. Nothing on failure.
sftp_session start(ssh_session ssh, std::chrono::milliseconds timeout, Wire::Extensions& extensions,
                   const char* subsystem);

// What follows the id in requests posted by hand: OPEN (SSH_FXF_* flags; the mode for a new
// file), a request naming a path only (STAT, LSTAT, REMOVE), one naming a handle only (CLOSE,
// FSTAT), READ, and FSETSTAT of the permission bits.
std::string openRequest(std::string_view path, std::uint32_t flags, unsigned mode);
std::string pathRequest(std::string_view path);
std::string handleRequest(std::string_view handle);
std::string readRequest(std::string_view handle, std::uint64_t offset, std::uint32_t length);
std::string setModeRequest(std::string_view handle, unsigned mode);

// Big-endian SFTP encoding, for the requests built here and in tests.
void putU32(std::string& out, std::uint32_t v);
void putU64(std::string& out, std::uint64_t v);
void putString(std::string& out, std::string_view s);
bool takeU32(std::string_view& in, std::uint32_t& v);
bool takeU64(std::string_view& in, std::uint64_t& v);
bool takeString(std::string_view& in, std::string_view& s);

}  // namespace files::sftpwire
