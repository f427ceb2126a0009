// SFTP on libssh. libssh rather than libcurl's SFTP (libssh2) for two reasons: it hands over the
// server's host key right after the key exchange, so the key is checked against the known hosts
// (and the user asked, see Trust.h) before any password or key is offered; and its SFTP channel
// can carry the server's posix-rename@openssh.com, so a save replaces the file in one atomic step
// on OpenSSH, whose plain SFTP rename refuses to overwrite (libcurl's SFTP has only that rename).
// libssh's own sftp_rename sends the plain rename, so the provider sends posix-rename itself
// (see posixRename).
//
// The provider shares the worker pool, the operation wrapper and the base URL of the FTP and
// WebDAV providers (CurlProvider); each worker keeps one SSH connection with its SFTP channel
// beside its (unused) transfer handle. The TCP connection is opened here, so a cancel can shut
// its socket down from any thread and the blocking libssh call in progress returns at once; the
// connection is then dropped. A connection the server closed while it lay idle is opened again
// once, as long as the operation had no answer from the server yet and sent no file bytes.
//
// A URL's path counts from the login folder (the SFTP session's starting folder, as
// canonicalizing "." tells), or from the server root when it starts with "%2F", as for FTP.
// Saves write a temporary copy in the file's folder, give it the file's permission bits and
// rename it over the file (see replaceFile). Nothing else overwrites: moves, copies, new folders
// and create-new writes look first, and create-new opens with O_EXCL.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <openssl/evp.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <thread>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <unordered_map>

#include "platform/defaults/Base64.h"
#include "platform/files/CertificateCheck.h"
#include "platform/files/CurlProvider.h"
#include "platform/files/ListingText.h"
#include "platform/files/Trust.h"
#include "platform/files/TrustHostKeys.h"

namespace files::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;               // bytes per SFTP read or write request
constexpr std::int64_t kHashLimit = 4 * 1024 * 1024;    // files up to this size carry a SHA-256

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

// Owns an sftp_attributes.
struct Attributes {
    sftp_attributes a = nullptr;
    Attributes() = default;
    explicit Attributes(sftp_attributes attributes) : a(attributes) {}
    Attributes(Attributes&& o) noexcept : a(std::exchange(o.a, nullptr)) {}
    Attributes& operator=(Attributes&& o) noexcept {
        std::swap(a, o.a);
        return *this;
    }
    ~Attributes() {
        if (a) sftp_attributes_free(a);
    }
    explicit operator bool() const { return a != nullptr; }
    sftp_attributes operator->() const { return a; }

    bool isFolder() const { return a && a->type == SSH_FILEXFER_TYPE_DIRECTORY; }
    bool isLink() const { return a && a->type == SSH_FILEXFER_TYPE_SYMLINK; }
    std::optional<unsigned> mode() const {
        if (!a || !(a->flags & SSH_FILEXFER_ATTR_PERMISSIONS)) return std::nullopt;
        return a->permissions & 07777;
    }
    std::int64_t size() const { return a && (a->flags & SSH_FILEXFER_ATTR_SIZE) ? static_cast<std::int64_t>(a->size) : -1; }
    std::optional<Date> modified() const {
        if (!a || !(a->flags & SSH_FILEXFER_ATTR_ACMODTIME)) return std::nullopt;
        return std::chrono::system_clock::from_time_t(static_cast<std::time_t>(a->mtime));
    }
    FileType type() const {
        if (!a) return FileType::unknown;
        switch (a->type) {
            case SSH_FILEXFER_TYPE_REGULAR: return FileType::regular;
            case SSH_FILEXFER_TYPE_DIRECTORY: return FileType::directory;
            case SSH_FILEXFER_TYPE_SYMLINK: return FileType::symbolicLink;
            default: return FileType::unknown;
        }
    }
    FileVersion version() const {
        FileVersion v;
        v.modificationDate = modified();
        v.size = size();
        return v;
    }
};

// One SSH connection and its SFTP channel, kept by a worker between operations.
struct Link {
    int fd = -1;
    struct stat socketId {};  // what fd names, to tell it from a later file of the same number
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    bool used = false;      // an earlier operation ran on it
    bool broken = false;    // the connection failed: it is dropped after the operation
    // For the operation running: whether the server answered anything yet, and whether file
    // bytes went out (then nothing is sent again on a new connection).
    bool answered = false;
    bool dataSent = false;
    Clock::time_point callStart{};
    // For the watchdog: when the blocking call in progress began (0: none), and whether the
    // watchdog cut the connection because the server stayed silent longer than the reply timeout.
    std::atomic<Clock::rep> busySince{0};
    std::atomic<bool> silenced{false};
    std::mutex guard;  // held by the watchdog while it looks at fd, and by close()

    ~Link() { close(); }
    bool open() const { return sftp != nullptr; }
    void close() {
        std::lock_guard lock(guard);
        silenced = false;
        if (sftp) sftp_free(sftp);
        sftp = nullptr;
        if (ssh) {
            if (!broken && ssh_is_connected(ssh)) ssh_disconnect(ssh);
            ssh_free(ssh);
        }
        ssh = nullptr;
        // libssh closes a socket it was given on some paths only: the socket is closed here
        // when the number still names it.
        struct stat now {};
        if (fd >= 0 && ::fstat(fd, &now) == 0 && now.st_dev == socketId.st_dev && now.st_ino == socketId.st_ino) ::close(fd);
        fd = -1;
        used = false;
        broken = false;
    }
};

// The SFTP status of the last failed request, or 0 when the failure was the connection's.
int statusOf(Link& link) { return link.sftp ? sftp_get_error(link.sftp) : 0; }

template <typename R>
void noteAnswer(Link& link, const R& rc) {
    bool ok;
    if constexpr (std::is_pointer_v<R>) ok = rc != nullptr;
    else ok = rc >= 0;
    if (ok || statusOf(link) != SSH_FX_OK) link.answered = true;
    else link.broken = link.broken || !ssh_is_connected(link.ssh) || ssh_get_error_code(link.ssh) == SSH_FATAL ||
                       (link.sftp && ssh_channel_is_closed(link.sftp->channel));
}

