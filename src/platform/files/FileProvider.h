#pragma once
// The file-provider layer: one object per remote server (FTP, WebDAV or SFTP), whose operations run on
// a few worker threads of its own, each keeping its connection (and login) between calls.
//
// Every operation
//   - returns an Operation handle at once; cancel() on it stops the work, and the operation then
//     completes with an ErrorKind::cancelled error;
//   - calls its completion exactly once, on one of the provider's worker threads (never on the
//     caller's thread), with the result or an error value; callers hop to their own queue;
//   - refuses a path with a "." or ".." segment or a control character before any server is
//     contacted (ErrorKind::invalidPath).
// Paths are absolute from the provider's root (the path of its base URL), "/" separated, UTF-8.
// Destroying a provider cancels what it still runs or holds and waits for its workers; every
// pending completion still runs (with "cancelled"). A completion may drop the last reference to
// its provider.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileError.h"
#include "platform/files/FileObject.h"

namespace files {

using Bytes = std::string;  // file contents, any bytes

struct Credential {
    std::string user;
    std::string password;
};

// How long the providers wait. None limits a whole transfer, so large files can take their time.
struct Timeouts {
    std::chrono::milliseconds connect{15000};  // TCP (and TLS, and an FTP server's greeting)
    std::chrono::milliseconds reply{60000};    // the longest silence while waiting for the server
    std::chrono::milliseconds stall{60000};    // a transfer slower than stallBytesPerSecond this long
    long stallBytesPerSecond = 1;
    // An idle kept connection says something this often, so that a NAT or firewall that forgets
    // idle connections keeps it (FTP: a NOOP). FTP's spare connection for a save's check also
    // ends after this long without work. 0: no keep-alive and no spare.
    std::chrono::milliseconds keepAlive{60000};
};

class Trust;

// Temporary copies that saves left on a server because the connection broke before they could
// be removed (and old files a save had moved aside, see Save.h). An FTP or SFTP provider tells
// the set each copy it could not remove and each one it has dealt with since, and deals with
// those the set holds once it has a working connection again (at its next operation that
// reaches the server, a save or any other): a copy is removed, an old file whose name is free
// is put back under it. Kept with the edited
// file's record, the set lets a provider made after a restart clear what an earlier one left.
// Called on the providers' worker threads.
class LeftoverCopies {
public:
    virtual ~LeftoverCopies() = default;
    // `copy` (a path as the server names it) was left beside `file` (a provider path).
    virtual void remember(const std::string& file, const std::string& copy) = 0;
    virtual void forget(const std::string& copy) = 0;
    virtual std::vector<std::string> copies() const = 0;
};
// A set kept in memory only, for the life of the providers that share it.
std::shared_ptr<LeftoverCopies> makeLeftoverCopies();

struct ProviderOptions {
    Timeouts timeouts;
    int workers = 3;  // worker threads, each with its own connection
    // Known host keys, pinned certificates and the question to the user (see Trust.h). Without
    // it, only what the system's trust store vouches for is trusted, and no host key at all.
    std::shared_ptr<Trust> trust;
    // FTP: never log in without TLS (the server must accept AUTH TLS); plain FTP otherwise is
    // used only when the server offers no TLS.
    bool requireTls = false;
    // FTP: a provider that has spoken TLS opens its later connections only with TLS, so that a
    // machine in the middle that hides it gets no login; with this set (a user who unticked
    // "Require encryption" for a server that had spoken TLS), they may go without it.
    bool plainAfterTls = false;
    // Where temporary copies left by broken saves are remembered; none: in memory, for the
    // provider's life.
    std::shared_ptr<LeftoverCopies> leftovers;
};

// What the server said of a file when it was read or written, so that a later write can tell
// whether somebody else has changed it meanwhile. Empty when the server told nothing.
struct FileVersion {
    std::string etag;          // WebDAV: the ETag header as sent (weak or strong, quotes kept)
    std::string lastModified;  // WebDAV: the Last-Modified header as sent
    std::optional<std::chrono::system_clock::time_point> modificationDate;  // FTP (MLST, MDTM), SFTP
    std::int64_t size = -1;    // bytes; -1 when not told
    // SHA-256 of the bytes (hex), kept for files small enough to be compared by content where
    // the server's dates are too coarse to show a change (two writes in one second).
    std::string sha256;

