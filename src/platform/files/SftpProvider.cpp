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
// Whatever a login asks is asked once for the provider. A worker that has to connect while
// another one connects waits for it (one that could not be made is the waiting workers' answer
// too, a Cancel included). What the user answered right (a key's passphrase, a password) is kept
// in memory (ssh::LoginMemory), so the other workers' logins and a new login after a drop ask it
// no more. A login that asked what cannot be given again (a one-time code) makes its connection
// the provider's only one: every worker's operations then go over it, one at a time; after a drop
// the next operation logs in again, asking the code once more.
//
// A URL's path counts from the login folder (the SFTP session's starting folder, as
// canonicalizing "." tells), or from the server root when it starts with "%2F", as for FTP.
// Saves are the one save algorithm of Save.h over this protocol's steps (SaveOnLink): a
// temporary copy in the file's folder, given the file's permission bits and renamed over the
// file; copies a broken connection left are remembered (ProviderOptions::leftovers) and
// removed after the next operation that goes through. A new file (create-new, a copy's) is the
// same copy, put under its name by the plain rename, which never replaces anything. Nothing else
// overwrites: moves, copies and new folders look first.
//
// Several files asked for at once (contentsOfFiles: the files a previewed page links) are read
// by one job on one connection rather than a read each on the workers: SFTP answers requests by
// their ids, so the OPENs of all the files go in one flight, then each opened file's FSTAT and
// first READ in the next, and a page's twenty small files cost two round trips, where three
// workers reading them in turn cost about seven reads of two round trips each.

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
#include <libssh/server.h>  // ssh_send_keepalive, declared there though clients send it too
#include <libssh/sftp.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <thread>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <span>
#include <unordered_map>

#include "platform/defaults/Base64.h"
#include "platform/files/CertificateCheck.h"
#include "platform/files/CurlProvider.h"
#include "platform/files/ListingText.h"
#include "platform/files/SftpWire.h"
#include "platform/files/SshSetup.h"
#include "platform/log/Log.h"
#include "platform/files/Save.h"
#include "platform/files/Trust.h"
#include "platform/files/TrustHostKeys.h"
#include "platform/files/VersionCheck.h"

namespace files::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;               // bytes per SFTP read or write request

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
    // What the server's SFTP offers beyond version 3 (its VERSION's extensions, read here).
    sftpwire::Wire::Extensions extensions;
    // The server as the configuration names it for this connection (HostName, Port).
    std::string host;
    int port = 22;
    // The jump hosts passed through to reach it, first hop first; they go after the session.
    std::vector<std::unique_ptr<ssh::Hop>> hops;
    // The ProxyCommand that carries the first connection (the target's, or the first hop's);
    // it is ended after the sessions that use it.
    std::unique_ptr<ssh::ProxyCommand> proxy;
    // Keepalives: held by the worker while an operation uses the connection, and tried by the
    // watchdog, which sends one on a connection idle for `aliveInterval` (see keepAlive). Timed,
    // so that an operation waiting for a link the workers share can still be cancelled.
    std::timed_mutex use;
    std::atomic<Clock::rep> lastActive{0};
    std::atomic<int> aliveSeconds{60};
    std::atomic<int> aliveCountMax{3};
    // The keepalive watch (under `use`): bytes received when the last one went, whether it
    // went, and how many in a row had nothing come back.
    std::uint64_t receivedAtAlive = 0;
    bool aliveSent = false;
    int unanswered = 0;
    bool used = false;      // an earlier operation ran on it
    bool askedOnce = false;  // a login of this connection asked what cannot be given again
    bool broken = false;    // the connection failed: it is dropped after the operation
    // For the operation running: whether the server answered anything yet, and whether file
    // bytes went out (then nothing is sent again on a new connection).
    bool answered = false;
    bool dataSent = false;
    Clock::time_point callStart{};
    // CLOSE requests of handles only read from, whose answers are read before the channel's next
    // use (see settle), and how long the server may take with them.
    std::vector<std::uint32_t> owed;
    std::chrono::milliseconds reply{20000};
    // For the watchdog: when the blocking call in progress began (0: none), and whether the
    // watchdog cut the connection because the server stayed silent longer than the reply timeout.
    std::atomic<Clock::rep> busySince{0};
    std::atomic<bool> silenced{false};
    std::mutex guard;  // held while fd is shut down (the watchdog, a cut) and while it is closed

    // Shuts the socket down, from any thread: what waits on it fails at once.
    void cut() {
        std::lock_guard lock(guard);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }

    ~Link() { close(); }
    bool open() const { return sftp != nullptr; }
    // The guard is held only while the socket goes, so that a cut (see cut) never waits for a
    // close that waits for the server.
    void close() {
        if (sftp) sftp_free(sftp);
        sftp = nullptr;
        extensions.clear();
        if (ssh) {
            if (!broken && ssh_is_connected(ssh)) ssh_disconnect(ssh);
            ssh_free(ssh);
        }
        ssh = nullptr;
        {
            std::lock_guard lock(guard);
            silenced = false;
            // libssh closes a socket it was given on some paths only: the socket is closed here
            // when the number still names it.
            struct stat now {};
            if (fd >= 0 && ::fstat(fd, &now) == 0 && now.st_dev == socketId.st_dev && now.st_ino == socketId.st_ino) ::close(fd);
            fd = -1;
        }
        while (!hops.empty()) hops.pop_back();
        proxy.reset();
        aliveSent = false;
        unanswered = 0;
        owed.clear();
        used = false;
        askedOnce = false;
        broken = false;
    }
};

// Whether the connection or the SFTP channel on it is gone (the server closed it, or it broke).
bool gone(Link& link) {
    return !ssh_is_connected(link.ssh) ||
           (link.sftp && (ssh_channel_is_closed(link.sftp->channel) || ssh_channel_is_eof(link.sftp->channel)));
}

// Reads the answers to the CLOSE requests sent without waiting, before anything else uses the
// channel: a handle only read from is closed in the background of what follows, a round trip
// saved on each listing and download. A connection that failed meanwhile is given up.
void settle(Link& link) {
    if (link.owed.empty()) return;
    if (!link.sftp || link.broken) {
        link.owed.clear();
        return;
    }
    sftpwire::Wire wire(link.sftp, link.reply);
    if (!wire.settle(link.owed) || gone(link)) {
        // Still connected: the server said nothing for the reply timeout, as the watchdog would have cut it for.
        if (!gone(link)) link.silenced = true;
        link.owed.clear();
        link.broken = true;
        if (link.fd >= 0) ::shutdown(link.fd, SHUT_RDWR);
    }
}

// Closes a handle only read from without waiting for the answer (see settle).
void closeLater(Link& link, ssh_string handle) {
    sftpwire::Wire wire(link.sftp, link.reply);
    const std::string_view h(static_cast<const char*>(ssh_string_data(handle)), ssh_string_len(handle));
    if (!wire.closeLater(h, link.owed)) link.broken = true;
}

// The SFTP status of the last failed request, or 0 when the failure was the connection's.
int statusOf(Link& link) { return link.sftp ? sftp_get_error(link.sftp) : 0; }

template <typename R>
void noteAnswer(Link& link, const R& rc) {
    bool ok;
    if constexpr (std::is_pointer_v<R>) ok = rc != nullptr;
    else ok = rc >= 0;
    // A failure on a connection that is gone is no answer, whatever status libssh left.
    if (ok || (statusOf(link) != SSH_FX_OK && !gone(link))) link.answered = true;
    else link.broken = link.broken || gone(link) || ssh_get_error_code(link.ssh) == SSH_FATAL;
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
    settle(link);
    link.callStart = Clock::now();
    if (link.sftp) link.sftp->errnum = SSH_FX_OK;  // what a failure leaves is this call's
    using R = decltype(f());
    if (link.broken) {  // the connection failed while settling: nothing is sent
        if constexpr (std::is_pointer_v<R>) return R(nullptr);
        else return R(-1);
    }
    auto rc = f();
    noteAnswer(link, rc);
    return rc;
}

}  // namespace

class SftpProvider final : public CurlProvider {
public:
    SftpProvider(BaseUrl base, Credential credential, const ProviderOptions& options)
        : CurlProvider(std::move(base), credential, options),
          trust_(options.trust),
          leftovers_(options.leftovers ? options.leftovers : makeLeftoverCopies()) {
        // An empty user is the configuration's, else the local user's (see SshSetup.h). The
        // password goes with the credential whatever its user (the URL's when it has neither).
        user_ = credential.user.empty() ? base_.user : credential.user;
        password_ = credential.user.empty() && credential.password.empty() ? base_.password : credential.password;
        // ~/.ssh as OpenSSH finds it (the user database's home, see SshSetup.h).
        if (const std::string home = ssh::userHome(); !home.empty()) keyFolder_ = home + "/.ssh";
        std::tie(host_, port_) = detail::hostAndPort(base_.authority, "sftp");
        watchdog_ = std::thread([this] { watch(); });
    }
    ~SftpProvider() override { endConnections(); }

    // The workers first (no call runs on a link then), the watchdog, then each link's SSH
    // connection.
    void closeConnections() override {
        stopWorkers();
        {
            std::lock_guard lock(watchMutex_);
            watchStop_ = true;
        }
        watchWake_.notify_all();
        if (watchdog_.joinable()) watchdog_.join();
        // Closed while they are still listed, so that a cut (see cutConnections) reaches them.
        std::vector<Link*> all;
        {
            std::lock_guard lock(linksMutex_);
            for (auto& [session, link] : links_) all.push_back(link.get());
        }
        for (Link* link : all) link->close();
        {
            std::lock_guard turn(connectMutex_);
            shared_ = nullptr;
        }
        std::lock_guard lock(linksMutex_);
        links_.clear();
    }