// Runs one libssh call, noting whether the server answered it.
// A blocking libssh call in progress, as the watchdog sees it (libssh's own timeout does not
// end a wait for an SFTP answer).
struct Busy {
    Link& link;
    explicit Busy(Link& l) : link(l) { link.busySince = Clock::now().time_since_epoch().count(); }
    ~Busy() { link.busySince = 0; }
};

template <typename F>
auto call(Link& link, F&& f) {
    Busy busy(link);
    link.callStart = Clock::now();
    if (link.sftp) link.sftp->errnum = SSH_FX_OK;  // what a failure leaves is this call's
    auto rc = f();
    noteAnswer(link, rc);
    return rc;
}

}  // namespace

class SftpProvider final : public CurlProvider {
public:
    SftpProvider(BaseUrl base, Credential credential, const ProviderOptions& options)
        : CurlProvider(std::move(base), credential, options), trust_(options.trust) {
        user_ = credential.user.empty() ? base_.user : credential.user;
        password_ = credential.user.empty() ? base_.password : credential.password;
        if (user_.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid())) user_ = pw->pw_name;
        }
        const char* home = std::getenv("HOME");
        if (home && *home) keyFolder_ = std::string(home) + "/.ssh";
        std::tie(host_, port_) = detail::hostAndPort(base_.authority, "sftp");
        watchdog_ = std::thread([this] { watch(); });
    }
    ~SftpProvider() override {
        stopWorkers();
        {
            std::lock_guard lock(watchMutex_);
            watchStop_ = true;
        }
        watchWake_.notify_all();
        watchdog_.join();
        std::lock_guard lock(linksMutex_);
        links_.clear();
    }

    ProviderKind kind() const override { return ProviderKind::sftp; }

    OperationHandle contentsOfDirectory(std::string folder, ListCompletion completion) override {
        return startValue<std::vector<FileObject>>(
            sftpJob<std::vector<FileObject>>(
                [this, folder](Link& l, Operation& op, const std::string& root) -> Outcome<std::vector<FileObject>> {
                    return listFolder(l, op, onServer(root, folder), path::normalize(folder));
                },
                checkPaths({folder})),
            std::move(completion));
    }

    OperationHandle contents(std::string file, DataCompletion completion) override {
        return startValue<std::optional<Bytes>>(
            sftpJob<std::optional<Bytes>>(
                [this, file](Link& l, Operation& op, const std::string& root) -> Outcome<std::optional<Bytes>> {
                    auto read = download(l, op, onServer(root, file));
                    if (read.error) return *read.error;
                    return std::optional<Bytes>(std::move(read.value.first));
                },
                refusedFile(file)),
            std::move(completion));
    }

    OperationHandle contentsAndVersion(std::string file, VersionedDataCompletion completion) override {
        using Result = std::pair<std::optional<Bytes>, FileVersion>;
        return start<Result>(
            sftpJob<Result>(
                [this, file](Link& l, Operation& op, const std::string& root) -> Outcome<Result> {
                    auto read = download(l, op, onServer(root, file));
                    if (read.error) return *read.error;
                    FileVersion version = read.value.second;
                    if (version.size >= 0 && version.size <= kHashLimit) version.sha256 = sha256Hex(read.value.first);
                    return Result(std::move(read.value.first), std::move(version));
                },
                refusedFile(file)),
            [completion = std::move(completion)](Outcome<Result> out) {
                if (completion) completion(std::move(out.value.first), std::move(out.value.second), std::move(out.error));
            });
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  Completion completion) override {
        return writeContents(std::move(file), std::move(data), mode, std::nullopt,
                             [completion = std::move(completion)](std::optional<FileVersion>, std::optional<FileError> error) {
                                 if (completion) completion(std::move(error));
                             });
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  std::optional<FileVersion> expected, WriteCompletion completion) override {
        if (expected && expected->empty()) expected.reset();
        return startValue<std::optional<FileVersion>>(
            sftpJob<std::optional<FileVersion>>(
                [this, file, data = std::move(data), mode, expected](Link& l, Operation& op,
                                                                      const std::string& root) -> Outcome<std::optional<FileVersion>> {
                    static const Bytes empty;
                    const Bytes& bytes = data ? *data : empty;
                    const std::string target = onServer(root, file);
                    Outcome<FileVersion> written = mode == WriteMode::createNew ? createFile(l, op, target, bytes)
                                                                                 : replaceFile(l, op, target, bytes, expected);
                    if (written.error) return *written.error;
                    return std::optional<FileVersion>(std::move(written.value));
                },
                refusedFile(file)),
            std::move(completion));
    }

    OperationHandle createFolder(std::string name, std::string parent, Completion completion) override {
        return startDone(
            sftpJob<std::monostate>(
                [this, name, parent](Link& l, Operation& op, const std::string& root) -> Done {
                    const std::string target = onServer(root, path::join(parent, name));
                    if (auto e = requireAbsent(l, op, target)) return *e;
                    if (call(l, [&] { return sftp_mkdir(l.sftp, target.c_str(), 0777); }) == 0) return {};
                    return failure(l, op, target, true);
                },
                refusedFolder(name, parent)),
            std::move(completion));
    }

    OperationHandle copyItem(std::string from, std::string to, Completion completion) override {
        return transfer(std::move(from), std::move(to), std::move(completion),
                        [this](Link& l, Operation& op, const std::string& source, const std::string& target,
                               const Attributes& item) -> Done {
                            if (item.isFolder()) return copyTree(l, op, source, target);
                            return copyFile(l, op, source, target, item.mode());
                        });
    }

    OperationHandle moveItem(std::string from, std::string to, Completion completion) override {
        // The plain rename, which OpenSSH never lets replace anything (others' may: transfer
        // looks first).
        return transfer(std::move(from), std::move(to), std::move(completion),
                        [this](Link& l, Operation& op, const std::string& source, const std::string& target,
                               const Attributes&) -> Done {
                            if (call(l, [&] { return sftp_rename(l.sftp, source.c_str(), target.c_str()); }) == 0) return {};
                            return failure(l, op, target);
                        });
    }

    OperationHandle removeItem(std::string item, Completion completion) override {
        return startDone(
            sftpJob<std::monostate>(
                [this, item](Link& l, Operation& op, const std::string& root) -> Done {
                    const std::string target = onServer(root, item);
                    auto found = lstat(l, op, target);
                    if (found.error) return *found.error;
                    // A link goes, never what it points to.
                    if (found.value.isFolder()) return removeTree(l, op, target);
                    return unlink(l, op, target);
                },
                refusedRemoval(item)),
            std::move(completion));
    }

    OperationHandle checkLogin(Completion completion) override {
        return startDone(sftpJob<std::monostate>(
                             [this](Link& l, Operation& op, const std::string& root) -> Done {
                                 auto listed = listFolder(l, op, root, "/");
                                 if (listed.error) return *listed.error;
                                 return {};
                             },
                             std::nullopt),
                         std::move(completion));
    }

