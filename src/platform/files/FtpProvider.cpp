// FTP on libcurl. A URL's path counts from the login folder (where the server puts the user, as
// PWD says after login), or from the server root when it starts with "%2F"; the provider learns
// the login folder once and then sends every path absolute ("ftp://host/%2F<path>"): downloads,
// MDTM, SIZE and MLSD name the full path; LIST and STOR go into the folder (one CWD, none where
// the connection is there already: a missing folder is told apart that way). A far server
// costs a round trip per command, so each operation sends only those it needs (OPTS UTF8 ON
// once per connection). Passive mode (EPSV, then PASV), MLSD with a remembered fallback to "LIST -a".
// Raw commands (MKD, DELE, RMD, RNFR/RNTO) go through a transfer without body; the server's
// reply lines are captured for error texts. Nothing here overwrites unless asked to: new
// folders, copies and moves check the target first (some servers answer 257 to MKD of a folder
// that exists). Every write of a file's bytes is the one save algorithm of Save.h over this
// protocol's steps (SaveOnSession): a temporary file beside it, so a cut upload leaves the old
// file whole, or a new file absent; a symbolic link is saved into the file it points to; a save
// that expects a version of the file checks it right before the copy replaces the file; a new
// file (create-new, a copy's) takes its name only where the name is free right before the
// rename (see SaveOnSession::placeNew). A temporary file that
// a broken connection kept from being removed is remembered (ProviderOptions::leftovers) and
// removed after the next operation that goes through. A kept connection that the server closed
// while it sat idle is opened again (see perform). Many files asked for at once are read on up
// to kBatchWorkers connections; those opened for them close after a minute without work, and
// where the server turns one away (a limit of sessions), no more are asked for. Listing lines
// that cannot be read are logged, each once.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <unordered_set>
#include <utility>

#include "platform/files/CurlProvider.h"
#include "platform/files/FtpReplies.h"
#include "platform/files/ListingParsers.h"
#include "platform/files/Save.h"
#include "platform/files/VersionCheck.h"
#include "platform/log/Log.h"

namespace files::detail {

namespace {

enum class Presence { file, folder, absent, parentMissing };

enum class Context { list, read, write, command, probe };

bool isSupportRefusal(long code) { return code == 500 || code == 501 || code == 502 || code == 504; }

// A refused login that asks for TLS: "550 SSL/TLS required on the control channel",
// "534 Policy requires SSL.", "530 Non-anonymous sessions must use encryption.", "421 Sorry,
// cleartext sessions are not accepted on this server."
bool asksForTls(long code, std::string_view text) {
    if (code != 421 && code != 530 && code != 534 && code != 550) return false;
    for (std::string_view word : {"tls", "ssl", "encrypt", "cleartext"}) {
        if (replyHas(text, word)) return true;
    }
    return false;
}

// A new connection that the server turned away at once: its greeting was 421 ("421 Too many
// connections"), which curl reports as a timeout.
bool refusedAtGreeting(const TransferResult& r) {
    return r.code == CURLE_OPERATION_TIMEDOUT && !r.silent && !r.cancelled && r.responseCode == 421 &&
           r.newConnections > 0 && !r.headers.empty() && r.headers.front().rfind("421", 0) == 0;
}

// A login that the server refused for the number of sessions, not for the password: a limit
// per user is told only after USER, as ProFTPD's "530 Sorry, the maximum number of clients (2)
// for this user are already connected."
bool refusedForSessions(const TransferResult& r) {
    if (r.code != CURLE_LOGIN_DENIED || r.silent || r.cancelled || r.responseCode != 530) return false;
    const std::string text = r.lastReply();
    if (replyHas(text, "fail") || replyHas(text, "incorrect") || replyHas(text, "password")) return false;
    const bool limit = replyHas(text, "maximum number") || replyHas(text, "too many");
    return limit && (replyHas(text, "client") || replyHas(text, "connection") || replyHas(text, "session") ||
                     replyHas(text, "user") || replyHas(text, "login"));
}

// A new connection that the server turned away for its limit of connections or sessions.
bool turnedAway(const TransferResult& r) { return refusedAtGreeting(r) || refusedForSessions(r); }

// What the transfers of the operation running on this thread met: a server that turned the
// connection away for its limit (see turnedAway), whether any transfer went through before it,
// and whether one had to change its connection's type (ASCII to binary or back).
struct OperationTrace {
    bool turnedAway = false;
    bool anyDone = false;
    bool changedType = false;
};
thread_local OperationTrace tTrace;

// Whether this worker's last transfer left a connection that idle NOOPs keep (see keepAlive).
thread_local bool tConnectionKept = false;

// For a transfer that may only use a connection kept open: a new one is never opened.
curl_socket_t noNewConnection(void*, curlsocktype, curl_sockaddr*) { return CURL_SOCKET_BAD; }

// The once-per-connection commands that the transfer being set up on this thread carries.
thread_local unsigned tCarried = 0;

// A provider that has spoken TLS to its server opens control connections only over TLS from
// then on: one that opens now while TLS is merely tried (so that a kept connection made that
// way is still reused) is held back before its socket exists, and the transfer runs again with
// TLS required. A machine in the middle that hides AUTH TLS after the first login gets no USER
// or PASS from any connection of the provider.
struct TlsGate {
    int controlPort = -1;  // the port of the server's control connection; -1: no gate
    bool held = false;     // a control connection was held back
};
thread_local TlsGate tTlsGate;
// The server spoke TLS before and refused it to this worker's last new connection (until a
// transfer goes through again): what its error says.
thread_local bool tTlsWithdrawn = false;
// Whether this worker's connection was opened with TLS required (libcurl reuses an FTP
// connection only for transfers that ask TLS the same way).
thread_local bool tConnectionTlsRequired = false;

int portOf(const curl_sockaddr* address) {
    if (address->family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address->addr)->sin_port);
    if (address->family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address->addr)->sin6_port);
    return -1;
}

// Data connections (to the port the server names) open as usual; a control connection does not.
curl_socket_t openUnlessControl(void*, curlsocktype purpose, curl_sockaddr* address) {
    if (purpose == CURLSOCKTYPE_IPCXN && portOf(address) == tTlsGate.controlPort) {
        tTlsGate.held = true;
        return CURL_SOCKET_BAD;
    }
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// The connections, the kept ones included, that read many files at once (contentsOfFiles). A
// file costs a data connection and about two round trips, twice a browser's request to a web
// server, which opens six connections: with ten, a page's files come about as fast.
constexpr int kBatchWorkers = 10;

}  // namespace

class FtpProvider final : public CurlProvider {
public:
    FtpProvider(BaseUrl base, Credential credential, const ProviderOptions& options)
        : CurlProvider(std::move(base), std::move(credential), options),
          leftovers_(options.leftovers ? options.leftovers : makeLeftoverCopies()),
          requireTls_(options.requireTls),
          plainAfterTls_(options.plainAfterTls) {
        tlsSessionStaysResumable_ = true;
        keepIdleConnections([this](Session& s, Operation& op) { keepAlive(s, op); });
    }
    ~FtpProvider() override { endConnections(); }

    ProviderKind kind() const override { return ProviderKind::ftp; }

    std::optional<std::string> rootOnServer() const override {
        if (base_.fromServerRoot) return base_.path;
        std::lock_guard lock(rootMutex_);
        return root_;
    }

    OperationHandle contentsOfDirectory(std::string folder, ListCompletion completion) override {
        return startValue<std::vector<FileObject>>(
            handingOver<std::vector<FileObject>>([this, folder](Session& s, Operation& op) -> Outcome<std::vector<FileObject>> {
                if (auto e = checkPaths({folder})) return *e;
                auto root = rootFolder(s, op);
                if (root.error) return *root.error;
                auto listed = listFolder(s, op, onServer(root.value, folder), path::normalize(folder));
                readyAnotherConnection();
                return listed;
            }),
            std::move(completion), forListing(folder));
    }

    OperationHandle contents(std::string file, DataCompletion completion) override {
        return startValue<std::optional<Bytes>>(
            handingOver<std::optional<Bytes>>([this, file](Session& s, Operation& op) -> Outcome<std::optional<Bytes>> {
                auto read = readFile(s, op, file, nullptr);
                if (read.error) return *read.error;
                return std::optional<Bytes>(std::move(read.value));
            }),
            std::move(completion), forFile);
    }

    // Many files at once (the style sheets, scripts and images of a previewed page): each costs
    // its own data connection and round trips, so more connections read them side by side, as
    // a browser opens several to a web server.
    OperationHandle contentsOfFiles(std::vector<std::string> files, FileCompletion each) override {
        OperationHandle lot = FileProvider::contentsOfFiles(std::move(files), std::move(each));
        growWorkers(kBatchWorkers);
        return lot;
    }