    // Every link's socket shut down: a close or an operation waiting for the server ends.
    void cutConnections() override {
        std::lock_guard lock(linksMutex_);
        for (auto& [session, link] : links_) link->cut();
    }

    ProviderKind kind() const override { return ProviderKind::sftp; }

    std::optional<std::string> rootOnServer() const override {
        if (base_.fromServerRoot) return base_.path;
        std::lock_guard lock(rootMutex_);
        return root_;
    }

    // SSH is always encrypted: known once a connection was made.
    std::optional<bool> connectionEncrypted() const override {
        if (!connected_.load()) return std::nullopt;
        return true;
    }

    OperationHandle contentsOfDirectory(std::string folder, ListCompletion completion) override {
        return listDirectory(std::move(folder), {}, std::move(completion));
    }

    OperationHandle listDirectory(std::string folder, ListOptions options, ListCompletion completion) override {
        return startValue<std::vector<FileObject>>(
            sftpJob<std::vector<FileObject>>(
                [this, folder, batch = std::move(options.batch)](Link& l, Operation& op,
                                                                 const std::string& root) -> Outcome<std::vector<FileObject>> {
                    return listFolder(l, op, onServer(root, folder), path::normalize(folder), batch);
                },
                checkPaths({folder})),
            std::move(completion));
    }

    // One job on one connection for them all (see listFolders): a tree's folders of one level
    // cost two or three round trips together rather than as many each on the three workers.
    OperationHandle contentsOfDirectories(std::vector<std::string> folders, FolderCompletion each) override {
        std::vector<std::optional<FileError>> refused;
        for (const std::string& folder : folders) refused.push_back(checkPaths({folder}));
        return inOneJob<FolderList>(
            folders, std::move(refused),
            [this, folders](Link& l, Operation& op, const std::string& root, const std::vector<std::optional<FileError>>& no) {
                return listFolders(l, op, root, folders, no);
            },
            [each = std::move(each)](const std::string& folder, FolderList list) {
                if (each) each(folder, std::move(list.entries), std::move(list.error));
            });
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

    // One job on one connection for them all (see readFiles): a page's twenty small files cost
    // two round trips rather than two each on the three workers in turn.
    OperationHandle contentsOfFiles(std::vector<std::string> files, FileCompletion each) override {
        std::vector<std::optional<FileError>> refused;
        for (const std::string& file : files) refused.push_back(refusedFile(file));
        return inOneJob<FileRead>(
            files, std::move(refused),
            [this, files](Link& l, Operation& op, const std::string& root, const std::vector<std::optional<FileError>>& no) {
                return readFiles(l, op, root, files, no);
            },
            [each = std::move(each)](const std::string& file, FileRead read) {
                if (each) each(file, std::move(read.data), std::move(read.error));
            });
    }

    // Several paths in one job on one connection: `work(link, op, root, refused)` does them all
    // (an Item for each path, by its index; nothing for one it did not reach), and `handOut(path,
    // item)` runs for every path in order, with the path's refusal (its own, found before any
    // server was asked), its item, or the job's error. With every path refused no connection is
    // made. A hand-out's own failure stays with it; the other paths still go.
    template <typename Item, typename Work, typename HandOut>
    OperationHandle inOneJob(const std::vector<std::string>& paths, std::vector<std::optional<FileError>> refused, Work work,
                             HandOut handOut) {
        using Items = std::vector<std::optional<Item>>;
        const bool none = std::all_of(refused.begin(), refused.end(), [](const auto& e) { return e.has_value(); });
        return start<Items>(
            sftpJob<Items>([work, refused](Link& l, Operation& op, const std::string& root) -> Outcome<Items> {
                return work(l, op, root, refused);
            },
                           none ? std::optional<FileError>(FileError::make(ErrorKind::invalidPath)) : std::nullopt),
            [paths, refused, handOut = std::move(handOut)](Outcome<Items> out) {
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    Item item;
                    if (refused[i]) item.error = refused[i];
                    else if (i < out.value.size() && out.value[i]) item = std::move(*out.value[i]);
                    else item.error = out.error ? *out.error : FileError::make(ErrorKind::cancelled);
                    try {
                        handOut(paths[i], std::move(item));
                    } catch (...) {
                    }
                }
            });
    }