private:

    // A job body on this worker's connection, with the provider's root folder on the server; a
    // job whose paths were refused completes with that error before any server is contacted.
    // See the file comment for when it runs a second time.
    template <typename T>
    std::function<Outcome<T>(Session&, Operation&)> sftpJob(std::function<Outcome<T>(Link&, Operation&, const std::string&)> body,
                                                           std::optional<FileError> refused) {
        return [this, body = std::move(body), refused = std::move(refused)](Session& s, Operation& op) -> Outcome<T> {
            if (refused) return *refused;
            Link& link = linkOf(s);
            for (int attempt = 0;; ++attempt) {
                if (!link.open()) {
                    if (auto e = connect(link, op)) {
                        OperationAccess::disarm(op);
                        link.close();
                        return *e;
                    }
                } else if (!OperationAccess::arm(op, waker(link.fd))) {
                    return FileError::make(ErrorKind::cancelled);
                }
                const bool reused = link.used;
                link.answered = false;
                link.dataSent = false;
                Outcome<T> out;
                auto root = rootFolder(link, op);
                if (root.error) out = Outcome<T>(*root.error);
                else out = body(link, op, root.value);
                link.used = true;
                OperationAccess::disarm(op);
                if (op.isCancelled() && out.error) out = Outcome<T>(FileError::make(ErrorKind::cancelled));
                if (link.broken || op.isCancelled()) {
                    // Not for a server that fell silent: that is no connection closed while idle.
                    const bool again = attempt == 0 && reused && !link.answered && !link.dataSent && !link.silenced &&
                                       !op.isCancelled();
                    link.close();
                    if (again && out.error) continue;
                }
                return out;
            }
        };
    }

    // A copy or move: the paths checked, the source there (notFound) and the target not
    // (alreadyExists, parentMissing), then `act` on the server paths.
    using TransferAct = std::function<Done(Link&, Operation&, const std::string&, const std::string&, const Attributes&)>;
    OperationHandle transfer(std::string from, std::string to, Completion completion, TransferAct act) {
        return startDone(sftpJob<std::monostate>(
                             [this, from, to, act = std::move(act)](Link& l, Operation& op, const std::string& root) -> Done {
                                 const std::string source = onServer(root, from), target = onServer(root, to);
                                 auto item = lstat(l, op, source);
                                 if (item.error) return *item.error;
                                 if (auto e = requireAbsent(l, op, target)) return *e;
                                 return act(l, op, source, target, item.value);
                             },
                             checkTransferPaths(from, to)),
                         std::move(completion));
    }

    // Cuts a connection whose server has said nothing for the reply timeout during a call; the
    // call then fails at once and the operation reports timedOut.
    void watch() {
        std::unique_lock lock(watchMutex_);
        while (!watchStop_) {
            watchWake_.wait_for(lock, std::chrono::milliseconds(100));
            const auto limit = std::chrono::duration_cast<Clock::duration>(timeouts().reply).count();
            const auto now = Clock::now().time_since_epoch().count();
            std::lock_guard links(linksMutex_);
            for (auto& [session, link] : links_) {
                std::lock_guard guard(link->guard);
                const auto since = link->busySince.load();
                if (since != 0 && now - since > limit && link->fd >= 0 && !link->silenced.exchange(true))
                    ::shutdown(link->fd, SHUT_RDWR);
            }
        }
    }

    Link& linkOf(Session& s) {
        std::lock_guard lock(linksMutex_);
        auto& link = links_[&s];
        if (!link) link = std::make_unique<Link>();
        return *link;
    }

    static std::function<void()> waker(int fd) {
        return [fd] { ::shutdown(fd, SHUT_RDWR); };
    }

    // ---- connecting -----------------------------------------------------------------------

    std::optional<FileError> connect(Link& link, Operation& op) {
        static std::once_flag once;
        std::call_once(once, [] { ssh_init(); });
        const Timeouts t = timeouts();
        const auto deadline = Clock::now() + t.connect;
        link.callStart = Clock::now();
        if (auto e = openSocket(link, op, deadline)) return e;

        link.ssh = ssh_new();
        if (!link.ssh) return FileError::make(ErrorKind::other, "no SSH session could be made");
        int noConfig = 0;
        ssh_options_set(link.ssh, SSH_OPTIONS_PROCESS_CONFIG, &noConfig);  // no ~/.ssh/config
        ssh_options_set(link.ssh, SSH_OPTIONS_HOST, host_.c_str());
        ssh_options_set(link.ssh, SSH_OPTIONS_PORT, &port_);
        if (!user_.empty()) ssh_options_set(link.ssh, SSH_OPTIONS_USER, user_.c_str());
        ssh_options_set(link.ssh, SSH_OPTIONS_FD, &link.fd);
        setTimeout(link, std::max<std::chrono::milliseconds>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                                 deadline - Clock::now()),
                                                             std::chrono::milliseconds(1)));
        if (ssh_connect(link.ssh) != SSH_OK) {
            link.broken = true;
            if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            const std::string why = ssh_get_error(link.ssh);
            // libssh's own wait ends on its rounding of the limit, a little before ours.
            if (Clock::now() + std::chrono::milliseconds(100) >= deadline || why.find("imeout") != std::string::npos)
                return FileError::make(ErrorKind::timedOut);
            return FileError::make(ErrorKind::cannotReachHost, why);
        }
        setTimeout(link, t.reply);
        if (auto e = checkHostKey(link, op)) return e;  // may wait for the user: not watched
        Busy busy(link);
        if (auto e = authenticate(link, op)) return e;
        link.sftp = sftp_new(link.ssh);
        if (!link.sftp || sftp_init(link.sftp) != SSH_OK) {
            if (link.silenced) return FileError::make(ErrorKind::timedOut);
            link.broken = true;
            if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            return FileError::make(ErrorKind::other, std::string("the server offers no SFTP: ") + ssh_get_error(link.ssh));
        }
        return std::nullopt;
    }

    static void setTimeout(Link& link, std::chrono::milliseconds timeout) {
        long seconds = static_cast<long>(timeout.count() / 1000);
        long micros = static_cast<long>(timeout.count() % 1000) * 1000;
        ssh_options_set(link.ssh, SSH_OPTIONS_TIMEOUT, &seconds);
        ssh_options_set(link.ssh, SSH_OPTIONS_TIMEOUT_USEC, &micros);
    }

    // A TCP connection of our own, made while watching for a cancel.
    std::optional<FileError> openSocket(Link& link, Operation& op, Clock::time_point deadline) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port_);
        if (int rc = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found); rc != 0 || !found)
            return FileError::make(ErrorKind::cannotReachHost, std::string("the host name was not found: ") + gai_strerror(rc));
        std::string lastError = "no address";
        for (addrinfo* ai = found; ai; ai = ai->ai_next) {
            int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
            if (fd < 0) continue;
            link.fd = fd;
            ::fstat(fd, &link.socketId);
            if (!OperationAccess::arm(op, waker(fd))) {
                ::freeaddrinfo(found);
                return FileError::make(ErrorKind::cancelled);
            }
            int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
            if (rc != 0 && errno == EINPROGRESS) {
                pollfd p{fd, POLLOUT, 0};
                for (;;) {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                    if (left <= 0 || op.isCancelled()) break;
                    rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 200)));
                    if (rc != 0) break;
                }
                int soError = 0;
                socklen_t len = sizeof soError;
                if (rc > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0) rc = 0;
                else {
                    lastError = rc == 0 ? "no answer" : std::strerror(soError ? soError : errno);
                    rc = -1;
                }
            } else if (rc != 0) {
                lastError = std::strerror(errno);
            }
            if (rc == 0) {
                ::freeaddrinfo(found);
                const int flags = ::fcntl(fd, F_GETFL);
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
                int on = 1;
                ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                return std::nullopt;
            }
            OperationAccess::disarm(op);
            ::close(fd);
            link.fd = -1;
            if (op.isCancelled()) break;
            if (Clock::now() >= deadline) {
                ::freeaddrinfo(found);
                return FileError::make(ErrorKind::timedOut);
            }
        }
        ::freeaddrinfo(found);
        if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
        return FileError::make(ErrorKind::cannotReachHost, lastError);
    }

    // The server's host key against the known hosts; an unknown one goes to the user (one
    // question at a time for this provider), a changed one is refused. Before any login.
    std::optional<FileError> checkHostKey(Link& link, Operation& op) {
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(link.ssh, &key) != SSH_OK || !key)
            return FileError::make(ErrorKind::notTrusted, "the server sent no host key");
        char* base64 = nullptr;
        const int exported = ssh_pki_export_pubkey_base64(key, &base64);
        ssh_key_free(key);
        std::optional<std::string> blob;
        if (exported == SSH_OK && base64) blob = defaults::base64Decode(base64);
        ssh_string_free_char(base64);
        if (!blob) return FileError::make(ErrorKind::notTrusted, "the server's host key could not be read");
        HostKey hostKey;
        hostKey.blob = std::move(*blob);
        hostKey.type = hostKeyType(hostKey.blob);

        std::lock_guard lock(trustMutex_);
        const TrustVerdict verdict = trust_ ? trust_->checkHostKey(host_, port_, hostKey) : TrustVerdict::unknown;
        if (verdict == TrustVerdict::trusted) return std::nullopt;
        TrustQuestion question = hostKeyQuestion(trust_.get(), host_, port_, hostKey, verdict);
        bool answered = false;
        if (trust_ && trust_->decide(question, &op, &answered)) return std::nullopt;
        link.broken = true;
        if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
        FileError error = FileError::make(ErrorKind::notTrusted);
        error.userTold = answered;
        error.message = question.message;
        if (verdict == TrustVerdict::unknown) {
            error.message = std::string(standardMessage(ErrorKind::notTrusted)) + " Its host key (" + hostKey.type + " " +
                            hostKey.fingerprint() + ") is not known" + (trust_ ? " and was not accepted." : ".");
        }
        return error;
    }

    // Password (also answered to keyboard-interactive prompts), or without one the keys: the
    // agent's, then ~/.ssh/id_ed25519, id_ecdsa and id_rsa.
    std::optional<FileError> authenticate(Link& link, Operation& op) {
        ssh_session s = link.ssh;
        int rc = ssh_userauth_none(s, nullptr);
        if (rc == SSH_AUTH_SUCCESS) return std::nullopt;
        if (rc == SSH_AUTH_ERROR) return connectionLost(link, op);
        const int methods = ssh_userauth_list(s, nullptr);
        if (!password_.empty()) {
            if (methods & SSH_AUTH_METHOD_PASSWORD) {
                rc = ssh_userauth_password(s, nullptr, password_.c_str());
                if (rc == SSH_AUTH_SUCCESS) return std::nullopt;
                if (rc == SSH_AUTH_ERROR) return connectionLost(link, op);
            }
            if (methods & SSH_AUTH_METHOD_INTERACTIVE) {
                rc = keyboardInteractive(s);
                if (rc == SSH_AUTH_SUCCESS) return std::nullopt;
                if (rc == SSH_AUTH_ERROR) return connectionLost(link, op);
            }
            link.broken = true;
            return FileError::make(ErrorKind::loginRejected);
        }
        if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
            if (const char* agent = std::getenv("SSH_AUTH_SOCK"); agent && *agent) {
                rc = ssh_userauth_agent(s, nullptr);
                if (rc == SSH_AUTH_SUCCESS) return std::nullopt;
                if (rc == SSH_AUTH_ERROR && !ssh_is_connected(s)) return connectionLost(link, op);
            }
            for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
                if (keyFolder_.empty()) break;
                const std::string file = keyFolder_ + "/" + name;
                if (::access(file.c_str(), R_OK) != 0) continue;
                ssh_key key = nullptr;
                if (ssh_pki_import_privkey_file(file.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK || !key) continue;
                rc = ssh_userauth_publickey(s, nullptr, key);
                ssh_key_free(key);
                if (rc == SSH_AUTH_SUCCESS) return std::nullopt;
                if (rc == SSH_AUTH_ERROR) return connectionLost(link, op);
            }
        }
        link.broken = true;
        return FileError::make(ErrorKind::loginRejected, password_.empty() ? "No password was given, and no key was accepted." : "");
    }

    int keyboardInteractive(ssh_session s) const {
        int rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        for (int round = 0; rc == SSH_AUTH_INFO && round < 4; ++round) {
            const int prompts = ssh_userauth_kbdint_getnprompts(s);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(s, static_cast<unsigned>(i), &echo);
                // A prompt shown as typed asks for something else than the password.
                ssh_userauth_kbdint_setanswer(s, static_cast<unsigned>(i), echo ? user_.c_str() : password_.c_str());
            }
            rc = ssh_userauth_kbdint(s, nullptr, nullptr);
        }
        return rc;
    }

    // "ssh-ed25519" from the key's wire form (a length and the type's name first).
    static std::string hostKeyType(const std::string& blob) {
        if (blob.size() < 4) return {};
        const auto* b = reinterpret_cast<const unsigned char*>(blob.data());
        const std::size_t n = (std::size_t{b[0]} << 24) | (std::size_t{b[1]} << 16) | (std::size_t{b[2]} << 8) | b[3];
        if (n > blob.size() - 4) return {};
        return blob.substr(4, n);
    }

    // ---- requests -------------------------------------------------------------------------

    // The connection is given up (what libssh still does on it then fails at once).
    FileError connectionLost(Link& link, Operation& op) {
        link.broken = true;
        if (link.fd >= 0) ::shutdown(link.fd, SHUT_RDWR);
        if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
        if (link.silenced) return FileError::make(ErrorKind::timedOut);
        if (link.callStart != Clock::time_point{} && Clock::now() - link.callStart >= timeouts().reply)
            return FileError::make(ErrorKind::timedOut);
        return FileError::make(ErrorKind::other, std::string("the connection to the server broke off: ") +
                                                     (link.ssh ? ssh_get_error(link.ssh) : ""));
    }

    // The error for the request that just failed on `path`.
    FileError failure(Link& link, Operation& op, const std::string& path, bool writing = false) {
        const int status = statusOf(link);
        if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
        if (status == SSH_FX_OK || link.broken) return connectionLost(link, op);
        std::string text = ssh_get_error(link.ssh);
        for (const char* prefix : {"SFTP server: ", "sftp server: "}) {
            if (text.rfind(prefix, 0) == 0) text = text.substr(std::strlen(prefix));
        }
        FileError error;
        switch (status) {
            case SSH_FX_NO_SUCH_FILE:
            case SSH_FX_NO_SUCH_PATH:
                error = FileError::make(writing ? ErrorKind::parentMissing : ErrorKind::notFound);
                break;
            case SSH_FX_PERMISSION_DENIED:
                error = FileError::make(ErrorKind::permissionDenied, text);
                break;
            case SSH_FX_FILE_ALREADY_EXISTS:
                error = FileError::make(ErrorKind::alreadyExists);
                break;
            default:
                // OpenSSH says only "Failure" for most refusals, a missing folder among them.
                error = writing && parentIsMissing(link, op, path) ? FileError::make(ErrorKind::parentMissing)
                                                                   : FileError::fromServer(status, text);
                break;
        }
        error.serverCode = status;
        error.serverText = text;
        return error;
    }

    bool parentIsMissing(Link& link, Operation& op, const std::string& path) {
        auto parent = stat(link, op, path::parent(path));
        return parent.error ? parent.error->kind == ErrorKind::notFound : !parent.value.isFolder();
    }

    Outcome<Attributes> lstat(Link& link, Operation& op, const std::string& path) {
        return attributes(link, op, call(link, [&] { return sftp_lstat(link.sftp, path.c_str()); }));
    }
    Outcome<Attributes> stat(Link& link, Operation& op, const std::string& path) {
        return attributes(link, op, call(link, [&] { return sftp_stat(link.sftp, path.c_str()); }));
    }
    // What a stat answered: the attributes, notFound, or the failure.
    Outcome<Attributes> attributes(Link& link, Operation& op, sftp_attributes found) {
        if (found) return Attributes(found);
        const int status = statusOf(link);
        if (status == SSH_FX_NO_SUCH_FILE || status == SSH_FX_NO_SUCH_PATH) return FileError::make(ErrorKind::notFound);
        if (status == SSH_FX_OK || link.broken) return connectionLost(link, op);
        return FileError::fromServer(status, ssh_get_error(link.ssh));
    }

    // alreadyExists when anything has the name, parentMissing when its folder is not there.
    std::optional<FileError> requireAbsent(Link& link, Operation& op, const std::string& path) {
        auto there = lstat(link, op, path);
        if (!there.error) return FileError::make(ErrorKind::alreadyExists);
        if (there.error->kind != ErrorKind::notFound) return there.error;
        auto parent = stat(link, op, path::parent(path));
        if (parent.error) return parent.error->kind == ErrorKind::notFound ? FileError::make(ErrorKind::parentMissing) : *parent.error;
        if (!parent.value.isFolder()) return FileError::make(ErrorKind::parentMissing);
        return std::nullopt;
    }

    Outcome<std::string> rootFolder(Link& link, Operation& op) {
        if (base_.fromServerRoot) return base_.path;
        {
            std::lock_guard lock(rootMutex_);
            if (root_) return *root_;
        }
        char* login = call(link, [&] { return sftp_canonicalize_path(link.sftp, "."); });
        if (!login) return failure(link, op, ".");
        std::string folder = login[0] == '/' ? path::normalize(login) : std::string("/");
        ssh_string_free_char(login);
        std::lock_guard lock(rootMutex_);
        root_ = path::join(folder, base_.path);
        return *root_;
    }

    static std::string onServer(const std::string& root, const std::string& providerPath) {
        return path::join(root, path::toServer(providerPath));
    }

    // The path checks of each kind of operation (see FileProvider.h).
    static std::optional<FileError> refusedFile(const std::string& file) {
        if (auto e = checkPaths({file})) return e;
        if (path::normalize(file) == "/") return FileError::make(ErrorKind::invalidPath, "the root is a folder");
        return std::nullopt;
    }
    static std::optional<FileError> refusedFolder(const std::string& name, const std::string& parent) {
        if (auto e = path::checkName(name)) return e;
        return checkPaths({parent});
    }
    static std::optional<FileError> refusedRemoval(const std::string& item) {
        if (auto e = checkPaths({item})) return e;
        if (path::normalize(item) == "/") return FileError::make(ErrorKind::invalidPath, "the root folder cannot be removed");
        return std::nullopt;
    }

    Outcome<std::vector<FileObject>> listFolder(Link& link, Operation& op, const std::string& server,
                                                const std::string& entriesFolder) {
        sftp_dir dir = call(link, [&] { return sftp_opendir(link.sftp, server.c_str()); });
        if (!dir) return failure(link, op, server);
        std::vector<FileObject> entries;
        const std::string prefix = entriesFolder == "/" ? "/" : entriesFolder + "/";
        std::optional<FileError> error;
        for (;;) {
            if (op.isCancelled()) {
                error = FileError::make(ErrorKind::cancelled);
                break;
            }
            Attributes a(call(link, [&] { return sftp_readdir(link.sftp, dir); }));
            if (!a) {
                if (!sftp_dir_eof(dir)) error = failure(link, op, server);
                break;
            }
            const std::string_view name = a->name ? a->name : "";
            if (name == "." || name == ".." || !parse::text::usableName(name)) continue;
            FileObject entry = parse::text::entryFor(name, prefix);
            entry.type = a.type();
            entry.size = entry.type == FileType::directory ? -1 : a.size();
            entry.modificationDate = a.modified();
            entry.permissions = a.mode();
            entries.push_back(std::move(entry));
        }
        sftp_closedir(dir);
        if (error) return *error;
        return entries;
    }

    // The file's bytes and what its open handle said of it.
    Outcome<std::pair<Bytes, FileVersion>> download(Link& link, Operation& op, const std::string& server) {
        sftp_file file = call(link, [&] { return sftp_open(link.sftp, server.c_str(), O_RDONLY, 0); });
        if (!file) return failure(link, op, server);
        Attributes a(call(link, [&] { return sftp_fstat(file); }));
        if (!a) {
            auto e = failure(link, op, server);
            sftp_close(file);
            return e;
        }
        if (a.isFolder()) {
            sftp_close(file);
            return FileError::make(ErrorKind::invalidPath, "it is a folder");
        }
        Bytes data;
        if (a.size() > 0) data.reserve(static_cast<std::size_t>(std::min<std::int64_t>(a.size(), 1 << 30)));
        auto out = readAll(link, op, file, data, server);
        sftp_close(file);
        if (out) return *out;
        return std::make_pair(std::move(data), a.version());
    }

    // Reads to the end, several requests on their way at once.
    std::optional<FileError> readAll(Link& link, Operation& op, sftp_file file, Bytes& data, const std::string& server) {
        constexpr int kInFlight = 16;
        std::deque<int> pending;
        bool eof = false;
        std::string chunk(kChunk, '\0');
        auto drain = [&] {
            while (!pending.empty()) {
                sftp_async_read(file, chunk.data(), kChunk, static_cast<uint32_t>(pending.front()));
                pending.pop_front();
            }
        };
        while (!eof || !pending.empty()) {
            if (op.isCancelled()) {
                if (!link.broken) drain();
                return FileError::make(ErrorKind::cancelled);
            }
            while (!eof && pending.size() < kInFlight) {
                const int id = sftp_async_read_begin(file, kChunk);
                if (id < 0) {
                    link.broken = true;
                    return connectionLost(link, op);
                }
                pending.push_back(id);
            }
            const int n = call(link, [&] { return sftp_async_read(file, chunk.data(), kChunk, static_cast<uint32_t>(pending.front())); });
            pending.pop_front();
            if (n < 0) {
                if (link.broken) return connectionLost(link, op);
                FileError e = failure(link, op, server);
                drain();
                return e;
            }
            if (n == 0) {
                eof = true;  // the requests after it answer end of file as well
                continue;
            }
            if (static_cast<std::size_t>(n) < kChunk && !eof) {
                // A short answer before the end: the requests already made ask for what follows
                // the full chunk, so read on one request at a time from here.
                data.append(chunk.data(), static_cast<std::size_t>(n));
                drain();
                sftp_seek64(file, data.size());
                return readRest(link, op, file, data, server);
            }
            if (!eof) data.append(chunk.data(), static_cast<std::size_t>(n));
        }
        return std::nullopt;
    }

    std::optional<FileError> readRest(Link& link, Operation& op, sftp_file file, Bytes& data, const std::string& server) {
        std::string chunk(kChunk, '\0');
        for (;;) {
            if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            const ssize_t n = call(link, [&] { return sftp_read(file, chunk.data(), kChunk); });
            if (n < 0) return failure(link, op, server);
            if (n == 0) return std::nullopt;
            data.append(chunk.data(), static_cast<std::size_t>(n));
        }
    }

    // Writes the bytes into an open file; false when the connection or the server failed.
    bool writeAll(Link& link, Operation& op, sftp_file file, std::string_view data) {
        std::size_t at = 0;
        while (at < data.size()) {
            if (op.isCancelled()) return false;
            const std::size_t n = std::min(kChunk, data.size() - at);
            link.dataSent = true;
            const ssize_t written = call(link, [&] { return sftp_write(file, data.data() + at, n); });
            if (written <= 0) return false;
            at += static_cast<std::size_t>(written);
        }
        return true;
    }

    // A new file, never over anything: O_EXCL. A failed transfer removes what it began.
    Outcome<FileVersion> createFile(Link& link, Operation& op, const std::string& target, std::string_view data,
                                    unsigned mode = 0666) {
        if (auto e = requireAbsent(link, op, target)) return *e;
        sftp_file file = call(link, [&] { return sftp_open(link.sftp, target.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode); });
        if (!file) return failure(link, op, target, true);
        std::optional<FileError> error;
        if (!writeAll(link, op, file, data)) error = failure(link, op, target, true);
        if (sftp_close(file) != SSH_NO_ERROR && !error) error = failure(link, op, target, true);
        if (error) {
            // What was begun goes again; where it cannot, the new file may hold part of the bytes.
            const bool removed = !link.broken && call(link, [&] { return sftp_unlink(link.sftp, target.c_str()); }) == 0;
            error->targetIncomplete = !removed && link.dataSent;
            return *error;
        }
        return writtenVersion(link, op, target, data);
    }

    Outcome<FileVersion> writtenVersion(Link& link, Operation& op, const std::string& target, std::string_view data) {
        auto a = stat(link, op, target);
        FileVersion version;
        if (!a.error) version = a.value.version();
        else version.size = static_cast<std::int64_t>(data.size());
        if (version.size >= 0 && version.size <= kHashLimit) version.sha256 = sha256Hex(data);
        return version;
    }

    static std::string temporaryName(const std::string& name) {
        static std::mutex mutex;
        static std::mt19937_64 random{std::random_device{}()};
        char tag[9];
        {
            std::lock_guard lock(mutex);
            std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(random() & 0xffffffffu));
        }
        std::string temp = "." + name + ".dravix-" + tag + ".tmp";
        if (temp.size() > 255) temp = std::string(".dravix-") + tag + ".tmp";
        return temp;
    }

    // Replaces a file so that no moment leaves the server with only part of it: the bytes go
    // to a temporary file beside it (private while it is written), which gets the file's
    // permission bits and is renamed over it. With posix-rename (OpenSSH) that is one atomic
    // step; a server whose rename does not replace gets the old file renamed aside first, put
    // back when the new one cannot take its name, and removed once it has. A link is saved
    // through: the file it points to is replaced. With `expected`, the server's copy is
    // compared right before the rename (see FileProvider::writeContents).
    Outcome<FileVersion> replaceFile(Link& link, Operation& op, std::string target, std::string_view data,
                                     const std::optional<FileVersion>& expected) {
        auto current = lstat(link, op, target);
        if (current.error && current.error->kind != ErrorKind::notFound) return *current.error;
        if (!current.error && current.value.isLink()) {
            char* real = call(link, [&] { return sftp_canonicalize_path(link.sftp, target.c_str()); });
            if (real) {
                target = real;
                ssh_string_free_char(real);
                current = lstat(link, op, target);
                if (current.error && current.error->kind != ErrorKind::notFound) return *current.error;
            }
        }
        const bool exists = !current.error;
        if (exists && current.value.isFolder()) return FileError::make(ErrorKind::alreadyExists, "a folder has that name");
        if (!exists && expected) return FileError::make(ErrorKind::notFound);
        const std::optional<unsigned> mode = exists ? current.value.mode() : std::nullopt;

        const std::string folder = path::parent(target);
        const std::string temp = path::join(folder, temporaryName(path::lastComponent(target)));
        sftp_file file = call(link, [&] {
            return sftp_open(link.sftp, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, exists ? 0600 : 0666);
        });
        if (!file) return failure(link, op, temp, true);
        auto keptOriginal = [&](FileError error) {
            if (!link.broken) call(link, [&] { return sftp_unlink(link.sftp, temp.c_str()); });
            error.targetUnchanged = true;
            return error;
        };
        const bool written = writeAll(link, op, file, data);
        if (!written) {
            FileError error = failure(link, op, temp, true);
            sftp_close(file);
            return keptOriginal(error);
        }
        if (sftp_close(file) != SSH_NO_ERROR) return keptOriginal(failure(link, op, temp, true));
        if (mode) {
            if (call(link, [&] { return sftp_chmod(link.sftp, temp.c_str(), *mode); }) != 0)
                return keptOriginal(failure(link, op, temp, true));
        }
        if (op.isCancelled()) return keptOriginal(FileError::make(ErrorKind::cancelled));
        if (expected) {
            if (auto e = checkUnchanged(link, op, target, *expected)) return keptOriginal(*e);
        }
        if (exists && sftp_extension_supported(link.sftp, "posix-rename@openssh.com", "1")) {
            auto renamed = posixRename(link, op, temp, target);
            if (renamed.error) return *renamed.error;  // the rename's fate is unknown
            if (renamed.value == SSH_FX_OK) return writtenVersion(link, op, target, data);
            // Refused (a server may offer it and still deny it): the plain way below.
        }
        if (call(link, [&] { return sftp_rename(link.sftp, temp.c_str(), target.c_str()); }) == 0)
            return writtenVersion(link, op, target, data);
        if (link.broken) return connectionLost(link, op);  // the rename's fate is unknown
        if (!exists) return keptOriginal(failure(link, op, target, true));
        // This server's rename does not replace: old file aside, new one in, old one gone.
        const std::string aside = path::join(folder, temporaryName(path::lastComponent(target)));
        if (call(link, [&] { return sftp_rename(link.sftp, target.c_str(), aside.c_str()); }) != 0)
            return keptOriginal(failure(link, op, target, true));
        if (call(link, [&] { return sftp_rename(link.sftp, temp.c_str(), target.c_str()); }) != 0) {
            FileError error = failure(link, op, target, true);
            if (link.broken) return error;
            if (call(link, [&] { return sftp_rename(link.sftp, aside.c_str(), target.c_str()); }) != 0) {
                error.message += " The old file is kept as " + path::lastComponent(aside) + ".";
                return error;
            }
            return keptOriginal(error);
        }
        call(link, [&] { return sftp_unlink(link.sftp, aside.c_str()); });
        return writtenVersion(link, op, target, data);
    }

    // posix-rename@openssh.com (rename(2) on the server: the target replaced in one step), sent on
    // the SFTP channel between libssh's own requests, none of which is outstanding then. The
    // server's status code, or an error when the connection failed (the rename's fate unknown).
    Outcome<int> posixRename(Link& link, Operation& op, const std::string& from, const std::string& to) {
        std::string body;
        auto u32 = [](std::string& out, std::uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xff));
        };
        auto text = [&](std::string_view s) {
            u32(body, static_cast<std::uint32_t>(s.size()));
            body.append(s);
        };
        const std::uint32_t id = ++link.sftp->id_counter;
        body.push_back(static_cast<char>(SSH_FXP_EXTENDED));
        u32(body, id);
        text("posix-rename@openssh.com");
        text(from);
        text(to);
        std::string packet;
        u32(packet, static_cast<std::uint32_t>(body.size()));
        packet += body;
        link.callStart = Clock::now();
        ssh_channel channel = link.sftp->channel;
        if (ssh_channel_write(channel, packet.data(), static_cast<std::uint32_t>(packet.size())) !=
            static_cast<int>(packet.size()))
            return connectionLost(link, op);
        const int timeout = static_cast<int>(std::min<long long>(timeouts().reply.count(), INT32_MAX));
        auto readExactly = [&](std::string& out, std::size_t n) {
            out.resize(n);
            for (std::size_t got = 0; got < n;) {
                const int r = ssh_channel_read_timeout(channel, out.data() + got, static_cast<std::uint32_t>(n - got), 0, timeout);
                if (r <= 0) return false;
                got += static_cast<std::size_t>(r);
            }
            return true;
        };
        auto number = [](const std::string& s, std::size_t at) {
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
            return v;
        };
        std::string head, reply;
        if (!readExactly(head, 4)) return connectionLost(link, op);
        const std::uint32_t length = number(head, 0);
        if (length < 9 || length > 256 * 1024 || !readExactly(reply, length)) return connectionLost(link, op);
        if (static_cast<unsigned char>(reply[0]) != SSH_FXP_STATUS || number(reply, 1) != id) return connectionLost(link, op);
        link.answered = true;
        const int status = static_cast<int>(number(reply, 5));
        link.sftp->errnum = status;
        return status;
    }

    // Whether the server's file is still the version the caller read.
    std::optional<FileError> checkUnchanged(Link& link, Operation& op, const std::string& target, const FileVersion& expected) {
        auto now = stat(link, op, target);
        if (now.error) return now.error;
        const FileVersion there = now.value.version();
        const bool sameDate = !expected.modificationDate || there.modificationDate == expected.modificationDate;
        const bool sameSize = expected.size < 0 || there.size == expected.size;
        if (!sameDate || !sameSize) return FileError::make(ErrorKind::changedOnServer);
        if (!expected.sha256.empty() && there.size >= 0 && there.size <= kHashLimit) {
            auto bytes = download(link, op, target);
            if (bytes.error) return bytes.error;
            if (sha256Hex(bytes.value.first) != expected.sha256) return FileError::make(ErrorKind::changedOnServer);
        }
        return std::nullopt;
    }

    Done unlink(Link& link, Operation& op, const std::string& path) {
        if (call(link, [&] { return sftp_unlink(link.sftp, path.c_str()); }) == 0) return {};
        return failure(link, op, path);
    }

    Done copyFile(Link& link, Operation& op, const std::string& source, const std::string& target,
                  std::optional<unsigned> mode) {
        auto data = download(link, op, source);
        if (data.error) return *data.error;
        auto made = createFile(link, op, target, data.value.first, mode.value_or(0666) & 0777);
        if (made.error) return *made.error;
        return {};
    }

    Done copyTree(Link& link, Operation& op, const std::string& source, const std::string& target) {
        auto entries = listFolder(link, op, source, "/");
        if (entries.error) return *entries.error;
        if (call(link, [&] { return sftp_mkdir(link.sftp, target.c_str(), 0777); }) != 0)
            return failure(link, op, target, true);
        for (const FileObject& entry : entries.value) {
            const std::string name = path::toServer(path::lastComponent(entry.path));
            const std::string from = path::join(source, name), to = path::join(target, name);
            Done done = entry.isDirectory() ? copyTree(link, op, from, to) : copyFile(link, op, from, to, entry.permissions);
            if (done.error) return done;
        }
        return {};
    }

    Done removeTree(Link& link, Operation& op, const std::string& folder) {
        auto entries = listFolder(link, op, folder, "/");
        if (entries.error) return *entries.error;
        for (const FileObject& entry : entries.value) {
            const std::string child = path::join(folder, path::toServer(path::lastComponent(entry.path)));
            Done done = entry.isDirectory() ? removeTree(link, op, child) : unlink(link, op, child);
            if (done.error) return done;
        }
        if (call(link, [&] { return sftp_rmdir(link.sftp, folder.c_str()); }) == 0) return {};
        return failure(link, op, folder);
    }

    const std::shared_ptr<Trust> trust_;
    std::string host_;
    int port_ = 22;
    std::string user_, password_;
    std::string keyFolder_;  // ~/.ssh, where the login keys are looked for
    std::mutex trustMutex_;
    std::mutex rootMutex_;
    std::optional<std::string> root_;
    std::mutex linksMutex_;
    std::unordered_map<const Session*, std::unique_ptr<Link>> links_;  // one per worker
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watchdog_;
};

std::shared_ptr<FileProvider> makeSftp(BaseUrl base, const Credential& credential, const ProviderOptions& options) {
    return std::make_shared<SftpProvider>(std::move(base), credential, options);
}

}  // namespace files::detail

namespace files {

std::shared_ptr<FileProvider> makeSftpProvider(const std::string& url, const Credential& credential,
                                               const ProviderOptions& options) {
    auto base = detail::parseBaseUrl(url, {"sftp"});
    if (!base) return nullptr;
    return detail::makeSftp(std::move(*base), credential, options);
}

}  // namespace files