    OperationHandle contentsAndVersion(std::string file, VersionedDataCompletion completion) override {
        using Read = std::pair<Bytes, FileVersion>;
        return start<Read>(
            handingOver<Read>([this, file](Session& s, Operation& op) -> Outcome<Read> {
                FileVersion version;
                auto read = readFile(s, op, file, &version);
                if (read.error) return *read.error;
                addContentFacts(version, read.value);
                return Read(std::move(read.value), std::move(version));
            }),
            [completion = std::move(completion)](Outcome<Read> out) {
                if (!completion) return;
                if (out.error) return completion(std::nullopt, FileVersion{}, std::move(out.error));
                completion(std::optional<Bytes>(std::move(out.value.first)), std::move(out.value.second), std::nullopt);
            },
            forFile);
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this, file, data = std::move(data), mode](Session& s, Operation& op) -> Done {
                auto written = writeFile(s, op, file, data, mode, nullptr, false);
                if (written.error) return *written.error;
                return {};
            }),
            std::move(completion), forFile);
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  std::optional<FileVersion> expected, WriteCompletion completion) override {
        return startValue<std::optional<FileVersion>>(
            handingOver<std::optional<FileVersion>>(
                [this, file, data = std::move(data), mode, expected = std::move(expected)](
                    Session& s, Operation& op) -> Outcome<std::optional<FileVersion>> {
                    std::optional<FileVersion> fragment;
                    auto written = writeFile(s, op, file, data, mode, versionToCheck(expected, mode), true, &fragment);
                    if (written.error) {
                        Outcome<std::optional<FileVersion>> failed(*written.error);
                        failed.value = std::move(fragment);
                        return failed;
                    }
                    return std::optional<FileVersion>(std::move(written.value));
                }),
            std::move(completion), forFile);
    }

    OperationHandle createFolder(std::string name, std::string parent, Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this, name, parent](Session& s, Operation& op) -> Done {
                if (auto e = path::checkName(name)) return *e;
                if (auto e = checkPaths({parent})) return *e;
                auto root = rootFolder(s, op);
                if (root.error) return *root.error;
                const std::string target = onServer(root.value, path::join(parent, name));
                // Some servers answer 257 to MKD of a folder that is there: look first.
                if (auto e = requireAbsent(s, op, target)) return *e;
                TransferResult r = command(s, op, {"MKD " + target});
                if (r.ok()) return {};
                if (r.cancelled || r.silent) return transportError(r);
                auto presence = probe(s, op, target);
                if (presence.error) return *presence.error;
                if (presence.value == Presence::file || presence.value == Presence::folder)
                    return FileError::make(ErrorKind::alreadyExists);
                if (presence.value == Presence::parentMissing) return FileError::make(ErrorKind::parentMissing);
                return ftpError(r, Context::command);
            }),
            std::move(completion), forCommands);
    }

    OperationHandle copyItem(std::string from, std::string to, Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this, from, to](Session& s, Operation& op) -> Done {
                if (auto e = checkTransferPaths(from, to)) return *e;
                auto root = rootFolder(s, op);
                if (root.error) return *root.error;
                const std::string source = onServer(root.value, from), target = onServer(root.value, to);
                if (auto e = requireAbsent(s, op, target)) return *e;
                auto presence = probe(s, op, source);
                if (presence.error) return *presence.error;
                if (presence.value == Presence::absent || presence.value == Presence::parentMissing)
                    return FileError::make(ErrorKind::notFound);
                if (presence.value == Presence::folder) return copyTree(s, op, source, target, to);
                auto data = download(s, op, source);
                if (data.error) return *data.error;
                return createFile(s, op, target, to, data.value);
            }),
            std::move(completion), forFile);
    }

    OperationHandle moveItem(std::string from, std::string to, Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this, from, to](Session& s, Operation& op) -> Done {
                if (auto e = checkTransferPaths(from, to)) return *e;
                auto root = rootFolder(s, op);
                if (root.error) return *root.error;
                const std::string source = onServer(root.value, from), target = onServer(root.value, to);
                // RNTO replaces an existing target on many servers: make sure there is none.
                if (auto e = requireAbsent(s, op, target)) return *e;
                TransferResult r = command(s, op, {"RNFR " + source, "RNTO " + target});
                if (r.ok()) return {};
                if (r.cancelled || r.silent) return transportError(r);
                auto presence = probe(s, op, source);
                if (presence.error) return *presence.error;
                if (presence.value == Presence::absent || presence.value == Presence::parentMissing)
                    return FileError::make(ErrorKind::notFound);
                return ftpError(r, Context::command);
            }),
            std::move(completion), forCommands);
    }

    OperationHandle removeItem(std::string item, Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this, item](Session& s, Operation& op) -> Done {
                if (auto e = checkPaths({item})) return *e;
                if (path::normalize(item) == "/")
                    return FileError::make(ErrorKind::invalidPath, "the root folder cannot be removed");
                auto root = rootFolder(s, op);
                if (root.error) return *root.error;
                const std::string target = onServer(root.value, item);
                // DELE takes files and links (never what a link points to).
                TransferResult r = command(s, op, {"DELE " + target});
                if (r.ok()) return {};
                if (r.cancelled || r.silent) return transportError(r);
                auto presence = probe(s, op, target);
                if (presence.error) return *presence.error;
                if (presence.value == Presence::absent || presence.value == Presence::parentMissing)
                    return FileError::make(ErrorKind::notFound);
                if (presence.value == Presence::file) return ftpError(r, Context::command);
                return removeTree(s, op, target);
            }),
            std::move(completion), forCommands);
    }

    OperationHandle checkLogin(Completion completion) override {
        return startDone(
            handingOver<std::monostate>([this](Session& s, Operation& op) -> Done {
                bool learnt = false;
                auto root = rootFolder(s, op, &learnt);
                if (root.error) return *root.error;
                // The login that just told the login folder proved it: nothing more to ask.
                if (learnt && path::normalize(base_.path) == "/") return {};
                prepare(s);
                StringList quote = opening(s, {root.value});
                curl_easy_setopt(s.easy(), CURLOPT_URL, folderUrl(root.value).c_str());
                curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
                curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
                TransferResult r = perform(s, op);
                if (r.ok()) return {};
                return ftpError(r, Context::list);
            }),
            std::move(completion), forCommands);
    }