    bool empty() const { return etag.empty() && lastModified.empty() && !modificationDate && size < 0 && sha256.empty(); }
    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

enum class WriteMode {
    replace,    // the file gets the new bytes, existing or not
    createNew,  // refused with alreadyExists when anything has that name; the old bytes stay
};

enum class ProviderKind { ftp, webDav, sftp };

class Operation;
namespace detail {
struct OperationAccess;
}

// A running provider operation. Keep it to cancel; dropping it does not cancel.
class Operation {
public:
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // True once the completion has been called (or is being called).
    bool isFinished() const { return finished_.load(); }

private:
    friend struct detail::OperationAccess;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::function<void()> wake_;  // interrupts the transfer in progress, when one is
};
using OperationHandle = std::shared_ptr<Operation>;

using ListCompletion = std::function<void(std::vector<FileObject> entries, std::optional<FileError> error)>;
// Part of a folder's entries, handed over while the listing is still coming in.
using ListBatch = std::function<void(std::vector<FileObject> entries)>;
struct ListOptions {
    // Called on the worker thread with each part of the listing as it arrives (in the server's
    // order, none twice), before the completion, which still gets every entry once. A provider
    // whose server answers in one piece calls it never.
    ListBatch batch;
};
using DataCompletion = std::function<void(std::optional<Bytes> data, std::optional<FileError> error)>;
using Completion = std::function<void(std::optional<FileError> error)>;
using VersionedDataCompletion =
    std::function<void(std::optional<Bytes> data, FileVersion version, std::optional<FileError> error)>;
using WriteCompletion = std::function<void(std::optional<FileVersion> written, std::optional<FileError> error)>;
// One folder's entries among several listed in one call (see contentsOfDirectories).
using FolderCompletion =
    std::function<void(std::string path, std::vector<FileObject> entries, std::optional<FileError> error)>;
// One file's bytes among several read in one call (see contentsOfFiles).
using FileCompletion = std::function<void(std::string path, std::optional<Bytes> data, std::optional<FileError> error)>;

class FileProvider {
public:
    virtual ~FileProvider() = default;

    virtual ProviderKind kind() const = 0;
    // The base URL without user or password ("ftp://host:21/", "https://host/dav/").
    virtual std::string baseUrl() const = 0;