    OperationHandle contentsAndVersion(std::string file, VersionedDataCompletion completion) override {
        using Result = std::pair<std::optional<Bytes>, FileVersion>;
        return start<Result>(
            sftpJob<Result>(
                [this, file](Link& l, Operation& op, const std::string& root) -> Outcome<Result> {
                    auto read = download(l, op, onServer(root, file));
                    if (read.error) return *read.error;
                    FileVersion version = read.value.second;
                    addContentFacts(version, read.value.first);
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
                    std::optional<FileVersion> fragment;
                    Outcome<FileVersion> written = mode == WriteMode::createNew
                                                       ? createFile(l, op, target, file, bytes)
                                                       : replaceFile(l, op, target, file, bytes, expected, fragment);
                    if (written.error) {
                        Outcome<std::optional<FileVersion>> failed(*written.error);
                        failed.value = std::move(fragment);
                        return failed;
                    }
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
        const std::string copy = to;
        return transfer(std::move(from), std::move(to), std::move(completion),
                        [this, copy](Link& l, Operation& op, const std::string& source, const std::string& target,
                                     const Attributes& item) -> Done {
                            if (item.isFolder()) return copyTree(l, op, source, target, copy);
                            return copyFile(l, op, source, target, copy, item.mode());
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
                             [this](Link& l, Operation& op, const std::string&) -> Done {
                                 // The root folder opened beside the question for it (see rootFolder).
                                 sftp_dir opened = nullptr;
                                 auto root = rootFolder(l, op, &opened);
                                 if (root.error) return *root.error;
                                 auto listed = listFolder(l, op, root.value, "/", {}, opened);
                                 if (listed.error) return *listed.error;
                                 return {};
                             },
                             std::nullopt, false),
                         std::move(completion));
    }

private:

    // A job body on this worker's connection, with the provider's root folder on the server
    // (without `rootFirst`, an empty string: the body asks for it itself); a job whose paths were
    // refused completes with that error before any server is contacted. See the file comment for
    // when it runs a second time.
    template <typename T>
    std::function<Outcome<T>(Session&, Operation&)> sftpJob(std::function<Outcome<T>(Link&, Operation&, const std::string&)> body,
                                                           std::optional<FileError> refused, bool rootFirst = true) {
        const Clock::time_point asked = Clock::now();
        return [this, body = std::move(body), refused = std::move(refused), rootFirst, asked](Session& s,
                                                                                           Operation& op) -> Outcome<T> {
            if (refused) return *refused;
            Turn turn(*this);
            Link* picked = pickLink(s, op, turn, asked);
            if (!picked) return *turn.error;
            Link& link = *picked;
            std::unique_lock inUse(link.use, std::defer_lock);
            while (!inUse.try_lock_for(std::chrono::milliseconds(100)))
                if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            struct Active {
                Link& link;
                ~Active() { link.lastActive = Clock::now().time_since_epoch().count(); }
            } active{link};
            for (int attempt = 0;; ++attempt) {
                if (link.open() && link.broken) link.close();  // dropped while idle (see keepAlive)
                if (!link.open()) {
                    auto e = connect(link, op);
                    turn.end(link, e);
                    if (e) {
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
                link.reply = timeouts().reply;
                Outcome<T> out;
                auto root = rootFirst ? rootFolder(link, op) : Outcome<std::string>(std::string());
                if (root.error) out = Outcome<T>(*root.error);
                else out = body(link, op, root.value);
                // What earlier saves left goes once an operation went through.
                if (!out.error && !op.isCancelled() && !link.broken && !leftovers_->copies().empty()) {
                    SaveOnLink steps(*this, link, op);
                    removeLeftovers(steps, *leftovers_);
                }
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
                keepAlive(*link, now);
            }
        }
    }

    // A kept connection idle for its interval (ServerAliveInterval, or a minute) sends the
    // server a keepalive it answers (keepalive@openssh.com), so that a NAT or firewall that
    // forgets idle connections keeps it, and answers what the server sent meanwhile (its own
    // keepalive requests). Only when no operation uses the connection. Once ServerAliveCountMax
    // keepalives in a row had nothing at all come back, the connection counts as dropped: it is
    // cut, and the next operation opens a new one (as for one that breaks anyway).
    static void keepAlive(Link& link, Clock::rep now) {
        const auto interval =
            std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(link.aliveSeconds.load())).count();
        if (!link.sftp || link.broken || interval <= 0 || now - link.lastActive.load() < interval) return;
        std::unique_lock inUse(link.use, std::try_to_lock);
        if (!inUse || !link.sftp || link.broken) return;
        link.lastActive = now;
        // What came in on the connection the app holds (the first hop's, behind jump hosts),
        // counted by the system whoever read it.
        const int outer = link.hops.empty() ? link.fd : link.hops.front()->socket;
        const std::optional<std::uint64_t> received = ssh::bytesReceived(outer);
        if (!received || *received != link.receivedAtAlive) link.unanswered = 0;
        else if (link.aliveSent) ++link.unanswered;
        if (received) link.receivedAtAlive = *received;
        const int countMax = link.aliveCountMax.load();
        if (received && countMax > 0 && link.unanswered >= countMax) {
            link.broken = true;
            if (outer >= 0) ::shutdown(outer, SHUT_RDWR);
            return;
        }
        // Without waiting for the answer (libssh would wait for ever): the first call takes in
        // the answer to the last keepalive if it came, and sends nothing then; with none on its
        // way, it sends one. After both calls one is on its way.
        const int blocking = ssh_is_blocking(link.ssh);
        ssh_set_blocking(link.ssh, 0);
        ssh_send_keepalive(link.ssh);
        ssh_send_keepalive(link.ssh);
        ssh_set_blocking(link.ssh, blocking);
        link.aliveSent = true;
        if (ssh_channel_poll_timeout(link.sftp->channel, 0, 0) == SSH_ERROR) link.broken = !ssh_is_connected(link.ssh);
    }

    // A worker's turn to connect (see pickLink); ended once the connection is made or failed,
    // or when the operation ends first.
    struct Turn {
        SftpProvider& provider;
        bool held = false;
        std::optional<FileError> error;  // pickLink's, when it gives no link
        explicit Turn(SftpProvider& p) : provider(p) {}
        ~Turn() {
            if (held) end(nullptr, std::nullopt);
        }
        void end(Link* link, const std::optional<FileError>& failure) {
            if (!held) return;
            held = false;
            std::lock_guard lock(provider.connectMutex_);
            provider.connecting_ = false;
            provider.connectFailure_ = failure;
            provider.failedAt_ = Clock::now();
            if (!failure && link && link->askedOnce) provider.shared_ = link;
            provider.connectTurn_.notify_all();
        }
        void end(Link& link, const std::optional<FileError>& failure) { end(&link, failure); }
    };

    // The link an operation runs on: the one every worker shares once a login asked what cannot
    // be given again, else the worker's own. A worker whose own link has to connect while another
    // worker connects waits for that first. When the last connection could not be made after the
    // operation was asked for (`asked`), its error is this operation's too: the user is not asked
    // again at once. Nothing (and turn.error) then, or when the operation is cancelled while it
    // waits.
    Link* pickLink(Session& s, Operation& op, Turn& turn, Clock::time_point asked) {
        Link& own = linkOf(s);
        std::unique_lock lock(connectMutex_);
        while (!shared_ && !own.open() && connecting_) {
            connectTurn_.wait_for(lock, std::chrono::milliseconds(100));
            if (op.isCancelled()) {
                turn.error = FileError::make(ErrorKind::cancelled);
                return nullptr;
            }
        }
        if (shared_) return shared_;
        if (!shared_ && !own.open() && connectFailure_ && failedAt_ >= asked) {
            turn.error = connectFailure_;
            return nullptr;
        }
        if (!own.open()) connecting_ = turn.held = true;
        return &own;
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

    // A connection, logged in, with its SFTP channel. While the user reads a host-key question
    // the server's login grace time runs; a server that gave up meanwhile is connected to again
    // (its key is trusted by then, so there is no second question).
    std::optional<FileError> connect(Link& link, Operation& op) {
        bool asked = false;
        auto error = connectOnce(link, op, asked);
        if (error && asked && !op.isCancelled() && link.broken && error->kind != ErrorKind::loginRejected &&
            error->kind != ErrorKind::notTrusted) {
            OperationAccess::disarm(op);
            link.close();
            bool again = false;
            error = connectOnce(link, op, again);
        }
        if (!error) connected_ = true;
        return error;
    }

    std::optional<FileError> connectOnce(Link& link, Operation& op, bool& asked) {
        const Timeouts t = timeouts();
        const auto deadline = Clock::now() + t.connect;
        link.callStart = Clock::now();

        link.ssh = ssh_new();
        if (!link.ssh) return FileError::make(ErrorKind::other, "no SSH session could be made");
        const ssh::HostConfig config = ssh::configure(link.ssh, {host_, port_, user_, keyFolder_});
        logUnsupported(config);
        link.host = config.host;
        link.port = config.port;
        if (config.serverAliveInterval > 0) link.aliveSeconds = config.serverAliveInterval;
        link.aliveCountMax = config.serverAliveCountMax;
        // A ProxyJump comes as libssh's ProxyCommand for it, and is passed through hop by hop
        // below; any other ProxyCommand carries the first connection.
        std::vector<ssh::JumpHost> jumps;
        if (!config.proxyCommand.empty()) jumps = ssh::jumpHosts(config.proxyCommand);
        // Each jump host in turn: reached (over the previous one's channel), its key checked and
        // logged in to, and asked to open a channel to the next; nothing goes to the next host
        // before the one in front of it is trusted.
        // Each hop is a host of the configuration too (its HostName, Port, User, IdentityFile).
        // As with OpenSSH, the first hop's own ProxyJump is followed (its hops go in front); the
        // later hops are reached through the ones before them whatever their own blocks say.
        std::vector<ssh::HostConfig> hopConfigs;
        for (std::size_t depth = 0; !jumps.empty(); ++depth) {
            std::vector<std::unique_ptr<ssh::Hop>> hops;
            std::vector<ssh::HostConfig> configs;
            for (const ssh::JumpHost& jump : jumps) {
                auto hop = std::make_unique<ssh::Hop>();
                hop->session = ssh_new();
                if (!hop->session) return FileError::make(ErrorKind::other, "no SSH session could be made");
                ssh::HostConfig hopConfig = ssh::configure(hop->session, {jump.host, jump.port, jump.user, keyFolder_});
                logUnsupported(hopConfig);
                hops.push_back(std::move(hop));
                configs.push_back(std::move(hopConfig));
            }
            link.hops.insert(link.hops.begin(), std::make_move_iterator(hops.begin()), std::make_move_iterator(hops.end()));
            hopConfigs.insert(hopConfigs.begin(), configs.begin(), configs.end());
            const std::string& further = hopConfigs.front().proxyCommand;
            jumps = further.empty() ? std::vector<ssh::JumpHost>{} : ssh::jumpHosts(further);
            if (!jumps.empty() && depth >= 8) {
                link.broken = true;
                return FileError::make(ErrorKind::cannotReachHost, "The SSH configuration reaches the jump host " +
                                                                       hopConfigs.front().host +
                                                                       " through too many jump hosts; nothing was sent.");
            }
        }
        for (std::size_t i = 0; i <= link.hops.size(); ++i) {
            const bool target = i == link.hops.size();
            const ssh::HostConfig& here = target ? config : hopConfigs[i];
            ssh_session session = target ? link.ssh : link.hops[i]->session;
            // What goes wrong on the way to a jump host is told as that host's.
            auto told = [&](FileError e) { return target ? e : ssh::atJumpHost(std::move(e), here, host_); };
            if (i == 0) {
                if (!here.proxyCommand.empty()) {
                    if (auto e = startProxyCommand(link, op, here)) return told(*e);
                } else if (auto e = openSocket(link, op, deadline, here.host, here.port)) {
                    return told(*e);
                }
                if (!target) link.hops[0]->own(link.fd);
            } else {
                // The previous hop's channel to this host.
                std::string why;
                const int next = link.hops[i - 1]->forward(here.host, here.port, why);
                if (next < 0) {
                    link.broken = true;
                    return told(FileError::make(ErrorKind::cannotReachHost,
                                                "the jump host " + knownHostsName(hopConfigs[i - 1].host, hopConfigs[i - 1].port) +
                                                    " could not reach " + knownHostsName(here.host, here.port) + ": " + why));
                }
                OperationAccess::disarm(op);
                if (target) {
                    link.fd = next;
                    ::fstat(next, &link.socketId);
                } else {
                    link.hops[i]->own(next);
                }
                if (!OperationAccess::arm(op, waker(next))) return FileError::make(ErrorKind::cancelled);
            }
            const int fd = target ? link.fd : link.hops[i]->socket;
            if (auto e = startSession(link, op, session, here, fd, target ? password_ : std::string(), asked, deadline)) {
                // A connection the command carried that failed before the login: the command's
                // own words say more than libssh's "connection closed".
                if (i == 0 && link.proxy && e->kind == ErrorKind::cannotReachHost) {
                    const auto ending = link.proxy->ending();
                    e->message = "The SSH configuration's ProxyCommand for " + here.alias + " " +
                                 (ending ? *ending : "carried a connection that failed: " + e->message) + ".";
                }
                return told(*e);
            }
        }
        if (!startSftp(link)) {
            if (link.silenced) return FileError::make(ErrorKind::timedOut);
            link.broken = true;
            if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            return FileError::make(ErrorKind::other, std::string("the server offers no SFTP: ") + ssh_get_error(link.ssh));
        }
        return std::nullopt;
    }

    // One SSH session over a connected socket: the key exchange (the known key types asked for
    // first), the host key checked (the user asked when it is unknown), then the login.
    std::optional<FileError> startSession(Link& link, Operation& op, ssh_session session, const ssh::HostConfig& config,
                                          int fd, const std::string& password, bool& asked, Clock::time_point deadline) {
        if (trust_) {
            const std::string algorithms = ssh::hostKeyAlgorithms(trust_->knownHostKeyTypes(config.host, config.port));
            ssh_options_set(session, SSH_OPTIONS_HOSTKEYS, algorithms.c_str());
        }
        ssh_options_set(session, SSH_OPTIONS_FD, &fd);
        setTimeout(session, std::max<std::chrono::milliseconds>(
                                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                                std::chrono::milliseconds(1)));
        if (ssh_connect(session) != SSH_OK) {
            link.broken = true;
            if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
            const std::string why = ssh_get_error(session);
            // libssh's own wait ends on its rounding of the limit, a little before ours.
            if (Clock::now() + std::chrono::milliseconds(100) >= deadline || why.find("imeout") != std::string::npos)
                return FileError::make(ErrorKind::timedOut);
            return FileError::make(ErrorKind::cannotReachHost, why);
        }
        setTimeout(session, timeouts().reply);
        if (auto e = checkHostKey(link, op, session, config, asked)) return e;  // may wait for the user: not watched
        Busy busy(link);
        ssh::Login login(session, trust_.get(), &op, config, password, keyFolder_, &loginMemory_);
        // While the user is asked, the wait is the user's, not the server's silence.
        login.whileAsking([&link](bool asking) { link.busySince = asking ? 0 : Clock::now().time_since_epoch().count(); });
        const ssh::Login::Result result = login.run();
        link.askedOnce = link.askedOnce || result.askedOnce;
        if (result.rc == SSH_AUTH_SUCCESS) return std::nullopt;
        if (op.isCancelled()) return connectionLost(link, op);
        if (result.rc == SSH_AUTH_ERROR && !ssh_is_connected(session)) return connectionLost(link, op);
        link.broken = true;
        if (result.cancelled) return FileError::make(ErrorKind::cancelled);  // the user's own answer
        return FileError::make(ErrorKind::loginRejected, result.refusal);
    }

    // The SFTP channel, its subsystem request and INIT (in one flight where the server lets it,
    // see sftpwire::start).
    bool startSftp(Link& link) {
        Busy busy(link);  // a server silent for the reply timeout is cut by the watchdog
        link.sftp = sftpwire::start(link.ssh, timeouts().reply, link.extensions, "sftp");
        return link.sftp != nullptr;
    }

    static bool offers(const Link& link, std::string_view name, std::string_view data) {
        return std::any_of(link.extensions.begin(), link.extensions.end(),
                           [&](const auto& e) { return e.first == name && e.second == data; });
    }

    // Keywords of the SSH configuration that apply to this host and that the app does not honour
    // are told in the log, once each for the process (each connection reads the files again).
    void logUnsupported(const ssh::HostConfig& config) {
        static std::mutex mutex;
        static std::set<std::string> logged;
        std::lock_guard lock(mutex);
        for (const std::string& keyword : config.unsupported) {
            std::string name = keyword;  // HashKnownHosts and hashknownhosts are one keyword
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if ((xlog::dynamicLogLevel() & xlog::FlagWarning) == 0 || !logged.insert(name).second) continue;
            xlog::logWarning("SSH configuration for " + host_ + ": the keyword " + keyword + " is not supported and has no effect",
                             __FILE__, "connect", __LINE__);
        }
    }

    static void setTimeout(ssh_session session, std::chrono::milliseconds timeout) {
        long seconds = static_cast<long>(timeout.count() / 1000);
        long micros = static_cast<long>(timeout.count() % 1000) * 1000;
        ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &seconds);
        ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &micros);
    }

    // The first connection through the host's ProxyCommand; a cancel shuts its socket.
    std::optional<FileError> startProxyCommand(Link& link, Operation& op, const ssh::HostConfig& config) {
        std::string why;
        const auto command = ssh::ProxyCommand::expand(config.proxyCommand, config, why);
        int fd = -1;
        if (command) {
            link.proxy = std::make_unique<ssh::ProxyCommand>();
            fd = link.proxy->start(*command, why);
        }
        if (fd < 0) {
            link.broken = true;
            return FileError::make(ErrorKind::cannotReachHost,
                                   "The SSH configuration's ProxyCommand for " + config.alias + " cannot run: " + why + ".");
        }
        link.fd = fd;
        ::fstat(fd, &link.socketId);
        if (!OperationAccess::arm(op, waker(fd))) return FileError::make(ErrorKind::cancelled);
        return std::nullopt;
    }

    // A TCP connection of our own, made while watching for a cancel.
    std::optional<FileError> openSocket(Link& link, Operation& op, Clock::time_point deadline, const std::string& host,
                                        int port) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0 || !found)
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
            {
                std::lock_guard guard(link.guard);
                link.fd = -1;
            }
            ::close(fd);
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
    std::optional<FileError> checkHostKey(Link& link, Operation& op, ssh_session session, const ssh::HostConfig& config,
                                          bool& asked) {
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(session, &key) != SSH_OK || !key)
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
        const TrustVerdict verdict = trust_ ? trust_->checkHostKey(config.host, config.port, hostKey) : TrustVerdict::unknown;
        if (verdict == TrustVerdict::trusted) return std::nullopt;
        TrustQuestion question =
            hostKeyQuestion(trust_.get(), config.host, config.port, hostKey, verdict, session != link.ssh ? host_ : std::string());
        bool answered = false;
        if (trust_ && trust_->decide(question, &op, &answered)) {
            asked = true;
            return std::nullopt;
        }
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

    // The provider's root on the server, asked for once: the login folder (canonicalizing "."
    // tells it) with the URL's path. With `opened`, while the root is not known yet, the root
    // folder is opened in the same flight, named relative to the login folder (which relative
    // paths count from), and its handle put there: the first listing of a new provider costs a
    // round trip less. Nothing is put there when the server refused to open it: the caller opens
    // it as usual and tells why.
    Outcome<std::string> rootFolder(Link& link, Operation& op, sftp_dir* opened = nullptr) {
        if (base_.fromServerRoot) return base_.path;
        {
            std::lock_guard lock(rootMutex_);
            if (root_) return *root_;
        }
        std::string login;
        if (!opened) {
            char* folder = call(link, [&] { return sftp_canonicalize_path(link.sftp, "."); });
            if (!folder) return failure(link, op, ".");
            login = folder;
            ssh_string_free_char(folder);
        } else {
            const std::string relative = base_.path == "/" ? std::string(".") : "." + base_.path;
            std::string handle;
            const auto asked = onWire(link, op, [&](sftpwire::Wire& wire) -> sftpwire::Result {
                using sftpwire::Wire;
                const std::uint32_t realId = wire.post(SSH_FXP_REALPATH, sftpwire::pathRequest("."));
                const std::uint32_t openId = realId ? wire.post(SSH_FXP_OPENDIR, sftpwire::pathRequest(relative)) : 0;
                Wire::Answer real, open;
                if (!openId || !wire.await(realId, real) || !wire.await(openId, open)) return sftpwire::Result::lost();
                if (Wire::handleIn(open, handle).kind == sftpwire::Result::Kind::connection) return sftpwire::Result::lost();
                if (real.type != SSH_FXP_NAME) return Wire::statusOf(real);
                std::string_view in(real.body), name;
                std::uint32_t count = 0;
                if (!sftpwire::takeU32(in, count) || count == 0 || !sftpwire::takeString(in, name)) return sftpwire::Result::lost();
                login.assign(name);
                return sftpwire::Result::ok();
            });
            if (!handle.empty()) *opened = detachedDir(link, relative, handle);
            if (auto e = wireError(link, op, asked, ".")) {
                if (*opened) {
                    if (!link.broken) closeLater(link, (*opened)->handle);
                    closeDetached(*opened);
                    *opened = nullptr;
                }
                return *e;
            }
        }
        const std::string folder = !login.empty() && login[0] == '/' ? path::normalize(login) : std::string("/");
        std::lock_guard lock(rootMutex_);
        root_ = path::join(folder, base_.path);
        return *root_;
    }

    // A folder handle that an OPENDIR posted by hand gave, as libssh's calls take it.
    static sftp_dir detachedDir(Link& link, const std::string& name, const std::string& handle) {
        auto* dir = static_cast<sftp_dir>(std::calloc(1, sizeof(sftp_dir_struct)));
        if (!dir) return nullptr;
        dir->sftp = link.sftp;
        dir->name = ::strdup(name.c_str());
        dir->handle = ssh_string_new(handle.size());
        if (!dir->name || !dir->handle || ssh_string_fill(dir->handle, handle.data(), handle.size()) != 0) {
            closeDetached(dir);
            return nullptr;
        }
        return dir;
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

    // With `batch`, the entries are also handed over kBatchEntries at a time as they arrive.
    // `opened`: the folder's handle when it was opened already (see rootFolder).
    // A folder's entry as the server names it in a listing (`found` is taken over), its path
    // under `prefix`; nothing for "." and "..", and for a name no path can hold.
    static std::optional<FileObject> entryOf(sftp_attributes found, const std::string& prefix) {
        Attributes a(found);
        const std::string_view name = a->name ? a->name : "";
        if (name == "." || name == ".." || !parse::text::usableName(name)) return std::nullopt;
        FileObject entry = parse::text::entryFor(name, prefix);
        entry.type = a.type();
        entry.size = entry.type == FileType::directory ? -1 : a.size();
        entry.modificationDate = a.modified();
        entry.permissions = a.mode();
        return entry;
    }

    Outcome<std::vector<FileObject>> listFolder(Link& link, Operation& op, const std::string& server,
                                                const std::string& entriesFolder, const ListBatch& batch = {},
                                                sftp_dir opened = nullptr) {
        static constexpr std::size_t kBatchEntries = 100;  // about one READDIR answer
        sftp_dir dir = opened ? opened : call(link, [&] { return sftp_opendir(link.sftp, server.c_str()); });
        if (!dir) return failure(link, op, server);
        std::vector<FileObject> entries;
        std::size_t handedOver = 0;
        const auto handOver = [&] {
            if (!batch || handedOver == entries.size()) return;
            batch(std::vector<FileObject>(entries.begin() + static_cast<std::ptrdiff_t>(handedOver), entries.end()));
            handedOver = entries.size();
        };
        const std::string prefix = entriesFolder == "/" ? "/" : entriesFolder + "/";
        const auto read = onWire(link, op, [&](sftpwire::Wire& wire) {
            return wire.readDirectory(dir, [&](sftp_attributes found) {
                auto entry = entryOf(found, prefix);
                if (!entry) return;
                entries.push_back(std::move(*entry));
                if (entries.size() - handedOver >= kBatchEntries) handOver();
            });
        });
        std::optional<FileError> error = wireError(link, op, read, server);
        if (!link.broken) closeLater(link, dir->handle);
        closeDetached(dir);
        if (!error && op.isCancelled()) error = FileError::make(ErrorKind::cancelled);
        if (error) return *error;
        return entries;
    }

    // Runs requests of our own on the session's channel (see SftpWire.h), with the watchdog
    // told each time the server answers.
    template <typename F>
    sftpwire::Result onWire(Link& link, Operation& op, F&& f) {
        (void)op;
        Busy busy(link);
        settle(link);
        if (link.broken) return sftpwire::Result::lost();
        link.callStart = Clock::now();
        sftpwire::Wire wire(link.sftp, timeouts().reply, [&link] {
            link.answered = true;
            link.busySince = Clock::now().time_since_epoch().count();
        });
        sftpwire::Result result = f(wire);
        if (result.kind == sftpwire::Result::Kind::connection) link.broken = true;
        else if (result.kind == sftpwire::Result::Kind::status) link.sftp->errnum = result.status;
        return result;
    }

    // What a wire result means for the operation on `path`.
    std::optional<FileError> wireError(Link& link, Operation& op, const sftpwire::Result& result, const std::string& path,
                                       bool writing = false) {
        if (result) return std::nullopt;
        if (result.kind == sftpwire::Result::Kind::connection) return connectionLost(link, op);
        return failure(link, op, path, writing);
    }

    // A handle of a connection that is being dropped: freed without a word to the server.
    static void closeDetached(sftp_dir dir) {
        ssh_string_free(dir->handle);
        ssh_buffer_free(dir->buffer);
        std::free(dir->name);
        std::free(dir);
    }
    static void closeDetached(sftp_file file) {
        ssh_string_free(file->handle);
        std::free(file->name);
        std::free(file);
    }

    // The file's bytes and what its open handle said of it.
    Outcome<std::pair<Bytes, FileVersion>> download(Link& link, Operation& op, const std::string& server) {
        sftp_file file = call(link, [&] { return sftp_open(link.sftp, server.c_str(), O_RDONLY, 0); });
        if (!file) return failure(link, op, server);
        // The attributes and the first reads in one flight.
        Bytes data;
        sftp_attributes found = nullptr;
        const auto read = onWire(link, op, [&](sftpwire::Wire& wire) {
            return wire.read(file, 0, data, std::nullopt, kChunk, {}, &found);
        });
        Attributes a(found);
        std::optional<FileError> error;
        if (a.isFolder()) error = FileError::make(ErrorKind::invalidPath, "it is a folder");
        else if (auto e = wireError(link, op, read, server)) error = e;
        else if (!a) error = failure(link, op, server);
        else if (op.isCancelled()) error = FileError::make(ErrorKind::cancelled);
        if (!link.broken) closeLater(link, file->handle);
        closeDetached(file);
        if (error) return *error;
        return std::make_pair(std::move(data), a.version());
    }

    // What listFolders and readFiles share: several paths' work on one connection, `perFlight`
    // paths at a time, each step for all of a flight in one go. An item (with `index`, `server`,
    // `handle` and `result`) is made for every path not refused before, `prepare` adding its own;
    // a flight's opens (`openType`, the body `openBody(item)` gives) go out together and their
    // handles are taken in; `step(wire, flight)` does what follows on the open handles (false: the
    // connection is lost); then every handle is closed without waiting (closeLater: the answers
    // are taken in while the next flight's are awaited). `finish(item, why)` makes each reached
    // path's result, `why()` telling the server's refusal of it (as the one-path call maps it) or
    // the cancellation, or nothing. A failed connection ends the lot: what was done before stays in the outcome's
    // value, the paths not reached have nothing.
    template <typename Item, typename Done, typename Prepare, typename OpenBody, typename Step, typename Finish>
    Outcome<std::vector<std::optional<Done>>> inFlights(Link& link, Operation& op, const std::string& root,
                                                        const std::vector<std::string>& paths,
                                                        const std::vector<std::optional<FileError>>& refused,
                                                        std::size_t perFlight, std::uint8_t openType, Prepare prepare,
                                                        OpenBody openBody, Step step, Finish finish) {
        std::vector<Item> items;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (refused[i]) continue;
            Item item;
            item.index = i;
            item.server = onServer(root, paths[i]);
            prepare(item, paths[i]);
            items.push_back(std::move(item));
        }
        std::size_t done = 0;  // the items whose flights went through
        const auto went = onWire(link, op, [&](sftpwire::Wire& wire) -> sftpwire::Result {
            using sftpwire::Wire;
            const auto lost = sftpwire::Result::lost();
            while (done < items.size()) {
                if (op.isCancelled()) return lost;
                const std::span<Item> flight(items.data() + done, std::min(perFlight, items.size() - done));
                std::vector<std::uint32_t> ids;
                for (const Item& item : flight) {
                    ids.push_back(wire.post(openType, openBody(item)));
                    if (!ids.back()) return lost;
                }
                for (std::size_t k = 0; k < flight.size(); ++k) {
                    Wire::Answer answer;
                    if (!wire.await(ids[k], answer)) return lost;
                    flight[k].result = Wire::handleIn(answer, flight[k].handle);
                    if (flight[k].result.kind == sftpwire::Result::Kind::connection) return lost;
                }
                if (!step(wire, flight)) return lost;
                for (const Item& item : flight) {
                    if (!item.handle.empty() && !wire.closeLater(item.handle, link.owed)) return lost;
                }
                done += flight.size();
            }
            return sftpwire::Result::ok();
        });
        std::vector<std::optional<Done>> results(paths.size());
        for (std::size_t k = 0; k < done; ++k) {
            Item& item = items[k];
            const auto why = [&]() -> std::optional<FileError> {
                if (!item.result) {
                    link.sftp->errnum = item.result.status;  // what failure reads
                    return failure(link, op, item.server);
                }
                if (op.isCancelled()) return FileError::make(ErrorKind::cancelled);
                return std::nullopt;
            };
            results[item.index] = finish(item, why);
        }
        if (!went) {
            Outcome<std::vector<std::optional<Done>>> failed(*wireError(link, op, went, items[done].server));
            failed.value = std::move(results);
            return failed;
        }
        return results;
    }

    // One folder of several listed at once: its entries or why not, as listFolder would tell.
    struct FolderList {
        std::vector<FileObject> entries;
        std::optional<FileError> error;
    };
    using FolderLists = std::vector<std::optional<FolderList>>;  // by the index of the path; nothing: not listed

    // Several folders listed as listFolder lists one, kFoldersInFlight at a time (see inFlights):
    // their OPENDIRs; then two READDIRs on each open folder, again for those that did not reach
    // their end, until every one did (a small folder's entries and its end come in the first
    // step). A folder the server refuses has its own error, and the others are listed all the
    // same.
    Outcome<FolderLists> listFolders(Link& link, Operation& op, const std::string& root,
                                     const std::vector<std::string>& folders,
                                     const std::vector<std::optional<FileError>>& refused) {
        static constexpr std::size_t kFoldersInFlight = 64;
        struct Item {
            std::size_t index = 0;
            std::string server;
            std::string prefix;  // of the entries' provider paths
            std::string handle;  // empty: not opened
            sftpwire::Result result;
            bool atEnd = false;
            std::vector<FileObject> entries;
        };
        return inFlights<Item, FolderList>(
            link, op, root, folders, refused, kFoldersInFlight, SSH_FXP_OPENDIR,
            [](Item& item, const std::string& folder) {
                const std::string normal = path::normalize(folder);
                item.prefix = normal == "/" ? "/" : normal + "/";
            },
            [](const Item& item) { return sftpwire::pathRequest(item.server); },
            [](sftpwire::Wire& wire, std::span<Item> flight) {
                using sftpwire::Wire;
                for (Item& item : flight) item.atEnd = item.handle.empty();
                for (;;) {
                    std::vector<std::pair<std::size_t, std::uint32_t>> asked;  // (item, READDIR)
                    for (std::size_t k = 0; k < flight.size(); ++k) {
                        if (flight[k].atEnd) continue;
                        for (int twice = 0; twice < 2; ++twice) {
                            const std::uint32_t id = wire.post(SSH_FXP_READDIR, sftpwire::handleRequest(flight[k].handle));
                            if (!id) return false;
                            asked.emplace_back(k, id);
                        }
                    }
                    if (asked.empty()) return true;
                    for (const auto& [k, id] : asked) {
                        Wire::Answer answer;
                        if (!wire.await(id, answer)) return false;
                        Item& item = flight[k];
                        if (item.atEnd) continue;  // the answer after the end (or a refusal)
                        if (answer.type == SSH_FXP_NAME) {
                            const bool whole = Wire::namesIn(answer.body, [&](sftp_attributes found) {
                                if (auto entry = entryOf(found, item.prefix)) item.entries.push_back(std::move(*entry));
                            });
                            if (!whole) return false;
                            continue;
                        }
                        const sftpwire::Result status = Wire::statusOf(answer);
                        if (status.kind == sftpwire::Result::Kind::connection) return false;
                        if (!(status.kind == sftpwire::Result::Kind::status && status.status == SSH_FX_EOF)) item.result = status;
                        item.atEnd = true;
                    }
                }
            },
            [](Item& item, const auto& why) {
                FolderList list;
                list.error = why();
                if (!list.error) list.entries = std::move(item.entries);
                return list;
            });
    }

    // One file of several read at once: its bytes or why not, as download would tell.
    struct FileRead {
        std::optional<Bytes> data;
        std::optional<FileError> error;
    };
    using FileReads = std::vector<std::optional<FileRead>>;  // by the index of the path; nothing: not read

    // Several files read as download reads one, kFilesInFlight at a time (see inFlights): their
    // OPENs (read only); then, for each that opened, its attributes (FSTAT) and its first READ;
    // then the rest of each file the first READ did not end. A file the server refuses has its
    // own error, as download maps it, and the others are read all the same.
    Outcome<FileReads> readFiles(Link& link, Operation& op, const std::string& root, const std::vector<std::string>& files,
                                 const std::vector<std::optional<FileError>>& refused) {
        static constexpr std::size_t kFilesInFlight = 32;
        struct Item {
            std::size_t index = 0;
            std::string server;
            std::string handle;  // empty: not opened
            sftpwire::Result result;
            Attributes attributes;
            Bytes data;
        };
        return inFlights<Item, FileRead>(
            link, op, root, files, refused, kFilesInFlight, SSH_FXP_OPEN, [](Item&, const std::string&) {},
            [](const Item& item) { return sftpwire::openRequest(item.server, SSH_FXF_READ, 0); },
            [](sftpwire::Wire& wire, std::span<Item> flight) {
                using sftpwire::Wire;
                // The attributes and the first bytes of every file that opened.
                std::vector<std::pair<std::uint32_t, std::uint32_t>> asked;  // FSTAT, READ
                for (const Item& item : flight) {
                    if (item.handle.empty()) {
                        asked.emplace_back(0, 0);
                        continue;
                    }
                    const std::uint32_t statId = wire.post(SSH_FXP_FSTAT, sftpwire::handleRequest(item.handle));
                    const std::uint32_t readId = statId ? wire.post(SSH_FXP_READ, sftpwire::readRequest(item.handle, 0, kChunk)) : 0;
                    if (!readId) return false;
                    asked.emplace_back(statId, readId);
                }
                std::vector<bool> more(flight.size(), false);
                for (std::size_t k = 0; k < flight.size(); ++k) {
                    Item& item = flight[k];
                    if (item.handle.empty()) continue;
                    Wire::Answer stat, first;
                    if (!wire.await(asked[k].first, stat) || !wire.await(asked[k].second, first)) return false;
                    sftp_attributes found = nullptr;
                    const sftpwire::Result told = Wire::attributesIn(stat, found);
                    if (told.kind == sftpwire::Result::Kind::connection) return false;
                    item.attributes = Attributes(found);
                    if (first.type == SSH_FXP_DATA) {
                        std::string_view in(first.body), bytes;
                        if (!sftpwire::takeString(in, bytes) || bytes.size() > kChunk) return false;
                        item.data.assign(bytes);
                        const std::int64_t size = item.attributes.size();
                        // Done when it holds the size the file had and came short of what was
                        // asked; otherwise the rest is read (up to the end, a file that grew too).
                        more[k] = !(size >= 0 && item.data.size() >= static_cast<std::uint64_t>(size) && bytes.size() < kChunk);
                    } else if (const sftpwire::Result status = Wire::statusOf(first);
                               !(status.kind == sftpwire::Result::Kind::status && status.status == SSH_FX_EOF)) {
                        item.result = status;
                    }
                    if (item.result && !told) item.result = told;  // as download: no attributes, no file
                }
                for (std::size_t k = 0; k < flight.size(); ++k) {
                    Item& item = flight[k];
                    if (!more[k] || !item.result || item.attributes.isFolder()) continue;
                    const std::int64_t size = item.attributes.size();
                    std::optional<std::uint64_t> rest;
                    if (size >= 0) rest = static_cast<std::uint64_t>(size) > item.data.size() ? size - item.data.size() : 0;
                    item.result = wire.readHandle(item.handle, item.data.size(), item.data, rest, kChunk);
                    if (item.result.kind == sftpwire::Result::Kind::connection) return false;
                }
                return true;
            },
            [](Item& item, const auto& why) {
                FileRead file;
                if (item.attributes.isFolder()) file.error = FileError::make(ErrorKind::invalidPath, "it is a folder");
                else if (auto error = why()) file.error = std::move(error);
                else file.data = std::move(item.data);
                return file;
            });
    }

    // Writes the bytes into an open file, many requests on their way at once; false when the
    // connection or the server failed.
    bool writeAll(Link& link, Operation& op, sftp_file file, std::string_view data) {
        if (op.isCancelled()) return false;
        if (data.empty()) return true;
        const auto written = onWire(link, op, [&](sftpwire::Wire& wire) {
            return wire.write(file, 0, data, kChunk, {}, [&link] { link.dataSent = true; });
        });
        return written && !op.isCancelled();
    }

    // A new file through the one save algorithm (Save.h): a copy beside it, put under the name by
    // the plain rename, which never replaces anything; made with `mode` (the umask applies).
    Outcome<FileVersion> createFile(Link& link, Operation& op, const std::string& target, const std::string& file,
                                    std::string_view data, unsigned mode = 0666) {
        SaveOnLink steps(*this, link, op, nullptr, mode);
        SaveRequest request{target, path::normalize(file), data, nullptr, true};
        SaveResult saved = saveFile(steps, *leftovers_, request);
        if (saved.error) return *saved.error;
        return writtenVersion(link, op, target, data);
    }

    Outcome<FileVersion> writtenVersion(Link& link, Operation& op, const std::string& target, std::string_view data) {
        auto a = stat(link, op, target);
        FileVersion version;
        if (!a.error) version = a.value.version();
        addContentFacts(version, data);
        return version;
    }

    // The steps of a save (Save.h) on this worker's connection.
    class SaveOnLink final : public SaveSteps {
    public:
        // `expected`: the version the save checks, if any (its requests go out with the copy's).
        // `createMode`: the bits a new file is made with (the server's umask applies).
        SaveOnLink(SftpProvider& provider, Link& link, Operation& op, const FileVersion* expected = nullptr,
                   unsigned createMode = 0666)
            : p_(provider), link_(link), op_(op), expected_(expected), createMode_(createMode) {}

        Outcome<TargetFacts> look(const std::string& target) override {
            forgetAhead();
            auto found = p_.lstat(link_, op_, target);
            TargetFacts facts;
            if (found.error) {
                if (found.error->kind != ErrorKind::notFound) return *found.error;
                facts.kind = TargetFacts::Kind::absent;
                return facts;
            }
            // A server that tells no type (SFTP 3 without permission bits) has a file there.
            facts.kind = found.value.isFolder() ? TargetFacts::Kind::folder
                         : found.value.isLink() ? TargetFacts::Kind::link
                                                : TargetFacts::Kind::file;
            facts.mode = found.value.mode();
            looked_ = target;
            lookedMode_ = facts.mode;
            return facts;
        }

        // The server's own resolution of the link, taken only when it names a file that is no
        // link itself (a target the server cannot resolve leaves the link to be written through).
        Outcome<std::optional<std::string>> followLink(const std::string& link, const TargetFacts&,
                                                        std::string& why) override {
            char* real = call(link_, [&] { return sftp_canonicalize_path(link_.sftp, link.c_str()); });
            if (!real) {
                if (link_.broken || op_.isCancelled()) return p_.connectionLost(link_, op_);
                why = "the server cannot tell what it points to";
                return std::optional<std::string>();
            }
            const std::string target = real;
            ssh_string_free_char(real);
            auto found = p_.lstat(link_, op_, target);
            if (found.error && found.error->kind != ErrorKind::notFound) return *found.error;
            if (found.error || found.value.isLink() || found.value.isFolder() || target == link) {
                why = "its target " + target + (found.error ? " does not exist" : " is not a file");
                return std::optional<std::string>();
            }
            return std::optional<std::string>(target);
        }

        // The copy in two flights: its OPEN (with the OPEN of the file the version check reads),
        // then its WRITEs, the permission bits the file has, its CLOSE, and the check's requests
        // (the file's attributes and bytes). The steps that follow take what came back.
        StepResult writeCopy(const std::string& copy, const std::string& target, std::string_view data,
                             bool replacing) override {
            forgetAhead();
            if (op_.isCancelled()) return StepResult::with(StepResult::State::lost, FileError::make(ErrorKind::cancelled));
            const bool byBytes = expected_ && comparedByBytes(*expected_) && expected_->size >= 0;
            const bool byFacts = expected_ && !comparedByBytes(*expected_);
            const std::optional<unsigned> mode = replacing && target == looked_ ? lookedMode_ : std::nullopt;
            bool opened = false;
            const auto written = p_.onWire(link_, op_, [&](sftpwire::Wire& wire) -> sftpwire::Result {
                using sftpwire::Wire;
                const std::uint32_t openId = wire.post(
                    SSH_FXP_OPEN, sftpwire::openRequest(copy, SSH_FXF_WRITE | SSH_FXF_CREAT | SSH_FXF_EXCL, replacing ? 0600 : createMode_));
                const std::uint32_t readOpenId = byBytes ? wire.post(SSH_FXP_OPEN, sftpwire::openRequest(target, SSH_FXF_READ, 0)) : 0;
                if (!openId || (byBytes && !readOpenId)) return sftpwire::Result::lost();
                Wire::Answer answer;
                std::string handle, readHandle;
                if (!wire.await(openId, answer)) return sftpwire::Result::lost();
                const sftpwire::Result open = Wire::handleIn(answer, handle);
                if (readOpenId) {
                    if (!wire.await(readOpenId, answer)) return sftpwire::Result::lost();
                    if (!Wire::handleIn(answer, readHandle)) readHandle.clear();  // the check asks again itself
                }
                if (!open) {
                    if (!readHandle.empty() && !wire.awaitStatus(wire.post(SSH_FXP_CLOSE, sftpwire::handleRequest(readHandle))))
                        return sftpwire::Result::lost();
                    return open;
                }
                opened = true;
                std::uint32_t modeId = 0, closeId = 0, attrsId = 0, readCloseId = 0;
                std::vector<std::pair<std::uint32_t, std::uint64_t>> reads;  // id, offset
                bool posted = false, lostWhilePosting = false;
                const auto then = [&] {
                    posted = true;
                    if (mode) modeId = wire.post(SSH_FXP_FSETSTAT, sftpwire::setModeRequest(handle, *mode));
                    closeId = wire.post(SSH_FXP_CLOSE, sftpwire::handleRequest(handle));
                    lostWhilePosting = !closeId || (mode && !modeId);
                    if (!readHandle.empty()) {
                        // The expected size and one byte more: enough to tell the file changed.
                        attrsId = wire.post(SSH_FXP_FSTAT, sftpwire::handleRequest(readHandle));
                        lostWhilePosting = lostWhilePosting || !attrsId;
                        for (std::uint64_t at = 0; at <= static_cast<std::uint64_t>(expected_->size) && !lostWhilePosting; at += kChunk) {
                            const std::uint32_t id = wire.post(SSH_FXP_READ, sftpwire::readRequest(readHandle, at, kChunk));
                            lostWhilePosting = !id;
                            reads.emplace_back(id, at);
                        }
                        readCloseId = wire.post(SSH_FXP_CLOSE, sftpwire::handleRequest(readHandle));
                        lostWhilePosting = lostWhilePosting || !readCloseId;
                    } else if (byFacts) {
                        attrsId = wire.post(SSH_FXP_STAT, sftpwire::pathRequest(target));
                        lostWhilePosting = lostWhilePosting || !attrsId;
                    }
                };
                sftpwire::Result outcome = wire.writeHandle(handle, 0, data, kChunk, {}, [this] { link_.dataSent = true; }, then);
                if (outcome.kind == sftpwire::Result::Kind::connection || lostWhilePosting) return sftpwire::Result::lost();
                if (!posted) {  // the write failed before its end: the handles are closed all the same
                    for (const std::string& h : {handle, readHandle}) {
                        if (!h.empty() && wire.awaitStatus(wire.post(SSH_FXP_CLOSE, sftpwire::handleRequest(h))).kind ==
                                              sftpwire::Result::Kind::connection)
                            return sftpwire::Result::lost();
                    }
                    return outcome;
                }
                if (modeId) {
                    const sftpwire::Result set = wire.awaitStatus(modeId);
                    if (set.kind == sftpwire::Result::Kind::connection) return set;
                    if (set) modeSet_ = {copy, *mode};  // refused: setMode asks by path, as a server may take that only
                }
                const sftpwire::Result closed = wire.awaitStatus(closeId);
                if (closed.kind == sftpwire::Result::Kind::connection) return closed;
                if (outcome && !closed) outcome = closed;
                if (attrsId && !takeCheck(wire, target, attrsId, reads, readCloseId)) return sftpwire::Result::lost();
                if (!outcome) forgetAhead();
                return outcome;
            });
            if (written) return StepResult::done();
            forgetAhead();
            const int status = written.kind == sftpwire::Result::Kind::status ? written.status : 0;
            FileError error = p_.failure(link_, op_, copy, true);
            if (lost()) return StepResult::with(StepResult::State::lost, error);
            if (!opened && status == SSH_FX_PERMISSION_DENIED) {
                // The folder takes no new file (the user may not write to it, or the server is read-only).
                StepResult r = StepResult::with(StepResult::State::refused, error, error.serverText);
                r.nameRefused = true;
                return r;
            }
            return StepResult::with(StepResult::State::failed, error);
        }

        StepResult setMode(const std::string& copy, unsigned mode) override {
            if (modeSet_ && modeSet_->first == copy && modeSet_->second == mode && !link_.broken) return StepResult::done();
            checkAhead_.reset();  // a check after a refusal asks the server again
            if (call(link_, [&] { return sftp_chmod(link_.sftp, copy.c_str(), mode); }) == 0) return StepResult::done();
            FileError error = p_.failure(link_, op_, copy, true);
            if (lost()) return StepResult::with(StepResult::State::lost, error);
            char bits[8];
            std::snprintf(bits, sizeof bits, "%04o", mode);
            return StepResult::with(StepResult::State::refused, error,
                                    std::string("the server refused mode ") + bits + " for the temporary file (" +
                                        error.serverText + ")");
        }

        Outcome<FileVersion> versionNow(const std::string& target) override {
            if (auto ahead = takeAhead(target); ahead && !ahead->byBytes) return ahead->version;
            auto a = p_.stat(link_, op_, target);
            if (a.error) return *a.error;
            return a.value.version();
        }

        Outcome<std::optional<Bytes>> bytesUpTo(const std::string& target, std::size_t limit, FileVersion& version) override {
            if (auto ahead = takeAhead(target); ahead && ahead->byBytes) {
                version = ahead->version;
                if (!ahead->bytes || ahead->bytes->size() > limit) return std::optional<Bytes>();
                return std::optional<Bytes>(std::move(*ahead->bytes));
            }
            auto a = p_.stat(link_, op_, target);
            if (a.error) return *a.error;
            version = a.value.version();
            if (version.size >= 0 && static_cast<std::uint64_t>(version.size) > limit) return std::optional<Bytes>();
            auto read = p_.download(link_, op_, target);
            if (read.error) return *read.error;
            version = read.value.second;
            if (read.value.first.size() > limit) return std::optional<Bytes>();
            return std::optional<Bytes>(std::move(read.value.first));
        }

        // posix-rename where the server offers it (one atomic step over the file), else the plain rename.
        // With posix-rename, the file's new attributes are asked for in the same flight.
        StepResult replace(const std::string& copy, const std::string& target) override {
            forgetAhead();
            if (offers(link_, "posix-rename@openssh.com", "1")) {
                sftp_attributes after = nullptr;
                auto renamed = p_.posixRename(link_, op_, copy, target, &after);
                if (renamed.error) return StepResult::with(StepResult::State::lost, *renamed.error);
                if (renamed.value == SSH_FX_OK) {
                    replaced_ = {target, Attributes(after)};
                    return StepResult::done();
                }
                // Refused (a server may offer it and still deny it): the plain rename.
            }
            return rename(copy, target);
        }

        // The plain SSH_FXP_RENAME, which refuses a name that is taken (SFTP version 3 has no
        // flag that lets it replace; libssh's sftp_rename asks for replacing on later versions).
        // What was refused is told by looking at the name.
        StepResult placeNew(const std::string& copy, const std::string& target) override {
            forgetAhead();
            const auto renamed = p_.onWire(link_, op_, [&](sftpwire::Wire& wire) {
                return wire.awaitStatus(wire.post(SSH_FXP_RENAME, sftpwire::pathRequest(copy) + sftpwire::pathRequest(target)));
            });
            if (renamed) return StepResult::done();
            FileError error = *p_.wireError(link_, op_, renamed, target, true);
            if (lost()) return StepResult::with(StepResult::State::lost, error);
            auto there = exists(target);
            if (!there.error && there.value) error = FileError::make(ErrorKind::alreadyExists);
            return StepResult::with(StepResult::State::refused, error, error.serverText);
        }

        StepResult rename(const std::string& from, const std::string& to) override {
            if (call(link_, [&] { return sftp_rename(link_.sftp, from.c_str(), to.c_str()); }) == 0) return StepResult::done();
            FileError error = p_.failure(link_, op_, to, true);
            return StepResult::with(lost() ? StepResult::State::lost : StepResult::State::refused, error, error.serverText);
        }

        StepResult writeInPlace(const std::string& target, std::string_view data, bool fresh) override {
            const int flags = O_WRONLY | O_CREAT | (fresh ? O_EXCL : O_TRUNC);
            sftp_file file = call(link_, [&] { return sftp_open(link_.sftp, target.c_str(), flags, fresh ? createMode_ : 0666); });
            if (!file) {
                FileError error = p_.failure(link_, op_, target, true);
                return StepResult::with(lost() ? StepResult::State::lost : StepResult::State::refused, error);
            }
            std::optional<FileError> error;
            if (!p_.writeAll(link_, op_, file, data)) error = p_.failure(link_, op_, target, true);
            if (sftp_close(file) != SSH_NO_ERROR && !error) error = p_.failure(link_, op_, target, true);
            if (!error) return StepResult::done();
            error->targetIncomplete = true;  // opened, so emptied
            return StepResult::with(lost() ? StepResult::State::lost : StepResult::State::failed, *error);
        }

        StepResult remove(const std::string& path) override {
            forgetAhead();
            if (link_.broken) return StepResult::with(StepResult::State::lost, p_.connectionLost(link_, op_));
            if (call(link_, [&] { return sftp_unlink(link_.sftp, path.c_str()); }) == 0) return StepResult::done();
            FileError error = p_.failure(link_, op_, path);
            return StepResult::with(lost() ? StepResult::State::lost : StepResult::State::refused, error);
        }

        Outcome<bool> exists(const std::string& path) override {
            auto found = p_.lstat(link_, op_, path);
            if (!found.error) return true;
            if (found.error->kind == ErrorKind::notFound) return false;
            return *found.error;
        }

        bool reconnect() override {
            if (op_.isCancelled()) return false;
            if (link_.open() && !link_.broken) return true;
            link_.close();
            if (p_.connect(link_, op_)) {
                link_.close();
                return false;
            }
            return true;
        }
        bool cancelled() const override { return op_.isCancelled(); }
        void cut() override {
            if (link_.fd >= 0) ::shutdown(link_.fd, SHUT_RDWR);
            link_.broken = true;
        }
        std::string_view protocol() const override { return "SFTP"; }

        // The file's attributes right after a replace, asked for in its flight (nothing when not).
        Attributes takeReplaced(const std::string& target) {
            if (!replaced_ || replaced_->first != target) return {};
            Attributes a = std::move(replaced_->second);
            replaced_.reset();
            return a;
        }

    private:
        bool lost() const { return link_.broken || op_.isCancelled(); }

        // What the version check's requests in the copy's flight told: the file's version and,
        // for a check by bytes, its bytes (nothing when it holds more than the expected size).
        struct CheckAhead {
            std::string target;
            bool byBytes = false;
            FileVersion version;
            std::optional<Bytes> bytes;
        };
        void forgetAhead() {
            checkAhead_.reset();
            modeSet_.reset();
        }
        // Taken once, and only while the connection that read it is up.
        std::optional<CheckAhead> takeAhead(const std::string& target) {
            std::optional<CheckAhead> ahead;
            if (checkAhead_ && checkAhead_->target == target && !link_.broken) ahead = std::move(checkAhead_);
            checkAhead_.reset();
            return ahead;
        }
        // Reads the answers to the check's requests; false when the connection failed. Anything
        // unusual (a refusal, a short read) leaves nothing, and the check asks the usual way.
        bool takeCheck(sftpwire::Wire& wire, const std::string& target, std::uint32_t attrsId,
                       const std::vector<std::pair<std::uint32_t, std::uint64_t>>& reads, std::uint32_t closeId) {
            using sftpwire::Wire;
            Wire::Answer answer;
            if (!wire.await(attrsId, answer)) return false;
            sftp_attributes found = nullptr;
            bool usable = static_cast<bool>(Wire::attributesIn(answer, found));
            CheckAhead ahead{target, closeId != 0, Attributes(found).version(), std::nullopt};
            Bytes bytes;
            bool ended = false, more = false;
            for (const auto& [id, at] : reads) {
                if (!wire.await(id, answer)) return false;
                if (!usable || ended) continue;
                std::string_view in(answer.body), data;
                if (answer.type == SSH_FXP_DATA && sftpwire::takeString(in, data) && data.size() <= kChunk && at == bytes.size()) {
                    bytes.append(data);
                    if (data.size() < kChunk) ended = true;  // the end, or a short read: told below
                    else if (bytes.size() > static_cast<std::uint64_t>(expected_->size)) more = true;
                } else {
                    const sftpwire::Result status = Wire::statusOf(answer);
                    if (status.kind == sftpwire::Result::Kind::status && status.status == SSH_FX_EOF) ended = true;
                    else usable = false;
                }
            }
            if (closeId && wire.awaitStatus(closeId).kind == sftpwire::Result::Kind::connection) return false;
            // A part short of a whole request before the end the attributes tell is a short read
            // (without a size told, a short read could not be told from the end).
            if (ahead.byBytes && ahead.version.size < 0) usable = false;
            if (ahead.byBytes && ahead.version.size >= 0 && !more &&
                bytes.size() < static_cast<std::uint64_t>(ahead.version.size) &&
                bytes.size() <= static_cast<std::uint64_t>(expected_->size))
                usable = false;
            if (!usable) return true;
            if (ahead.byBytes && !more && bytes.size() <= static_cast<std::uint64_t>(expected_->size)) ahead.bytes = std::move(bytes);
            checkAhead_ = std::move(ahead);
            return true;
        }

        SftpProvider& p_;
        Link& link_;
        Operation& op_;
        const FileVersion* expected_;
        const unsigned createMode_;
        std::string looked_;  // the target of the last look, and the mode it had
        std::optional<unsigned> lookedMode_;
        std::optional<std::pair<std::string, unsigned>> modeSet_;  // the copy that got the mode in its flight
        std::optional<CheckAhead> checkAhead_;
        std::optional<std::pair<std::string, Attributes>> replaced_;
    };

    // A replace through the one save algorithm (Save.h). `fragment`: what a write in place that
    // broke off left, when the server could tell.
    Outcome<FileVersion> replaceFile(Link& link, Operation& op, const std::string& target, const std::string& file,
                                     std::string_view data, const std::optional<FileVersion>& expected,
                                     std::optional<FileVersion>& fragment) {
        SaveOnLink steps(*this, link, op, expected ? &*expected : nullptr);
        const SaveRequest request{target, path::normalize(file), data, expected ? &*expected : nullptr};
        SaveResult saved = saveFile(steps, *leftovers_, request);
        if (saved.error) {
            fragment = saved.fragment;
            return *saved.error;
        }
        if (Attributes after = steps.takeReplaced(saved.savedTo)) {
            FileVersion version = after.version();
            addContentFacts(version, data);
            return version;
        }
        return writtenVersion(link, op, saved.savedTo, data);
    }

    // posix-rename@openssh.com (rename(2) on the server: the target replaced in one step), which
    // libssh has no call for. The server's status code, or an error when the connection failed
    // (the rename's fate unknown).
    // With `after`, the attributes of `to` are asked for in the same flight, and put there when
    // the rename went through and the server told them.
    Outcome<int> posixRename(Link& link, Operation& op, const std::string& from, const std::string& to,
                             sftp_attributes* after = nullptr) {
        const auto renamed = onWire(link, op, [&](sftpwire::Wire& wire) {
            if (!after) return wire.extended("posix-rename@openssh.com", {from, to});
            std::string request;
            sftpwire::putString(request, "posix-rename@openssh.com");
            sftpwire::putString(request, from);
            sftpwire::putString(request, to);
            const std::uint32_t id = wire.post(SSH_FXP_EXTENDED, request);
            const std::uint32_t statId = id ? wire.post(SSH_FXP_STAT, sftpwire::pathRequest(to)) : 0;
            if (!statId) return sftpwire::Result::lost();
            const sftpwire::Result result = wire.awaitStatus(id);
            sftpwire::Wire::Answer answer;
            if (!wire.await(statId, answer)) return sftpwire::Result::lost();
            if (result && !sftpwire::Wire::attributesIn(answer, *after) && *after) {
                sftp_attributes_free(*after);
                *after = nullptr;
            }
            return result;
        });
        if (renamed.kind == sftpwire::Result::Kind::connection) return connectionLost(link, op);
        return renamed ? static_cast<int>(SSH_FX_OK) : renamed.status;
    }

    Done unlink(Link& link, Operation& op, const std::string& path) {
        if (call(link, [&] { return sftp_unlink(link.sftp, path.c_str()); }) == 0) return {};
        return failure(link, op, path);
    }

    // `file`: the provider path of the copy (see LeftoverCopies).
    Done copyFile(Link& link, Operation& op, const std::string& source, const std::string& target, const std::string& file,
                  std::optional<unsigned> mode) {
        auto data = download(link, op, source);
        if (data.error) return *data.error;
        auto made = createFile(link, op, target, file, data.value.first, mode.value_or(0666) & 0777);
        if (made.error) return *made.error;
        return {};
    }

    Done copyTree(Link& link, Operation& op, const std::string& source, const std::string& target, const std::string& file) {
        auto entries = listFolder(link, op, source, "/");
        if (entries.error) return *entries.error;
        if (call(link, [&] { return sftp_mkdir(link.sftp, target.c_str(), 0777); }) != 0)
            return failure(link, op, target, true);
        for (const FileObject& entry : entries.value) {
            const std::string name = path::toServer(path::lastComponent(entry.path));
            const std::string from = path::join(source, name), to = path::join(target, name);
            Done done = entry.isDirectory() ? copyTree(link, op, from, to, file)
                                            : copyFile(link, op, from, to, file, entry.permissions);
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
    const std::shared_ptr<LeftoverCopies> leftovers_;
    std::string host_;
    int port_ = 22;
    std::string user_, password_;
    ssh::LoginMemory loginMemory_;  // what the user answered right, for the provider's next logins
    std::string keyFolder_;  // ~/.ssh, where the configuration and the login keys are looked for
    std::atomic<bool> connected_{false};
    std::mutex trustMutex_;
    mutable std::mutex rootMutex_;
    std::optional<std::string> root_;
    std::mutex linksMutex_;
    // Whose turn it is to connect (see pickLink), and the link every worker shares once a login
    // asked what cannot be given again.
    std::mutex connectMutex_;
    std::condition_variable connectTurn_;
    bool connecting_ = false;
    std::optional<FileError> connectFailure_;  // the last connection's, when it failed
    Clock::time_point failedAt_{};
    Link* shared_ = nullptr;
    std::unordered_map<const Session*, std::unique_ptr<Link>> links_;  // one per worker
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watchdog_;
};

std::shared_ptr<FileProvider> makeSftp(BaseUrl base, const Credential& credential, const ProviderOptions& options) {
    return CurlProvider::closedAtExit(std::make_shared<SftpProvider>(std::move(base), credential, options));
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