private:
    enum MlsdSupport { unknown, yes, no };
    // Asks MLST for unix.mode (not every server shows it by default) beside what listings read.
    static constexpr const char* kMlstFacts = "*OPTS MLST type;size;sizd;modify;create;perm;unix.mode;";

    // Commands a connection needs once, before the first transfer that depends on them.
    // kOpen, kAscii and kBinary: what the last transfer left the connection as (see noteState;
    // neither type: not known, a first transfer of either kind sends TYPE).
    enum ConnectionSaid : unsigned { kUtf8Said = 1, kMlstFactsSaid = 2, kOpen = 4, kBinary = 8, kAscii = 16 };
    static constexpr unsigned kTypes = kAscii | kBinary;
    // Which free worker an operation goes to (see WorkerPool::Fit): one whose connection is
    // open saves a login, which weighs most; then one whose connection is in the type the
    // operation's transfers need (ASCII for a listing, binary for a file's bytes) saves a TYPE,
    // and one whose type is not known yet is taken before one in the other type, which stays
    // ready for its own kind of work: where listings and files alternate, each kind keeps to a
    // connection of its own (see readyAnotherConnection).
    static int opened(const Session& s) { return (s.connectionSaid & kOpen) != 0 ? 8 : 0; }
    static int typed(const Session& s, unsigned wanted) {
        if ((s.connectionSaid & wanted) != 0) return 4;
        return (s.connectionSaid & kTypes) == 0 ? 2 : 0;
    }
    // A listing, also one in the folder it is of (no CWD): `folder` is a provider path.
    WorkerPool::Fit forListing(const std::string& folder) {
        std::string url;
        {
            std::lock_guard lock(rootMutex_);
            if (root_) url = folderUrl(onServer(*root_, folder));
        }
        return [url = std::move(url)](const Session& s) {
            return opened(s) + typed(s, kAscii) + (s.folder == url ? 1 : 0);
        };
    }
    static int forFile(const Session& s) { return opened(s) + typed(s, kBinary); }
    static int forCommands(const Session& s) { return opened(s); }
    // The quote list of a transfer about to run on the session's connection: OPTS UTF8 ON (and,
    // with `mlst`, the facts MLST is to show) unless they went over that connection already. A
    // path with bytes outside ASCII always has OPTS UTF8 ON in front of it: a connection that
    // the server closed while it sat idle is opened again inside the transfer, without them.
    // Call after prepare().
    static StringList opening(Session& s, std::initializer_list<std::string_view> paths, bool mlst = false) {
        StringList quote;
        const bool wide = std::any_of(paths.begin(), paths.end(), [](std::string_view p) {
            return std::any_of(p.begin(), p.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        });
        if ((s.connectionSaid & kUtf8Said) == 0 || wide) {
            quote.append("*OPTS UTF8 ON");
            tCarried |= kUtf8Said;
        }
        if (mlst && (s.connectionSaid & kMlstFactsSaid) == 0) {
            quote.append(kMlstFacts);
            tCarried |= kMlstFactsSaid;
        }
        return quote;
    }
    // After a transfer: what the connection in use has been told. A connection that may be gone
    // has been told nothing; a new one only what this transfer carried. A transfer the server
    // refused once its own commands went (see refusedOnKeptConnection) told them all the same:
    // the first listing on a server without MLSD says OPTS UTF8 ON before MLSD, and the LIST
    // that follows needs it no more.
    static void noteSaid(Session& s, const TransferResult& r, unsigned carried) {
        if (r.cancelled || r.silent) s.connectionSaid = 0;
        else if (r.ok() || refusedOnKeptConnection(r)) s.connectionSaid = (greeted(r) ? 0u : s.connectionSaid) | carried;
        else if (greeted(r)) s.connectionSaid = 0;
    }
    // A transfer the server refused after the commands before it went through (the listing
    // command, a file or folder that is not there, an upload refused), on a connection libcurl
    // keeps open for the next transfer.
    static bool refusedOnKeptConnection(const TransferResult& r) {
        if (r.cancelled || r.silent || r.responseCode < 400) return false;
        switch (r.code) {
            case CURLE_FTP_COULDNT_RETR_FILE:
            case CURLE_REMOTE_FILE_NOT_FOUND:
            case CURLE_REMOTE_ACCESS_DENIED:
            case CURLE_UPLOAD_FAILED:
                return true;
            default:
                return false;
        }
    }
    // What a transfer left the connection as, for the choice of a worker (see forListing):
    // open (kOpen) after one went through on it; binary (kBinary) after a file's transfer,
    // ASCII (kAscii) after a listing (libcurl sends TYPE only where the type must change: I
    // before a file's bytes or SIZE, A before a listing; commands alone leave it); and in the
    // folder a listing went into (s.folder). That folder is a guess the next listing's CWD
    // mends where it is wrong (a transfer that went into another folder without listing it):
    // it costs a round trip, never a wrong result. After a refusal the type is not known.
    static void noteState(Session& s, const TransferResult& r) {
        if (!r.ok()) {  // noteSaid told whether the connection is still open
            s.connectionSaid &= ~kTypes;
            if (refusedOnKeptConnection(r)) s.connectionSaid |= kOpen;
            s.folder.clear();
            return;
        }
        if (greeted(r)) s.folder.clear();
        s.connectionSaid |= kOpen;
        char* url = nullptr;
        curl_easy_getinfo(s.easy(), CURLINFO_EFFECTIVE_URL, &url);
        const std::string_view u = url ? url : "";
        const bool folder = u.ends_with('/') || u.ends_with("%2F");
        const bool listed = std::any_of(r.headers.begin(), r.headers.end(), [](const std::string& line) {
            return line.rfind("150", 0) == 0 || line.rfind("125", 0) == 0;
        });
        const unsigned before = s.connectionSaid & kTypes;
        if (!folder) {
            s.connectionSaid = (s.connectionSaid & ~kTypes) | kBinary;
        } else if (listed) {
            s.connectionSaid = (s.connectionSaid & ~kTypes) | kAscii;
            s.folder = u;
        }
        const unsigned after = s.connectionSaid & kTypes;
        if (before != 0 && after != before) tTrace.changedType = true;
    }

    // A listing or an open that had to change its connection's type, where listings and files
    // alternate on one connection: a free worker that has none logs in now, beside the work,
    // so that the next of the other kind finds a connection of its own (see typed) and neither
    // pays a TYPE again. Never more than that one: a server that turns it away, or a login that
    // fails, is not asked again.
    void readyAnotherConnection() {
        if (!std::exchange(tTrace.changedType, false) || readyRefused_.load()) return;
        auto op = std::make_shared<Operation>();
        lendWorker([](const Session& s) { return (s.connectionSaid & kOpen) == 0; }, op,
                   [this, op](Session& s) {
                       prepare(s);
                       askFolder(s, origin() + "/", {}, true);
                       if (!perform(s, *op).ok() && !op->isCancelled()) readyRefused_.store(true);
                   },
                   false);
    }
    // Whether the transfer logged in on a new control connection: its first reply is the
    // server's greeting (libcurl's count of new connections counts data connections too).
    static bool greeted(const TransferResult& r) { return !r.headers.empty() && r.headers.front().rfind("220", 0) == 0; }

    // Every transfer goes through here, so an operation knows what its transfers met. A kept
    // connection that the server closed while it sat idle ("421 Timeout.") is no failure: the
    // transfer, of which nothing reached the server, runs once more on a new connection (whose
    // failure is never taken for an idle close); never once any of its bytes or commands got
    // through.
    TransferResult perform(Session& s, Operation& op) const {
        const unsigned carried = std::exchange(tCarried, 0u);
        TransferResult r = performGated(s, op);
        if (closedWhileIdle(r)) {
            s.prepareRetry();
            r = performGated(s, op);
        }
        if (brokeUploadOverTls13(s, r)) {
            // This server is spoken to in TLS 1.2 from now on; the upload runs once more, whole,
            // on a new connection (the connections made before are closed). A server that
            // speaks no TLS 1.2 keeps TLS 1.3, and the upload runs once more there.
            logTlsFallback(r.lastReply());
            tls12Only_.store(true);
            r = performAgainWithTlsSetup(s, op);
            if (r.code == CURLE_SSL_CONNECT_ERROR) {
                tls12Only_.store(false);
                r = performAgainWithTlsSetup(s, op);
            }
        }
        if (r.ok()) {
            tTrace.anyDone = true;
            tConnectionKept = true;
        } else if (turnedAway(r)) tTrace.turnedAway = true;
        noteSaid(s, r, carried);
        noteState(s, r);
        return r;
    }

    // The transfer set up on the session once more, whole, on a new connection made with the TLS
    // versions sslVersion() allows now.
    TransferResult performAgainWithTlsSetup(Session& s, Operation& op) const {
        curl_easy_setopt(s.easy(), CURLOPT_SSLVERSION, sslVersion());
        useTlsSetup(s);
        s.prepareRetry();
        return performGated(s, op);
    }

    // performChecked(), and once more with TLS required when the TLS gate held back a new
    // control connection (nothing of that attempt reached the network).
    TransferResult performGated(Session& s, Operation& op) const {
        TransferResult r = performChecked(s, op);
        if (std::exchange(tTlsGate.held, false)) {
            curl_easy_setopt(s.easy(), CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            curl_easy_setopt(s.easy(), CURLOPT_OPENSOCKETFUNCTION, nullptr);
            tConnectionTlsRequired = true;
            s.rewindUpload();
            r = performChecked(s, op);
            if (r.code == CURLE_USE_SSL_FAILED) tTlsWithdrawn = true;
        }
        if (r.ok()) tTlsWithdrawn = false;
        if (s.encrypted == 1) spokeTls_.store(true);
        return r;
    }

    // An operation whose connection the server turned away for its limit (at the greeting, a
    // limit of connections per address; at the login, of sessions per user) runs again on a
    // connection that is open, and this worker stops:
    // the provider keeps as many workers as the server accepts. Only when no other worker is
    // left, and asking once more is refused too, does the server's refusal reach the completion. An operation that already changed
    // something on the server is not run again. After an operation that went through, the
    // temporary copies that earlier saves could not remove are removed.
    template <typename T>
    std::function<Outcome<T>(Session&, Operation&)> handingOver(std::function<Outcome<T>(Session&, Operation&)> body) {
        return [this, body = std::move(body)](Session& s, Operation& op) -> Outcome<T> {
            tTrace = {};
            Outcome<T> out = body(s, op);
            if (out.error && tTrace.turnedAway && !tTrace.anyDone && !retireWorker(s) && !op.isCancelled()) {
                // The last worker: the server may have counted the provider's own connections
                // that were logging in beside this one (ProFTPD counts sessions still logging
                // in), which it has closed by now. It asks once more before giving up.
                tTrace = {};
                out = body(s, op);
            }
            if (!out.error && !op.isCancelled() && !leftovers_->copies().empty()) {
                SaveOnSession steps(*this, s, op);
                detail::removeLeftovers(steps, *leftovers_);
            }
            tTrace = {};
            return out;
        };
    }

    // The server path of the provider's root: the URL's path inside the login folder, learnt
    // from the first login (every login of a user starts in the same folder); a URL path that
    // starts with "%2F" counts from the server root. A server whose login folder is not a
    // "/" path is treated as rooted at "/".
    // `learnt`: set when this call's login told it.
    Outcome<std::string> rootFolder(Session& s, Operation& op, bool* learnt = nullptr) {
        if (base_.fromServerRoot) return base_.path;
        {
            std::lock_guard lock(rootMutex_);
            if (root_) return *root_;
        }
        prepare(s);
        // A session that never had a connection logs in now, and that is all this asks; a kept
        // connection is asked a command (see askFolder).
        StringList quote = s.encrypted < 0 ? StringList{} : opening(s, {});
        askFolder(s, origin() + "/", quote, s.encrypted < 0);
        TransferResult r = perform(s, op);
        if (!r.ok()) return ftpError(r, Context::list);
        const char* entry = nullptr;
        curl_easy_getinfo(s.easy(), CURLINFO_FTP_ENTRY_PATH, &entry);
        const std::string login = entry && entry[0] == '/' ? path::normalize(entry) : std::string("/");
        std::lock_guard lock(rootMutex_);
        root_ = path::join(login, base_.path);
        if (learnt) *learnt = true;
        return *root_;
    }

    void prepare(Session& s) const { prepare(s, timeouts()); }
    void prepare(Session& s, const Timeouts& t) const {
        tCarried = 0;
        s.reset(t);
        CURL* e = s.easy();
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
        // TLS whenever the server offers it (AUTH TLS, then PBSZ 0 and PROT P for the data
        // connections); plain FTP only when it refuses AUTH, and never when TLS is required.
        // A server that accepted AUTH is never spoken to in plain text afterwards: a failed
        // handshake ends the connection before USER.
        // After the provider spoke TLS, a new control connection requires it (see TlsGate).
        const bool required = requireTls_ || base_.scheme == "ftps" || tConnectionTlsRequired;
        curl_easy_setopt(e, CURLOPT_USE_SSL, static_cast<long>(required ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        tTlsGate = {};
        if (!required && !plainAfterTls_ && spokeTls_.load()) {
            tTlsGate.controlPort = serverPort();
            curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &openUnlessControl);
        }
        curl_easy_setopt(e, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        curl_easy_setopt(e, CURLOPT_SSLVERSION, sslVersion());
        useTlsSetup(s);
        // A data connection is closed once what the server sent on it is read: see net/Curl.h.
        net::closeAfterReading(e, serverPort());
        // Never through a proxy: libcurl would hand an HTTP proxy the login in plain text.
        net::setProxyUse(e, net::ProxyUse::none);
        setCredentials(e);
        curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(e, CURLOPT_FTP_SKIP_PASV_IP, 1L);
        curl_easy_setopt(e, CURLOPT_FTP_USE_EPSV, 1L);
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         static_cast<long>(std::max<long long>(1, (t.reply.count() + 999) / 1000)));
    }

    // TLS 1.2 or newer; only 1.2 for a server seen breaking off an upload over TLS 1.3 (see
    // brokeUploadOverTls13).
    long sslVersion() const {
        const long atLeast12 = static_cast<long>(CURL_SSLVERSION_TLSv1_2);
        return tls12Only_.load() ? atLeast12 | static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2) : atLeast12;
    }
    static void logTlsFallback(const std::string& reply) {
        logWarning("FTP: the server broke off an upload over TLS 1.3 (" + reply +
                       "); it is spoken to in TLS 1.2 from now on, where it speaks that",
                   "perform", __LINE__);
    }
    // libcurl takes a kept FTP connection whatever TLS versions it was made with: a session's
    // connections made before the fall-back are closed.
    void useTlsSetup(Session& s) const {
        const int setup = tls12Only_.load() ? 2 : 1;
        if (s.connectionSetup != 0 && s.connectionSetup != setup) s.dropConnections();
        s.connectionSetup = setup;
    }
    // vsftpd's answer when a read of an upload's data connection failed over TLS 1.3 ("426
    // Failure reading network stream."), as it did when a client closed that connection with the
    // server's session tickets unread (the reset threw away the upload's tail); a client that
    // reads them first (net::closeAfterReading) no longer meets it. Only that evidence counts:
    // an upload the server broke off with these words over a connection that speaks TLS 1.3
    // (the data connections resume the control connection's session, so they speak its version).
    bool brokeUploadOverTls13(Session& s, const TransferResult& r) const {
        if (r.ok() || r.cancelled || r.silent || tls12Only_.load() || r.uploaded == 0 || r.responseCode != 426 ||
            s.encrypted != 1 || !replyHas(r.lastReply(), "failure reading network stream"))
            return false;
        const curl_tlssessioninfo* tls = nullptr;
        if (curl_easy_getinfo(s.easy(), CURLINFO_TLS_SSL_PTR, &tls) != CURLE_OK || !tls ||
            tls->backend != CURLSSLBACKEND_OPENSSL || !tls->internals)
            return false;
        return SSL_version(static_cast<const SSL*>(tls->internals)) == TLS1_3_VERSION;
    }

    // The server path of a provider path below the root folder, with a name's own bytes.
    static std::string onServer(const std::string& root, const std::string& providerPath) {
        return path::join(root, path::toServer(providerPath));
    }

    std::string origin() const { return base_.scheme + "://" + base_.authority; }
    // "/%2F" keeps the path absolute from the server root whatever the login folder is.
    std::string fileUrl(const std::string& server) const {
        return origin() + "/%2F" + path::encodePath(path::normalize(server).substr(1));
    }
    std::string folderUrl(const std::string& server) const {
        std::string p = path::normalize(server);
        return origin() + "/%2F" + path::encodePath(p.substr(1)) + (p == "/" ? "" : "/");
    }

    // A transfer that only goes into a folder (a CWD, no file, no commands of its own before).
    // In the folder the kept connection is already in, libcurl sends nothing before it reads
    // the control connection, and libcurl 7.88 reads a reply it did not ask for (the "421
    // Timeout." of a server that closed the idle connection) from where the previous transfer's
    // last reply ended, in a buffer it has freed since: a NOOP first makes every such transfer
    // read only replies it asked for (and a connection closed while idle fails on it, to be
    // tried once more). Commands of the transfer's own (`quote`, kept until it ran) do the same.
    // `loginOnly`: the transfer opens a new connection, whose login is all it asks.
    static void askFolder(Session& s, const std::string& url, const StringList& quote = {}, bool loginOnly = false) {
        static const StringList noop{"NOOP"};
        curl_easy_setopt(s.easy(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        if (!loginOnly) curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get() ? quote.get() : noop.get());
    }

    // A worker's kept connection that sat idle for the keep-alive time sends a NOOP (no CWD, no
    // other command), so that a NAT or firewall that forgets idle connections keeps it. Never a
    // new connection for it: one the server closed meanwhile is opened again by the next
    // operation, as before, and gets no NOOPs until then.
    void keepAlive(Session& s, Operation& op) const {
        if (!tConnectionKept) return;
        static const StringList noop{"NOOP"};
        prepare(s);
        curl_easy_setopt(s.easy(), CURLOPT_URL, (origin() + "/").c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, noop.get());
        curl_easy_setopt(s.easy(), CURLOPT_OPENSOCKETFUNCTION, &noNewConnection);
        const TransferResult r = s.perform(op);
        if (!r.ok()) tConnectionKept = false;
    }

    // Commands on the control connection only ("MKD /a", "RNFR /a" + "RNTO /b"), where the
    // connection is (its folder stays what libcurl knows it to be); with `mlst`, MLST is told
    // the facts to show first.
    TransferResult command(Session& s, Operation& op, const std::vector<std::string>& commands, bool mlst = false) const {
        prepare(s);
        StringList quote = opening(s, {}, mlst);
        for (const auto& c : commands) {
            // A command naming a path outside ASCII goes with OPTS UTF8 ON in front of it.
            if (!quote.get() && std::any_of(c.begin(), c.end(), [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; }))
                quote = opening(s, {c}, mlst);
            quote.append(c);
        }
        stayInFolder(s);
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        return perform(s, op);
    }

    // A transfer of commands only, in whatever folder the connection is: libcurl keeps knowing
    // that folder, so the next transfer into it needs no CWD.
    void stayInFolder(Session& s) const {
        curl_easy_setopt(s.easy(), CURLOPT_URL, (origin() + "/%2F").c_str());
        curl_easy_setopt(s.easy(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
    }

    // Folder first (a CWD into it), then file (SIZE): some servers answer SIZE for a folder too.
    Outcome<Presence> probe(Session& s, Operation& op, const std::string& server) const {
        if (path::normalize(server) == "/") return Presence::folder;
        {
            prepare(s);
            askFolder(s, folderUrl(server));
            TransferResult r = perform(s, op);
            if (r.ok()) return Presence::folder;
            if (r.code != CURLE_REMOTE_ACCESS_DENIED) return ftpError(r, Context::probe);
        }
        prepare(s);
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(server).c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        TransferResult r = perform(s, op);
        if (r.ok()) return Presence::file;
        if (r.cancelled || r.silent) return transportError(r);
        if (r.code == CURLE_REMOTE_ACCESS_DENIED) return Presence::parentMissing;
        if (r.code == CURLE_REMOTE_FILE_NOT_FOUND) return Presence::absent;
        return ftpError(r, Context::probe);
    }

    std::optional<FileError> requireAbsent(Session& s, Operation& op, const std::string& server) const {
        auto presence = probe(s, op, server);
        if (presence.error) return presence.error;
        if (presence.value == Presence::file || presence.value == Presence::folder)
            return FileError::make(ErrorKind::alreadyExists);
        if (presence.value == Presence::parentMissing) return FileError::make(ErrorKind::parentMissing);
        return std::nullopt;
    }

    Outcome<std::vector<FileObject>> listFolder(Session& s, Operation& op, const std::string& server,
                                                const std::string& entriesFolder) {
        const std::string url = folderUrl(server);
        if (mlsd_.load() == yes) {
            // MLSD takes the folder's path (RFC 3659): no CWD. A refusal is asked again the way
            // below, whose CWD tells a missing folder or a file apart from other refusals.
            for (int round = 0; round < 2; ++round) {
                prepare(s);
                StringList quote = opening(s, {server});
                const bool saidUtf8 = quote.get() != nullptr;
                curl_easy_setopt(s.easy(), CURLOPT_URL, url.c_str());
                curl_easy_setopt(s.easy(), CURLOPT_CUSTOMREQUEST, "MLSD");
                curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
                curl_easy_setopt(s.easy(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
                TransferResult r = perform(s, op);
                if (r.cancelled || r.silent) return transportError(r);
                if (!r.ok()) break;
                // Names come as the server sends them once told OPTS UTF8 ON: a listing over a
                // connection opened again without it is asked again.
                if (greeted(r) && !saidUtf8 && round == 0) continue;
                return readable(parse::readMlsd(r.body, entriesFolder));
            }
        }
        if (mlsd_.load() != no) {
            prepare(s);
            StringList quote = opening(s, {server});
            curl_easy_setopt(s.easy(), CURLOPT_URL, url.c_str());
            curl_easy_setopt(s.easy(), CURLOPT_CUSTOMREQUEST, "MLSD");
            curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
            TransferResult r = perform(s, op);
            if (r.ok()) {
                mlsd_.store(yes);
                return readable(parse::readMlsd(r.body, entriesFolder));
            }
            if (r.cancelled || r.silent || !isSupportRefusal(r.responseCode) || mlsd_.load() == yes)
                return ftpError(r, Context::list);
            mlsd_.store(no);  // this server has no MLSD: LIST from now on
        }
        prepare(s);
        StringList quote = opening(s, {server});
        curl_easy_setopt(s.easy(), CURLOPT_URL, url.c_str());
        // "-a": plain LIST hides dot-files on some servers; "." and ".." are dropped by the parser.
        curl_easy_setopt(s.easy(), CURLOPT_CUSTOMREQUEST, "LIST -a");
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        TransferResult r = perform(s, op);
        if (!r.ok()) return ftpError(r, Context::list);
        return readable(parse::readList(r.body, entriesFolder, std::chrono::system_clock::now()));
    }

    // A listing with lines of which none could be read is no empty folder. The lines that could
    // not be read are logged.
    Outcome<std::vector<FileObject>> readable(parse::Listing listing) {
        logUnreadLines(listing);
        if (listing.unsupportedForm) {
            FileError error = FileError::make(ErrorKind::other);
            error.message = "The server's folder listing is in a form that is not supported (a mainframe data set listing).";
            return error;
        }
        if (listing.entries.empty() && listing.unreadLines > 0) {
            FileError error = FileError::make(ErrorKind::other);
            error.message = "The server's folder listing could not be read.";
            return error;
        }
        return std::move(listing.entries);
    }

    // A RETR of the file's full path (no CWD); with `version`, the file's modification time
    // (MDTM) asked in the same exchange. No SIZE is asked (a round trip): the size the server
    // announces with the transfer ("150 ... (20480 bytes)") is checked instead, and with
    // `maxSize`, a file that turns out bigger is broken off there (CURLE_FILESIZE_EXCEEDED).
    Outcome<Bytes> download(Session& s, Operation& op, const std::string& server, FileVersion* version = nullptr,
                            std::size_t maxSize = 0, TransferResult* failure = nullptr) const {
        prepare(s);
        StringList quote = opening(s, {server});
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(server).c_str());
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        curl_easy_setopt(s.easy(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        if (version) curl_easy_setopt(s.easy(), CURLOPT_FILETIME, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        if (maxSize) s.limitBody(maxSize);
        s.sizeInHeaders([](const std::vector<std::string>& lines) -> std::optional<std::uint64_t> {
            if (auto size = announcedSize(lines)) return static_cast<std::uint64_t>(*size);
            return std::nullopt;
        });
        TransferResult r = perform(s, op);
        if (maxSize && s.bodyCut() && !r.cancelled && !r.silent) {
            r.code = CURLE_FILESIZE_EXCEEDED;
            r.body.clear();
        }
        if (r.ok()) {
            if (auto announced = announcedSize(r.headers); announced && *announced != static_cast<long long>(r.body.size())) {
                r.code = CURLE_PARTIAL_FILE;
                r.curlMessage = "The server announced " + std::to_string(*announced) + " bytes and sent " +
                                std::to_string(r.body.size()) + ".";
            }
        }
        if (!r.ok()) {
            if (failure) *failure = r;
            return ftpError(r, Context::read);
        }
        if (version) version->modificationDate = fileTime(s);
        return std::move(r.body);
    }

    // The size a server announces when a download begins: "150 Opening BINARY mode data
    // connection for a.html (20480 bytes)." (as libcurl reads it where it asks no SIZE).
    static std::optional<long long> announcedSize(const std::vector<std::string>& replies) {
        for (const std::string& line : replies) {
            if (line.size() < 4 || (line.compare(0, 3, "150") != 0 && line.compare(0, 3, "125") != 0)) continue;
            const std::size_t close = line.rfind(" bytes)");
            const std::size_t open = close == std::string::npos ? close : line.rfind('(', close);
            if (open == std::string::npos) return std::nullopt;
            const std::string digits = line.substr(open + 1, close - open - 1);
            if (digits.empty() || digits.size() > 18 || !std::all_of(digits.begin(), digits.end(), [](char c) {
                    return std::isdigit(static_cast<unsigned char>(c));
                }))
                return std::nullopt;
            return std::stoll(digits);
        }
        return std::nullopt;
    }

    Outcome<Bytes> readFile(Session& s, Operation& op, const std::string& file, FileVersion* version) {
        if (auto e = checkPaths({file})) return *e;
        if (path::normalize(file) == "/") return FileError::make(ErrorKind::invalidPath, "the root is a folder");
        auto root = rootFolder(s, op);
        if (root.error) return *root.error;
        auto read = download(s, op, onServer(root.value, file), version);
        readyAnotherConnection();
        return read;
    }

    // A write (see WriteMode) through the one save algorithm (Save.h), a replace with
    // `expected` only over that version of the file, a new file never over anything. With `versioned`, the version written is
    // returned: the modification time the server tells afterwards, and the bytes' size and hash.
    // `fragment`: what a write in place that broke off left, when the server could tell.
    Outcome<FileVersion> writeFile(Session& s, Operation& op, const std::string& file, const std::optional<Bytes>& data,
                                   WriteMode mode, const FileVersion* expected, bool versioned,
                                   std::optional<FileVersion>* fragment = nullptr) {
        if (auto e = checkPaths({file})) return *e;
        if (path::normalize(file) == "/") return FileError::make(ErrorKind::invalidPath, "the root is a folder");
        auto root = rootFolder(s, op);
        if (root.error) return *root.error;
        const std::string target = onServer(root.value, file);
        static const Bytes empty;
        const Bytes& bytes = data ? *data : empty;
        const bool fresh = mode == WriteMode::createNew;
        SaveOnSession steps(*this, s, op, expected, fresh);
        SaveResult saved = saveFile(steps, *leftovers_, SaveRequest{target, path::normalize(file), bytes, expected, fresh});
        if (saved.error) {
            if (fragment) *fragment = std::move(saved.fragment);
            return *saved.error;
        }
        FileVersion version;
        if (!versioned) return version;
        addContentFacts(version, bytes);
        // A version that keeps the bytes' hash is checked by them (VersionCheck.h): the
        // modification time is asked only for a file too big for that. The write is done
        // whatever this says; a file whose time cannot be told is compared by its size.
        if (!comparedByBytes(version)) {
            if (auto now = statFile(s, op, target, false); !now.error) version.modificationDate = now.value.modificationDate;
        }
        return version;
    }

    // The modification time of the file the last transfer asked MDTM about, when the server told it.
    static std::optional<std::chrono::system_clock::time_point> fileTime(Session& s) {
        curl_off_t seconds = -1;
        if (curl_easy_getinfo(s.easy(), CURLINFO_FILETIME_T, &seconds) != CURLE_OK || seconds < 0) return std::nullopt;
        return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
    }

    // What the server says of a file now: its modification time (MDTM) and, with `withSize`,
    // its size (SIZE), without its bytes; only these commands, with the full path. notFound
    // when it is not there (MDTM says 550). Servers that answer SIZE only in binary mode refuse
    // it after a listing: then it is asked the way libcurl does, in binary mode.
    Outcome<FileVersion> statFile(Session& s, Operation& op, const std::string& server, bool withSize = true) const {
        prepare(s);
        StringList quote = opening(s, {server});
        quote.append("*MDTM " + server);
        if (withSize) quote.append("*SIZE " + server);
        stayInFolder(s);
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        TransferResult r = perform(s, op);
        if (!r.ok()) return ftpError(r, Context::read);
        // The last replies answer MDTM and SIZE, in that order.
        std::vector<const std::string*> finals;
        for (const std::string& line : r.headers) {
            if (line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) && line[3] == ' ')
                finals.push_back(&line);
        }
        const std::size_t asked = withSize ? 2 : 1;
        if (finals.size() < asked) return FileError::make(ErrorKind::other, "The server did not answer MDTM.");
        const std::string& mdtm = *finals[finals.size() - asked];
        FileVersion version;
        if (mdtm.compare(0, 4, "550 ") == 0) return FileError::make(ErrorKind::notFound);
        if (mdtm.compare(0, 4, "213 ") == 0) version.modificationDate = parse::mlsdTime(trimmed(mdtm.substr(4)));
        if (withSize) {
            TransferResult sizeReply;
            sizeReply.headers = {*finals.back()};
            if (auto size = reportedSize(sizeReply)) version.size = static_cast<std::int64_t>(*size);
            else return statInBinaryMode(s, op, server);
        }
        return version;
    }
    Outcome<FileVersion> statInBinaryMode(Session& s, Operation& op, const std::string& server) const {
        prepare(s);
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(server).c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_FILETIME, 1L);
        TransferResult r = perform(s, op);
        if (!r.ok()) {
            if (r.code == CURLE_REMOTE_FILE_NOT_FOUND) return FileError::make(ErrorKind::notFound);
            return ftpError(r, Context::read);
        }
        FileVersion version;
        version.modificationDate = fileTime(s);
        curl_off_t size = -1;
        if (curl_easy_getinfo(s.easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) == CURLE_OK && size >= 0)
            version.size = static_cast<std::int64_t>(size);
        return version;
    }
    static std::string trimmed(std::string text) {
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
        return text;
    }

    // A new file (a copy's) through the one save algorithm: never over anything, and never part
    // of the bytes under its name. `file`: its provider path (see LeftoverCopies).
    Done createFile(Session& s, Operation& op, const std::string& target, const std::string& file, std::string_view data) {
        SaveOnSession steps(*this, s, op, nullptr, true);
        SaveResult saved = saveFile(steps, *leftovers_, SaveRequest{target, path::normalize(file), data, nullptr, true});
        if (saved.error) return *saved.error;
        return {};
    }

    TransferResult store(Session& s, Operation& op, const std::string& server, std::string_view data) const {
        prepare(s);
        StringList quote = opening(s, {server});
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(server).c_str());
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        curl_easy_setopt(s.easy(), CURLOPT_UPLOAD, 1L);
        s.setUpload(data);
        return perform(s, op);
    }

    // What the server says about the file a save replaces, as MLST or LIST tells it.
    struct ServerFacts {
        bool known = false;  // the server described it: it exists
        FileType type = FileType::unknown;
        std::optional<unsigned> mode;
        std::int64_t size = -1;  // bytes, where the line shows them
        bool fromList = false;  // asked with LIST (the server has no MLST)
        bool absent = false;    // a listing that was read whole does not have it
        std::string linkTarget;  // a symbolic link's target as the server shows it, when it does
    };

    // The steps of a save (Save.h) over this worker's connection. The copy goes up with a STAT
    // of the file before it (its long listing line: a link and its target, the file's mode) and
    // a STAT of the copy after it (the size and bits it got), in one exchange; where STAT shows
    // no such line, MLST tells, and on a server without MLST its listings do (see listFacts),
    // and SIZE tells the copy's size. A link found then sends the save to its target (the copy
    // goes). The bits are set with SITE CHMOD unless the copy has them already; where the
    // server refuses that, a copy that has the bits already will do.
    // A check of the file's version by its bytes (`expected`) is three round trips of its own
    // (EPSV, RETR, its end): it goes to a second connection the moment the copy's last byte is
    // on its way (CheckBeside), where one sits free in binary mode, so that it no longer follows
    // the copy's replies but runs beside them. It reads the file no earlier than the check
    // after them would: the server has the copy's bytes before it has the RETR, and the save
    // still waits for the check's answer before the rename. Its answer counts only when the
    // save asked no more meanwhile than the copy's replies and a SITE CHMOD (an exchange fewer
    // than the check's own, so that the check still ends last); otherwise, and when it brought
    // no answer (an error of any kind), the file is read again over the save's own connection.
    class SaveOnSession final : public SaveSteps {
    public:
        // `fresh`: the save of a new file (SaveRequest::fresh).
        SaveOnSession(FtpProvider& provider, Session& s, Operation& op, const FileVersion* expected = nullptr,
                      bool fresh = false)
            : p_(provider), s_(s), op_(op), expected_(expected), fresh_(fresh) {}
        ~SaveOnSession() override { endCheckBeside(); }
        SaveOnSession(const SaveOnSession&) = delete;
        SaveOnSession& operator=(const SaveOnSession&) = delete;

        // Everything comes with the upload of the copy (lookAgain); a new file's name is looked
        // at first, so that a name taken already costs no upload.
        Outcome<TargetFacts> look(const std::string& target) override {
            TargetFacts facts;
            if (!fresh_) return facts;
            auto presence = p_.probe(s_, op_, target);
            if (presence.error) return *presence.error;
            switch (presence.value) {
                case Presence::file: facts.kind = TargetFacts::Kind::file; break;
                case Presence::folder: facts.kind = TargetFacts::Kind::folder; break;
                case Presence::absent: facts.kind = TargetFacts::Kind::absent; break;
                case Presence::parentMissing: return FileError::make(ErrorKind::parentMissing);
            }
            return facts;
        }

        Outcome<TargetFacts> lookAgain(const std::string& target, const TargetFacts&) override {
            ServerFacts facts = statFacts(stored_, target);
            if (!facts.known) besideFresh_ = false;
            if (!facts.known && p_.mlsd_.load() != no) {
                TransferResult r = p_.command(s_, op_, {"*MLST " + target}, true);
                if (r.cancelled || r.silent) return transportError(r);
                facts = mlstFacts(r);
            }
            if (!facts.known && p_.mlsd_.load() != yes) {  // a server without MLST: its LIST tells
                auto listed = p_.listFacts(s_, op_, target);
                if (listed.error) return *listed.error;
                facts = listed.value;
            }
            fromList_ = facts.fromList;
            TargetFacts out;
            out.mode = facts.mode;
            out.linkTarget = facts.linkTarget;
            if (facts.known) {
                out.kind = facts.type == FileType::symbolicLink ? TargetFacts::Kind::link
                           : facts.type == FileType::regular    ? TargetFacts::Kind::file
                           : facts.type == FileType::directory  ? TargetFacts::Kind::folder
                                                                : TargetFacts::Kind::other;
            } else if (facts.absent) {
                out.kind = TargetFacts::Kind::absent;
            }
            out.modeUntold = facts.fromList && !facts.absent && !facts.mode;
            return out;
        }

        // The target as the server shows it counts from the link's folder, or from the server's
        // root when it is absolute; it is taken only when the server tells the same size and
        // modification time for it as for the link (an absolute target may be a path outside
        // what the login sees).
        Outcome<std::optional<std::string>> followLink(const std::string& link, const TargetFacts& facts,
                                                        std::string& why) override {
            const auto resolved = resolveLink(link, facts.linkTarget);
            if (facts.linkTarget.empty()) {
                why = "the server does not show its target";
            } else if (!resolved) {
                why = "its target " + facts.linkTarget + " lies above the server's root";
            } else {
                auto same = p_.sameFile(s_, op_, link, *resolved);
                if (same.error) return *same.error;
                if (same.value) return resolved;
                why = "its target " + facts.linkTarget + " is not a file the server shows as " + *resolved;
            }
            return std::optional<std::string>();
        }

        StepResult writeCopy(const std::string& copy, const std::string& target, std::string_view data, bool) override {
            endCheckBeside();
            std::function<void()> uploaded;
            if (expected_ && comparedByBytes(*expected_)) uploaded = [this, target] { startCheckBeside(target); };
            stored_ = p_.storeTemporary(s_, op_, target, copy, data, std::move(uploaded));
            // A transfer that had to log in again (its first connection broke) may have sent the
            // copy twice: the check beside may have read the file before the copy that counts.
            besideFresh_ = !greeted(stored_);
            const TransferResult& r = stored_;
            if (isNameRefused(r) && plainPath(target)) {
                // The copy went up by its full path, with no CWD to fail first: a folder that is
                // not there is told apart here.
                auto folder = p_.probe(s_, op_, path::parent(copy));
                if (folder.error) return StepResult::with(StepResult::State::failed, *folder.error);
                if (folder.value == Presence::absent || folder.value == Presence::parentMissing)
                    return StepResult::with(StepResult::State::failed, FileError::make(ErrorKind::parentMissing));
            }
            if (isNameRefused(r)) {
                StepResult refused = StepResult::with(StepResult::State::refused, ftpError(r, Context::write), r.lastReply());
                refused.nameRefused = true;
                return refused;
            }
            if (!r.ok()) return StepResult::with(r.silent ? StepResult::State::lost : StepResult::State::failed,
                                                 ftpError(r, Context::write));
            // What the server stored, as its STAT of the copy shows; SIZE where that shows nothing.
            const ServerFacts copied = statFacts(r, copy);
            copyMode_ = copied.known ? copied.mode : std::nullopt;
            std::optional<long long> stored;
            if (copied.known && copied.size >= 0) {
                stored = copied.size;
            } else {
                besideFresh_ = false;
                TransferResult sized = p_.command(s_, op_, {"*SIZE " + copy});
                if (sized.cancelled || sized.silent)
                    return StepResult::with(sized.silent ? StepResult::State::lost : StepResult::State::failed,
                                            transportError(sized));
                stored = reportedSize(sized);
            }
            if (stored && *stored != static_cast<long long>(data.size())) {
                return StepResult::with(StepResult::State::failed,
                                        FileError::make(ErrorKind::other, "The server stored " + std::to_string(*stored) +
                                                                              " of " + std::to_string(data.size()) +
                                                                              " bytes; the file on the server was left as it was."));
            }
            return StepResult::done();
        }

        StepResult setMode(const std::string& copy, unsigned mode) override {
            if (copyMode_ == mode) return StepResult::done();  // the copy has the bits already
            const std::string bits = modeText(mode);
            // One exchange, while the check beside (three) still runs: its answer still counts.
            TransferResult c = p_.command(s_, op_, {"SITE CHMOD " + bits + " " + copy});
            if (c.ok()) return StepResult::done();
            besideFresh_ = false;
            if (c.cancelled || c.silent || c.code != CURLE_QUOTE_ERROR)
                return StepResult::with(c.silent ? StepResult::State::lost : StepResult::State::failed,
                                        ftpError(c, Context::command));
            // The copy may have the file's bits already (they are the server's default for new files).
            auto copied = p_.temporaryMode(s_, op_, copy, fromList_);
            if (copied.error)
                return StepResult::with(copied.error->kind == ErrorKind::timedOut ? StepResult::State::lost
                                                                                  : StepResult::State::failed,
                                        *copied.error);
            if (copied.value == mode) return StepResult::done();
            return StepResult::with(StepResult::State::refused, ftpError(c, Context::command),
                                    "the server refused mode " + bits + " for the temporary file (" + c.lastReply() +
                                        "), and the copy has " +
                                        (copied.value ? "mode " + modeText(*copied.value) : "a mode it did not tell"));
        }

        Outcome<FileVersion> versionNow(const std::string& target) override { return p_.statFile(s_, op_, target); }

        // Not fetched when the server says the file has grown past the limit.
        Outcome<std::optional<Bytes>> bytesUpTo(const std::string& target, std::size_t limit, FileVersion& version) override {
            // The bytes tell the version; no modification time is asked.
            (void)version;
            if (auto answer = answerBeside(target, limit)) return std::move(*answer);
            TransferResult failure;
            auto bytes = p_.download(s_, op_, target, nullptr, limit, &failure);
            if (failure.code == CURLE_FILESIZE_EXCEEDED) return std::optional<Bytes>();
            if (bytes.error) return *bytes.error;
            return std::optional<Bytes>(std::move(bytes.value));
        }

        StepResult replace(const std::string& copy, const std::string& target) override { return rename(copy, target); }

        // RNTO replaces an existing file on most servers, and FTP has no rename that refuses: the
        // name is looked at right before the rename. A file somebody makes in the moment between
        // that look and the RNTO (a few round trips) is replaced; one made earlier is not.
        StepResult placeNew(const std::string& copy, const std::string& target) override {
            if (auto taken = nameTaken(target)) return *taken;
            return rename(copy, target);
        }

        StepResult rename(const std::string& from, const std::string& to) override {
            TransferResult m = p_.command(s_, op_, {"RNFR " + from, "RNTO " + to});
            if (m.ok()) return StepResult::done();
            if (m.cancelled || m.silent || m.code != CURLE_QUOTE_ERROR)
                return StepResult::with(StepResult::State::lost, ftpError(m, Context::command));
            return StepResult::with(StepResult::State::refused, ftpError(m, Context::command), m.lastReply());
        }

        // Once its bytes have begun to move, a failure leaves the server's file holding only part
        // of them. A new file is looked for first, as placeNew does.
        StepResult writeInPlace(const std::string& target, std::string_view data, bool fresh) override {
            if (fresh) {
                if (auto taken = nameTaken(target)) return *taken;
            }
            TransferResult r = p_.store(s_, op_, target, data);
            if (r.ok()) return StepResult::done();
            FileError error = ftpError(r, Context::write);
            error.targetIncomplete = transferStarted(r) || r.uploaded > 0;
            return StepResult::with(error.targetIncomplete ? StepResult::State::failed : StepResult::State::refused,
                                    std::move(error));
        }

        StepResult remove(const std::string& path) override {
            const TransferResult r = p_.removeQuietly(s_, path);
            if (r.ok()) return StepResult::done();
            if (r.code == CURLE_QUOTE_ERROR && !r.cancelled && !r.silent)
                return StepResult::with(StepResult::State::refused, ftpError(r, Context::command), r.lastReply());
            return StepResult::with(StepResult::State::lost, FileError::make(ErrorKind::timedOut));
        }

        Outcome<bool> exists(const std::string& path) override {
            auto presence = p_.probe(s_, op_, path);
            if (presence.error) return *presence.error;
            return presence.value == Presence::file || presence.value == Presence::folder;
        }

        bool reconnect() override { return !op_.isCancelled(); }  // the next transfer opens a new connection
        bool cancelled() const override { return op_.isCancelled(); }
        void cut() override {
            curl_socket_t socket = CURL_SOCKET_BAD;
            if (curl_easy_getinfo(s_.easy(), CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK && socket != CURL_SOCKET_BAD)
                ::shutdown(socket, SHUT_RDWR);
        }
        std::string_view protocol() const override { return "FTP"; }

    private:
        // alreadyExists (refused) where something has the name; an error when that could not be told.
        std::optional<StepResult> nameTaken(const std::string& target) {
            auto there = exists(target);
            if (there.error) {
                return StepResult::with(there.error->kind == ErrorKind::timedOut ? StepResult::State::lost
                                                                                 : StepResult::State::failed,
                                        *there.error);
            }
            if (!there.value) return std::nullopt;
            return StepResult::with(StepResult::State::refused, FileError::make(ErrorKind::alreadyExists), "the name is taken");
        }

        // The version check on a second connection, and its answer.
        struct CheckBeside {
            std::string target;
            // Its own: a cancel of the save reaches it while the save waits for it, and the
            // pool's stop while nobody does.
            OperationHandle op = std::make_shared<Operation>();
            std::mutex mutex;
            std::condition_variable answered;
            bool done = false;
            bool verdict = false;  // the file's bytes came, or the server said it has grown past the limit
            std::optional<Bytes> bytes;
        };

        // From the copy's upload, on the save's thread: lends the check to a free worker whose
        // connection is open in binary mode (one that would log in or change mode first would
        // gain nothing); where none is, to the provider's spare worker. A spare that has to log
        // in first (or mend its connection) is not waited for: its answer counts only when it
        // came in time, and its connection is then ready for the next save's check.
        void startCheckBeside(const std::string& target) {
            auto beside = std::make_shared<CheckBeside>();
            beside->target = target;
            const WorkerPool::Lent lent = p_.lendWorker(
                [](const Session& s) { return (s.connectionSaid & (kOpen | kBinary)) == (kOpen | kBinary); }, beside->op,
                [provider = &p_, beside](Session& s) {
                    bool verdict = false;
                    std::optional<Bytes> bytes;
                    try {
                        tTrace = {};
                        TransferResult failure;
                        auto read = provider->download(s, *beside->op, beside->target, nullptr, kHashedSizeLimit, &failure);
                        if (!read.error) {
                            bytes = std::move(read.value);
                            verdict = true;
                        } else {
                            verdict = failure.code == CURLE_FILESIZE_EXCEEDED;
                        }
                        // A server that keeps to a number of connections gets no more from the spare.
                        if (tTrace.turnedAway) provider->noSpareWorker();
                        tTrace = {};
                    } catch (...) {
                    }
                    {
                        std::lock_guard lock(beside->mutex);
                        beside->verdict = verdict;
                        beside->bytes = std::move(bytes);
                        beside->done = true;
                    }
                    beside->answered.notify_all();
                });
            if (lent == WorkerPool::Lent::no) return;
            beside_ = std::move(beside);
            besideWaited_ = lent == WorkerPool::Lent::suited;
        }

        // Ends the save's part in the check beside: waits for it where it is waited for (a
        // cancel of the save cancels it), and lets it go.
        std::shared_ptr<CheckBeside> endCheckBeside() {
            std::shared_ptr<CheckBeside> beside = std::move(beside_);
            beside_.reset();
            if (!beside) return nullptr;
            if (!besideWaited_) return beside;
            const bool armed = OperationAccess::arm(op_, [beside] { beside->op->cancel(); });
            if (!armed) beside->op->cancel();
            {
                std::unique_lock lock(beside->mutex);
                beside->answered.wait(lock, [&] { return beside->done; });
            }
            if (armed) OperationAccess::disarm(op_);
            return beside;
        }

        // The answer of the check beside, when it is one for this read that still counts.
        std::optional<std::optional<Bytes>> answerBeside(const std::string& target, std::size_t limit) {
            const bool fresh = besideFresh_;
            besideFresh_ = false;
            std::shared_ptr<CheckBeside> beside = endCheckBeside();
            if (!beside || !fresh || op_.isCancelled() || beside->target != target || limit != kHashedSizeLimit)
                return std::nullopt;
            std::lock_guard lock(beside->mutex);
            if (!beside->done || !beside->verdict) return std::nullopt;
            return std::move(beside->bytes);
        }

        FtpProvider& p_;
        Session& s_;
        Operation& op_;
        const FileVersion* expected_;
        const bool fresh_;
        std::shared_ptr<CheckBeside> beside_;
        bool besideWaited_ = false;  // it went to a connection ready for it
        bool besideFresh_ = false;
        TransferResult stored_;  // the upload of the copy, with the server's replies about the file
        bool fromList_ = false;
        std::optional<unsigned> copyMode_;  // the copy's bits as the server showed them after its upload
    };

    // The server path a link's target names ("index.html", "../www/index.html", "/var/www/a"),
    // or nothing when it climbs above the root.
    static std::optional<std::string> resolveLink(const std::string& link, const std::string& target) {
        if (target.empty()) return std::nullopt;
        std::vector<std::string> parts;
        const std::string whole = (target.front() == '/' ? std::string() : path::parent(link)) + "/" + target;
        std::size_t start = 0;
        while (start <= whole.size()) {
            std::size_t end = std::min(whole.find('/', start), whole.size());
            const std::string part = whole.substr(start, end - start);
            start = end + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (parts.empty()) return std::nullopt;
                parts.pop_back();
                continue;
            }
            parts.push_back(part);
        }
        std::string out;
        for (const std::string& part : parts) out += "/" + part;
        return out.empty() ? std::string("/") : out;
    }

    // Whether the server tells the same size and modification time for both paths (it follows
    // links for SIZE and MDTM); false when it cannot tell them for either.
    Outcome<bool> sameFile(Session& s, Operation& op, const std::string& a, const std::string& b) const {
        auto first = stamp(s, op, a);
        if (first.error) return *first.error;
        if (!first.value) return false;
        auto second = stamp(s, op, b);
        if (second.error) return *second.error;
        return second.value == first.value;
    }
    Outcome<std::optional<std::pair<curl_off_t, curl_off_t>>> stamp(Session& s, Operation& op,
                                                                    const std::string& server) const {
        prepare(s);
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(server).c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_FILETIME, 1L);
        TransferResult r = perform(s, op);
        if (r.cancelled || r.silent) return transportError(r);
        if (!r.ok()) return std::optional<std::pair<curl_off_t, curl_off_t>>();
        curl_off_t size = -1, time = -1;
        curl_easy_getinfo(s.easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        curl_easy_getinfo(s.easy(), CURLINFO_FILETIME_T, &time);
        if (size < 0 || time < 0) return std::optional<std::pair<curl_off_t, curl_off_t>>();
        return std::optional(std::make_pair(size, time));
    }

    // What STAT PATH showed of the file in the replies of `r`: its type, mode and a link's
    // target (empty when the line shows none), from its long listing line, which names the file
    // by its name (vsftpd, pyftpdlib) or by the path as asked (pure-ftpd, ProFTPD). Nothing
    // known when no line names it (not every server has STAT with a name, vsftpd leaves out a
    // link whose target is relative): the save's other questions follow.
    static ServerFacts statFacts(const TransferResult& r, const std::string& target) {
        const std::string name = path::lastComponent(target);
        const auto now = std::chrono::system_clock::now();
        ServerFacts facts;
        for (const std::string& reply : r.headers) {
            // The listing lines of "213-Status of ...:" ... "213 End of status.", some indented.
            if (reply.size() >= 4 && std::isdigit(static_cast<unsigned char>(reply[0])) &&
                (reply[3] == '-' || reply[3] == ' '))
                continue;
            std::string_view line = reply;
            while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
            // A line naming the path as asked names the file (a listing's names have no "/").
            std::string text(line);
            if (const std::size_t at = text.find(" " + target);
                at != std::string::npos && (at + 1 + target.size() == text.size() ||
                                            text.compare(at + 1 + target.size(), 4, " -> ") == 0))
                text.replace(at + 1, target.size(), name);
            line = text;
            auto entry = parse::listLine(line, "/", now);
            if (!entry || path::toServer(entry->path) != "/" + name) continue;
            facts.known = true;
            facts.fromList = true;
            facts.type = entry->type;
            facts.size = entry->size;
            facts.mode = parse::listMode(line);
            if (entry->type == FileType::symbolicLink) facts.linkTarget = linkTargetIn(line, name);
            return facts;
        }
        return facts;
    }

    // The target of a link in its long listing line ("... link.html -> index.html").
    static std::string linkTargetIn(std::string_view line, const std::string& name) {
        const std::string marker = name + " -> ";
        const std::size_t at = line.find(marker);
        if (at == std::string_view::npos) return {};
        return std::string(line.substr(at + marker.size()));
    }

    // Sends the bytes to the temporary name; asks first what the server says about the file
    // (STAT) and afterwards what it stored (STAT of the copy: its size and the bits it got, in
    // one reply). STAT names the file by its full path, with no CWD (a round trip), where the
    // path is plain; else by its name, in its folder: servers split STAT's argument at spaces and
    // take it as a pattern, and pure-ftpd, which goes into the folder of a path it is given,
    // closes the connection when that fails.
    // `uploaded`: called once the copy's last byte is handed over, before the server's reply.
    TransferResult storeTemporary(Session& s, Operation& op, const std::string& target, const std::string& temp,
                                  std::string_view data, std::function<void()> uploaded = {}) const {
        prepare(s);
        StringList quote = opening(s, {temp});
        const bool byPath = plainPath(target);
        StringList before{"*STAT " + (byPath ? target : path::lastComponent(target))};
        StringList after{"*STAT " + (byPath ? temp : path::lastComponent(temp))};
        curl_easy_setopt(s.easy(), CURLOPT_URL, fileUrl(temp).c_str());
        if (byPath) curl_easy_setopt(s.easy(), CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        curl_easy_setopt(s.easy(), CURLOPT_PREQUOTE, before.get());
        curl_easy_setopt(s.easy(), CURLOPT_POSTQUOTE, after.get());
        curl_easy_setopt(s.easy(), CURLOPT_UPLOAD, 1L);
        s.setUpload(data);
        if (uploaded) s.whenUploadEnds(std::move(uploaded));
        return perform(s, op);
    }

    // A path of printable ASCII with nothing a server's listing commands read as a separator,
    // an option or a pattern.
    static bool plainPath(const std::string& server) {
        if (server.empty() || server.front() != '/') return false;
        for (std::size_t i = 0; i < server.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(server[i]);
            if (c <= 0x20 || c >= 0x7f || std::strchr("*?[]{}~\\\"'", c)) return false;
            if (c == '-' && server[i - 1] == '/') return false;
        }
        return true;
    }

    // The permission bits the server gave the temporary copy, as MLST or LIST tells them.
    Outcome<std::optional<unsigned>> temporaryMode(Session& s, Operation& op, const std::string& temp, bool fromList) {
        if (!fromList) {
            TransferResult r = command(s, op, {"*MLST " + temp}, true);
            if (r.cancelled || r.silent) return transportError(r);
            return mlstFacts(r).mode;
        }
        auto listed = listFacts(s, op, temp);
        if (listed.error) return *listed.error;
        return listed.value.mode;
    }

    static std::string modeText(unsigned mode) {
        char text[8];
        std::snprintf(text, sizeof text, mode > 0777 ? "%04o" : "%03o", mode);
        return text;
    }

    // STOR refused before any byte moved, for the name or the permission (not for space).
    static bool isNameRefusal(long code) { return code == 550 || code == 553 || code == 532; }
    static bool isNameRefused(const TransferResult& r) {
        return !r.ok() && !r.cancelled && !r.silent && r.code != CURLE_REMOTE_ACCESS_DENIED &&
               isNameRefusal(r.responseCode) && !transferStarted(r);
    }
    static bool transferStarted(const TransferResult& r) {
        for (const auto& line : r.headers) {
            if (line.size() >= 4 && line[0] == '1' && (line.compare(0, 3, "150") == 0 || line.compare(0, 3, "125") == 0))
                return true;
        }
        return false;
    }
    // The SIZE reply after an upload ("213 5242880").
    static std::optional<long long> reportedSize(const TransferResult& r) {
        for (auto it = r.headers.rbegin(); it != r.headers.rend(); ++it) {
            if (it->size() > 4 && it->compare(0, 4, "213 ") == 0) {
                try {
                    std::size_t used = 0;
                    long long n = std::stoll(it->substr(4), &used);
                    if (used == it->size() - 4 && n >= 0) return n;
                } catch (...) {
                }
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    // The fact line of an MLST reply ("250-Listing /a", " type=file;unix.mode=0640; /a", "250 End").
    static ServerFacts mlstFacts(const TransferResult& r) {
        ServerFacts facts;
        for (std::size_t i = 0; i + 1 < r.headers.size(); ++i) {
            const std::string& next = r.headers[i + 1];
            if (r.headers[i].compare(0, 4, "250-") != 0 || next.empty() || next[0] != ' ') continue;
            // MLST names the whole path; the entry reader takes a name within its folder.
            std::string_view line = std::string_view(next).substr(1);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
            const std::size_t space = line.find(' ');
            if (space == std::string_view::npos) continue;
            const std::string named =
                std::string(line.substr(0, space + 1)) + path::lastComponent(std::string(line.substr(space + 1)));
            auto entry = parse::mlsdLine(named, "/");
            if (!entry) continue;
            facts.known = true;
            facts.type = entry->type;
            facts.mode = parse::mlsdMode(next);
            if (const std::size_t at = next.find("slink:"); entry->type == FileType::symbolicLink && at != std::string::npos)
                facts.linkTarget = next.substr(at + 6, next.find(';', at) - (at + 6));
            return facts;
        }
        return facts;
    }
    // What LIST tells about the file a save replaces, on a server without MLST: "LIST -a NAME"
    // in the file's folder; when the server refuses that (some read "-a" as part of the name)
    // or gives nothing readable, "LIST NAME"; then the folder's own listing ("LIST -a"). A
    // listing read whole that does not show the file says it is absent; when no listing could
    // be read, nothing is known. An error only when a transfer itself broke.
    Outcome<ServerFacts> listFacts(Session& s, Operation& op, const std::string& target) const {
        const std::string name = path::lastComponent(target);
        const std::string folder = path::parent(target);
        const std::string wanted = "/" + name;
        const auto now = std::chrono::system_clock::now();
        ServerFacts facts;
        facts.fromList = true;
        for (const std::string& request : {"LIST -a " + name, "LIST " + name, std::string("LIST -a")}) {
            prepare(s);
            StringList quote = opening(s, {folder});
            curl_easy_setopt(s.easy(), CURLOPT_URL, folderUrl(folder).c_str());
            curl_easy_setopt(s.easy(), CURLOPT_CUSTOMREQUEST, request.c_str());
            curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
            TransferResult r = perform(s, op);
            if (r.cancelled || r.silent) return transportError(r);
            if (!r.ok()) continue;  // refused: ask the next way
            std::size_t start = 0;
            while (start < r.body.size()) {
                std::size_t end = std::min(r.body.find('\n', start), r.body.size());
                std::string_view line = std::string_view(r.body).substr(start, end - start);
                start = end + 1;
                auto entry = parse::listLine(line, "/", now);
                // A server may read the name as a pattern: only the entry of that very name counts.
                if (!entry || path::toServer(entry->path) != wanted) continue;
                facts.known = true;
                facts.type = entry->type;
                facts.mode = parse::listMode(line);
                if (entry->type == FileType::symbolicLink) facts.linkTarget = linkTargetIn(line, name);
                return facts;
            }
            // An empty answer about one name proves nothing (vsftpd shows no link whose target
            // is relative that way); the folder's own listing tells.
            const bool folderListing = request == "LIST -a";
            if ((folderListing || !r.body.empty()) && parse::readList(r.body, "/", now).unreadLines == 0) {
                facts.absent = true;
                return facts;
            }
        }
        return facts;
    }

    // DELE outside any operation (a cancel does not stop it), waiting a few seconds at most.
    // Its transfer: CURLE_QUOTE_ERROR where the server refused it (no such file, or not allowed).
    TransferResult removeQuietly(Session& s, const std::string& server) const {
        Timeouts t = timeouts();
        t.connect = std::min(t.connect, std::chrono::milliseconds(5000));
        t.reply = std::min(t.reply, std::chrono::milliseconds(5000));
        t.stall = std::min(t.stall, std::chrono::milliseconds(5000));
        Operation cleanup;
        prepare(s, t);
        StringList quote{"DELE " + server};
        curl_easy_setopt(s.easy(), CURLOPT_URL, (origin() + "/").c_str());
        curl_easy_setopt(s.easy(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(s.easy(), CURLOPT_QUOTE, quote.get());
        return perform(s, cleanup);
    }

    static void logWarning(std::string text, const char* function, int line) {
        xlog::logWarning(std::move(text), __FILE__, function, line);
    }

    // Each line a listing could not read goes to the log once for the provider's life, as it
    // came (control characters escaped, long lines cut), with nothing else of the session.
    void logUnreadLines(const parse::Listing& listing) {
        if (listing.unreadSamples.empty() || (xlog::dynamicLogLevel() & xlog::FlagWarning) == 0) return;
        std::vector<std::string> fresh;
        {
            std::lock_guard lock(loggedMutex_);
            for (const std::string& line : listing.unreadSamples) {
                if (loggedLines_.size() >= kMaxLoggedLines) break;
                if (loggedLines_.insert(line).second) fresh.push_back(line);
            }
        }
        for (const std::string& line : fresh)
            logWarning("FTP folder listing line that could not be read: " + printable(line), "contentsOfDirectory", __LINE__);
    }

    static std::string printable(std::string_view line) {
        constexpr std::size_t kMaxShown = 400;
        std::string out;
        for (std::size_t i = 0; i < line.size() && out.size() < kMaxShown; ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c < 0x20 || c == 0x7f) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                out += escaped;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
        if (out.size() >= kMaxShown) out += "...";
        return out;
    }

    // Names a listing gave go into raw commands: they pass the checks every path passes, all
    // of a folder's before any of its entries is touched.
    static std::optional<FileError> checkListedNames(const std::vector<FileObject>& entries) {
        for (const FileObject& entry : entries) {
            if (auto e = path::checkName(entry.name)) return e;
        }
        return std::nullopt;
    }

    // `file`: the provider path of the copy (see LeftoverCopies).
    Done copyTree(Session& s, Operation& op, const std::string& source, const std::string& target, const std::string& file) {
        auto entries = listFolder(s, op, source, source);
        if (entries.error) return *entries.error;
        if (auto e = checkListedNames(entries.value)) return *e;
        TransferResult made = command(s, op, {"MKD " + target});
        if (!made.ok()) return ftpError(made, Context::command);
        for (const FileObject& entry : entries.value) {
            const std::string name = path::toServer(path::lastComponent(entry.path));
            const std::string from = path::join(source, name), to = path::join(target, name);
            if (entry.isDirectory()) {
                if (auto done = copyTree(s, op, from, to, file); done.error) return done;
            } else {
                auto data = download(s, op, from);
                if (data.error) return *data.error;
                if (auto done = createFile(s, op, to, file, data.value); done.error) return done;
            }
        }
        return {};
    }

    Done removeTree(Session& s, Operation& op, const std::string& folder) {
        auto entries = listFolder(s, op, folder, folder);
        if (entries.error) return *entries.error;
        if (auto e = checkListedNames(entries.value)) return *e;
        for (const FileObject& entry : entries.value) {
            const std::string child = path::join(folder, path::toServer(path::lastComponent(entry.path)));
            TransferResult r = command(s, op, {"DELE " + child});
            if (r.ok()) continue;  // a file, or a link (also one a server lists as a folder)
            if (r.cancelled || r.silent) return transportError(r);
            if (!entry.isDirectory()) return ftpError(r, Context::command);
            if (auto done = removeTree(s, op, child); done.error) return done;
        }
        TransferResult r = command(s, op, {"RMD " + folder});
        if (!r.ok()) return ftpError(r, Context::command);
        return {};
    }

    static FileError ftpError(const TransferResult& r, Context context) {
        if (r.cancelled || r.silent) return transportError(r);
        const std::string reply = r.lastReply();
        const long code = r.responseCode;
        const std::string text = reply.size() > 4 ? reply.substr(4) : std::string();
        FileError error;
        if ((r.code == CURLE_LOGIN_DENIED || r.code == CURLE_OPERATION_TIMEDOUT) && asksForTls(code, text)) {
            error = FileError::make(ErrorKind::secureConnectionRequired, text);
        } else if (r.code == CURLE_USE_SSL_FAILED && !r.untrusted) {
            // AUTH TLS refused where encryption is required: nothing of the login was sent.
            error = FileError::make(ErrorKind::secureConnectionRequired);
            error.message = tTlsWithdrawn
                                ? "The server no longer offers an encrypted connection, though it did when this "
                                  "connection began; something between you and it may be hiding it. Nothing was sent to it."
                                : "The server offers no encrypted connection, and this server is set to require one. "
                                  "Nothing was sent to it.";
        } else if (r.code == CURLE_OPERATION_TIMEDOUT && code == 421) {
            // curl takes every 421 for a timeout; the server said why it closed the connection.
            error = FileError::fromServer(421, text);
            error.message = (refusedAtGreeting(r) ? "The server did not accept the connection: "
                                                  : "The server closed the connection: ") + reply;
            if (error.message.back() != '.') error.message += ".";
        } else if (refusedForSessions(r)) {
            // Not the password: the server takes no more sessions of this user now.
            error = FileError::fromServer(530, text);
            error.message = "The server did not accept another session: " + reply;
            if (error.message.back() != '.') error.message += ".";
        } else {
            switch (r.code) {
                case CURLE_REMOTE_ACCESS_DENIED:  // a CWD failed: the folder (or the file's folder) is missing
                    error = FileError::make(context == Context::write ? ErrorKind::parentMissing : ErrorKind::notFound);
                    break;
                case CURLE_QUOTE_ERROR:
                case CURLE_UPLOAD_FAILED:
                case CURLE_FTP_COULDNT_RETR_FILE:
                case CURLE_FTP_COULDNT_SET_TYPE:
                case CURLE_FTP_PORT_FAILED:
                case CURLE_FTP_WEIRD_SERVER_REPLY:
                    if (code == 0) {
                        error = transportError(r);
                        break;
                    }
                    switch (ErrorKind kind = ftpRefusalKind(code, text)) {
                        case ErrorKind::loginRejected: error = FileError::make(kind); break;
                        case ErrorKind::server: error = FileError::fromServer(static_cast<int>(code), text.empty() ? reply : text); break;
                        default: error = FileError::make(kind, reply); break;
                    }
                    break;
                default:  // a refused login, a missing file and the transport's own failures
                    error = transportError(r);
                    break;
            }
        }
        if (code >= 100 && error.serverCode == 0) error.serverCode = static_cast<int>(code);
        if (error.serverText.empty() && reply.size() > 4) error.serverText = reply.substr(4);
        error.transportCode = static_cast<int>(r.code);
        return error;
    }

    static constexpr std::size_t kMaxLoggedLines = 1000;

    const std::shared_ptr<LeftoverCopies> leftovers_;
    const bool requireTls_;
    const bool plainAfterTls_;  // see ProviderOptions
    mutable std::atomic<bool> tls12Only_{false};  // the server broke off an upload over TLS 1.3
    mutable std::atomic<bool> spokeTls_{false};   // a connection of this provider spoke TLS (see TlsGate)

    std::atomic<int> mlsd_{unknown};
    std::atomic<bool> readyRefused_{false};  // a connection readied beside the work did not log in
    mutable std::mutex rootMutex_;
    std::optional<std::string> root_;
    std::mutex loggedMutex_;
    std::unordered_set<std::string> loggedLines_;  // unreadable listing lines already logged
};

std::shared_ptr<FileProvider> makeFtp(BaseUrl base, const Credential& credential, const ProviderOptions& options) {
    return CurlProvider::closedAtExit(std::make_shared<FtpProvider>(std::move(base), credential, options));
}

}  // namespace files::detail