    // The entries of a folder (without "." and ".."), in the server's order.
    virtual OperationHandle contentsOfDirectory(std::string path, ListCompletion completion) = 0;
    // The same, with the entries also handed to `options.batch` part by part as they arrive.
    OperationHandle contentsOfDirectory(std::string path, ListOptions options, ListCompletion completion) {
        return listDirectory(std::move(path), std::move(options), std::move(completion));
    }
    // The entries of several folders: `each` runs once for every path given, with what
    // contentsOfDirectory would have given for it, on the rules of any completion (on several
    // workers at once, maybe). The handle cancels them all; it is finished once every `each` ran
    // or runs. By default a contentsOfDirectory for each path (the workers list them side by
    // side); a provider whose protocol can ask for many folders at once on one connection does
    // that instead.
    virtual OperationHandle contentsOfDirectories(std::vector<std::string> paths, FolderCompletion each);
    // The bytes of a file.
    virtual OperationHandle contents(std::string path, DataCompletion completion) = 0;
    // The bytes of several files: `each` runs once for every path given (twice for a path given
    // twice), with what `contents` would have given for it, on the rules of any completion (on
    // several workers at once, maybe). The handle cancels them all; it is finished once every
    // `each` ran or runs. By default a `contents`
    // for each path (the workers read them side by side); a provider whose protocol can ask for
    // many files at once on one connection does that instead.
    virtual OperationHandle contentsOfFiles(std::vector<std::string> paths, FileCompletion each);
    // Writes the bytes (none: an empty file). See WriteMode.
    virtual OperationHandle writeContents(std::string path, std::optional<Bytes> data, WriteMode mode,
                                          Completion completion) = 0;
    // The bytes of a file and what the server said of it in the same exchange.
    virtual OperationHandle contentsAndVersion(std::string path, VersionedDataCompletion completion);
    // A write (see WriteMode) that, with `expected`, goes ahead only while the server's copy is
    // still that version: changedOnServer when it is not, notFound when the file is gone; in
    // both cases nothing is written. The check costs at most one round trip. The completion
    // gets the file's version as written.
    virtual OperationHandle writeContents(std::string path, std::optional<Bytes> data, WriteMode mode,
                                          std::optional<FileVersion> expected, WriteCompletion completion);
    // Creates the folder `name` in `parentPath`; alreadyExists when the name is taken,
    // parentMissing when the parent folder does not exist.
    virtual OperationHandle createFolder(std::string name, std::string parentPath, Completion completion) = 0;
    // Copies a file or folder (with its contents); never overwrites (alreadyExists).
    virtual OperationHandle copyItem(std::string fromPath, std::string toPath, Completion completion) = 0;
    // Moves or renames a file or folder; never overwrites (alreadyExists).
    virtual OperationHandle moveItem(std::string fromPath, std::string toPath, Completion completion) = 0;
    // Removes a file, or a folder with everything in it (deepest first).
    virtual OperationHandle removeItem(std::string path, Completion completion) = 0;
    // Logs in and reads the root folder; loginRejected for a wrong user name or password.
    virtual OperationHandle checkLogin(Completion completion) = 0;

    // Whether the connection the last operation used is encrypted (TLS); nothing until one was made.
    virtual std::optional<bool> connectionEncrypted() const { return std::nullopt; }
    // The server's own path of the provider's root ("/"): the login folder as the server named it
    // (FTP: PWD after the login; SFTP: the session's starting folder) with the URL's path, or the
    // URL's path where it counts from the server's root ("%2F", and WebDAV's). Nothing until an
    // operation has learnt it.
    virtual std::optional<std::string> rootOnServer() const { return std::nullopt; }

    // Applies to operations started afterwards.
    virtual void setTimeouts(const Timeouts& timeouts) = 0;
    virtual Timeouts timeouts() const = 0;

protected:
    // contentsOfDirectory with options; by default the listing comes whole, in the completion.
    virtual OperationHandle listDirectory(std::string path, ListOptions options, ListCompletion completion) {
        (void)options;
        return contentsOfDirectory(std::move(path), std::move(completion));
    }
};

// Builds the provider for a URL: ftp:// and ftps:// give FTP; sftp:// gives SFTP; http://, https://, webdav:// and
// webdavs:// give WebDAV (webdav means http, webdavs https). Nothing for other schemes or a URL
// without a host. User and password written in the URL are never sent in a URL; they are used
// only when `credential` has no user. An FTP URL's path counts from the folder the server puts
// the user in at login ("ftp://host" is that folder itself), or from the server's root when it
// starts with "%2F" ("ftp://host/%2Fvar/www").
std::shared_ptr<FileProvider> makeFtpProvider(const std::string& url, const Credential& credential,
                                              const ProviderOptions& options = {});
std::shared_ptr<FileProvider> makeWebDavProvider(const std::string& url, const Credential& credential,
                                                 const ProviderOptions& options = {});
// sftp://host[:port]/path; the path counts from the login folder as for FTP ("%2F" included).
std::shared_ptr<FileProvider> makeSftpProvider(const std::string& url, const Credential& credential,
                                               const ProviderOptions& options = {});
std::shared_ptr<FileProvider> makeProvider(const std::string& url, const Credential& credential,
                                           const ProviderOptions& options = {});

// Sets up the transfer library for the process. Safe to call more than once and from any thread;
// the providers call it themselves, and a program's main may call it first.
void initializeNetworking();

}  // namespace files
