// WebDAV on libcurl: PROPFIND, GET, PUT, MKCOL, COPY, MOVE, DELETE with Basic or Digest
// authentication. Redirects are reported, never followed, except the one that says a URL names
// a folder (301 or 308 to the same URL plus "/"): that request is sent once more with the "/".
//
// Servers differ where the protocol leaves room, so the provider asks before it acts (a Depth 0
// PROPFIND) instead of trusting each answer:
//   - folders are addressed with a trailing "/" (source and Destination): some servers refuse
//     MKCOL, DELETE, COPY and MOVE of a folder without it;
//   - create-new writes, new folders, copies and moves look at the target first and refuse an
//     existing one themselves: some servers ignore "If-None-Match: *" and "Overwrite: F", or
//     answer 201 to MKCOL of an existing folder;
//   - copies, moves and removals look at the source first, so a missing one is "not found"
//     whatever the server would have said (403, 500);
//   - a failed write or new folder whose answer may mean "no such parent" (404, 409, 500, and
//     400 or 403 for a parent that is a file) is checked against the parent folder.
// 207 answers to DELETE, COPY and MOVE are read for partial failures. A save that expects a
// version of the file asks about it first (see checkUnchanged), as not every server heeds the
// If-Match a PUT carries (nginx does not).

#include <atomic>
#include <cctype>

#include "platform/files/CurlProvider.h"
#include "platform/files/ListingParsers.h"
#include "platform/files/VersionCheck.h"

namespace files::detail {

namespace {

constexpr const char* kPropfindBody =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<D:propfind xmlns:D=\"DAV:\"><D:prop>"
    "<D:resourcetype/><D:getcontentlength/><D:getlastmodified/><D:creationdate/>"
    "</D:prop></D:propfind>";

enum class Verb { propfind, get, put, mkcol, copy, move, remove };

bool is2xx(long status) { return status >= 200 && status < 300; }

// What a Depth 0 PROPFIND found at a path.
enum class Presence { missing, file, folder };

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

}  // namespace

class WebDavProvider final : public CurlProvider {
public:
    WebDavProvider(BaseUrl base, Credential credential, const ProviderOptions& options)
        : CurlProvider(std::move(base), std::move(credential), options) {}
    ~WebDavProvider() override { endConnections(); }

    ProviderKind kind() const override { return ProviderKind::webDav; }
    // The URL's path is the server's own.
    std::optional<std::string> rootOnServer() const override { return base_.path; }

    OperationHandle contentsOfDirectory(std::string folder, ListCompletion completion) override {
        return startValue<std::vector<FileObject>>(
            [this, folder](Session& s, Operation& op) -> Outcome<std::vector<FileObject>> {
                if (auto e = checkPaths({folder})) return *e;
                TransferResult r = propfind(s, op, urlFor(serverPath(folder), true), "1");
                if (!r.ok() || !is2xx(r.responseCode)) return httpError(r, Verb::propfind);
                auto entries = parse::propfindInPlace(r.body, base_.path, folder);
                if (!entries) return FileError::make(ErrorKind::other, "the server's folder listing could not be read");
                return std::move(*entries);
            },
            std::move(completion));
    }

    OperationHandle contents(std::string file, DataCompletion completion) override {
        return startValue<std::optional<Bytes>>(
            [this, file](Session& s, Operation& op) -> Outcome<std::optional<Bytes>> {
                auto read = readFile(s, op, file, false);
                if (read.error) return *read.error;
                return std::optional<Bytes>(std::move(read.value.first));
            },
            std::move(completion));
    }

    OperationHandle contentsAndVersion(std::string file, VersionedDataCompletion completion) override {
        return start<std::pair<Bytes, FileVersion>>(
            [this, file](Session& s, Operation& op) -> Outcome<std::pair<Bytes, FileVersion>> {
                return readFile(s, op, file, true);
            },
            [completion = std::move(completion)](Outcome<std::pair<Bytes, FileVersion>> out) {
                if (!completion) return;
                if (out.error) return completion(std::nullopt, FileVersion{}, std::move(out.error));
                completion(std::optional<Bytes>(std::move(out.value.first)), std::move(out.value.second), std::nullopt);
            });
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  Completion completion) override {
        return startDone(
            [this, file, data = std::move(data), mode](Session& s, Operation& op) -> Done {
                auto written = writeFile(s, op, file, data, mode, nullptr, false);
                if (written.error) return *written.error;
                return {};
            },
            std::move(completion));
    }

    OperationHandle writeContents(std::string file, std::optional<Bytes> data, WriteMode mode,
                                  std::optional<FileVersion> expected, WriteCompletion completion) override {
        return startValue<std::optional<FileVersion>>(
            [this, file, data = std::move(data), mode, expected = std::move(expected)](
                Session& s, Operation& op) -> Outcome<std::optional<FileVersion>> {
                auto written = writeFile(s, op, file, data, mode, versionToCheck(expected, mode), true);
                if (written.error) return *written.error;
                return std::optional<FileVersion>(std::move(written.value));
            },
            std::move(completion));
    }

    OperationHandle createFolder(std::string name, std::string parent, Completion completion) override {
        return startDone(
            [this, name, parent](Session& s, Operation& op) -> Done {
                if (auto e = path::checkName(name)) return *e;
                if (auto e = checkPaths({parent})) return *e;
                const std::string folder = path::join(parent, name);
                // Some servers answer 201 to MKCOL of a folder that is already there.
                Outcome<Presence> there = look(s, op, folder);
                if (there.error) return *there.error;
                if (there.value != Presence::missing) return FileError::make(ErrorKind::alreadyExists);
                TransferResult r = send(s, op, "MKCOL", urlFor(serverPath(folder), true), {}, nullptr);
                if (!r.ok() || !is2xx(r.responseCode)) return creationError(s, op, r, Verb::mkcol, folder);
                return {};
            },
            std::move(completion));
    }

    OperationHandle copyItem(std::string from, std::string to, Completion completion) override {
        return startDone(
            [this, from, to](Session& s, Operation& op) -> Done { return transfer(s, op, "COPY", from, to); },
            std::move(completion));
    }

    OperationHandle moveItem(std::string from, std::string to, Completion completion) override {
        return startDone(
            [this, from, to](Session& s, Operation& op) -> Done { return transfer(s, op, "MOVE", from, to); },
            std::move(completion));
    }

    OperationHandle removeItem(std::string item, Completion completion) override {
        return startDone(
            [this, item](Session& s, Operation& op) -> Done {
                if (auto e = checkPaths({item})) return *e;
                if (path::normalize(item) == "/")
                    return FileError::make(ErrorKind::invalidPath, "the root folder cannot be removed");
                Outcome<Presence> there = look(s, op, item);
                if (there.error) return *there.error;
                if (there.value == Presence::missing) return FileError::make(ErrorKind::notFound);
                // The server removes a collection with all it holds.
                const bool folder = there.value == Presence::folder;
                TransferResult r = send(s, op, "DELETE", urlFor(serverPath(item), folder), {}, nullptr);
                if (r.ok() && r.responseCode == 207) return multistatusError(r, Verb::remove);
                if (!r.ok() || !is2xx(r.responseCode)) return httpError(r, Verb::remove);
                return {};
            },
            std::move(completion));
    }

    OperationHandle checkLogin(Completion completion) override {
        return startDone(
            [this](Session& s, Operation& op) -> Done {
                TransferResult r = propfind(s, op, urlFor(serverPath("/"), true), "0");
                if (!r.ok() || !is2xx(r.responseCode)) return httpError(r, Verb::propfind);
                return {};
            },
            std::move(completion));
    }

private:
    // GET of a file; with `versioned`, what the answer said of it (ETag, Last-Modified) and the
    // bytes' own size and hash.
    Outcome<std::pair<Bytes, FileVersion>> readFile(Session& s, Operation& op, const std::string& file, bool versioned) {
        if (auto e = checkPaths({file})) return *e;
        if (path::normalize(file) == "/") return FileError::make(ErrorKind::invalidPath, "the root is a folder");
        TransferResult r = request(s, op, "GET", urlFor(serverPath(file), false), {}, nullptr);
        if (!r.ok() || !is2xx(r.responseCode)) return httpError(r, Verb::get);
        FileVersion version = versioned ? versionOf(r, r.body) : FileVersion{};
        return std::pair<Bytes, FileVersion>(std::move(r.body), std::move(version));
    }

    // A PUT. With `expected`, only over that version of the file (see checkUnchanged); with
    // `versioned`, the version written is returned (the PUT's ETag, or a HEAD's).
    Outcome<FileVersion> writeFile(Session& s, Operation& op, const std::string& file, const std::optional<Bytes>& data,
                                   WriteMode mode, const FileVersion* expected, bool versioned) {
        if (auto e = checkPaths({file})) return *e;
        if (path::normalize(file) == "/") return FileError::make(ErrorKind::invalidPath, "the root is a folder");
        const std::string url = urlFor(serverPath(file), false);
        std::vector<std::string> headers{"Content-Type: application/octet-stream"};
        if (mode == WriteMode::createNew) {
            // Servers that ignore If-None-Match would overwrite: look first.
            Outcome<Presence> there = look(s, op, file);
            if (there.error) return *there.error;
            if (there.value != Presence::missing) return FileError::make(ErrorKind::alreadyExists);
            headers.push_back("If-None-Match: *");
        } else if (expected) {
            auto condition = checkUnchanged(s, op, url, *expected);
            if (condition.error) return *condition.error;
            headers.push_back(condition.value);
        } else if (auto e = learnAuthentication(s, op)) {
            return *e;
        }
        static const Bytes empty;
        const Bytes& body = data ? *data : empty;
        TransferResult r = request(s, op, "PUT", url, headers, &body);
        if (expected && r.ok() && r.responseCode == 412 && startsWithNoCase(headers.back(), "If-Unmodified-Since:")) {
            // Some servers compare If-Unmodified-Since on a PUT with the time of the request, not
            // the file's (Apache does): a refusal is checked once more, and a file still
            // unchanged is written with the one condition left, that it is there.
            auto again = checkUnchanged(s, op, url, *expected);
            if (again.error) return *again.error;
            headers.back() = "If-Match: *";
            r = request(s, op, "PUT", url, headers, &body);
        }
        if (r.ok() && is2xx(r.responseCode)) return versioned ? writtenVersion(s, op, url, r, body) : FileVersion{};
        if (expected && r.ok() && r.responseCode == 412) {
            // The condition failed: the file changed between the look and the write, or went.
            Outcome<Presence> there = look(s, op, file);
            if (!there.error && there.value == Presence::missing) return FileError::make(ErrorKind::notFound);
            return withServerWords(FileError::make(ErrorKind::changedOnServer), r);
        }
        FileError error = creationError(s, op, r, Verb::put, file);
        // A PUT goes to the file itself, and many servers write what arrives as it
        // arrives: a request cut once its body had begun to move, with no answer to say
        // the server threw it away, may have left the file holding part of it. Without an
        // answer, what is there tells: no file (its folder missing, say) means nothing was
        // written, and the copy is not said to be incomplete.
        if (mode == WriteMode::replace && !r.ok() && r.uploaded > 0 && r.responseCode < 200) {
            Outcome<Presence> there = r.cancelled ? Outcome<Presence>(error) : look(s, op, file);
            if (there.error || there.value != Presence::missing) {
                error.targetIncomplete = true;
                return error;
            }
            Outcome<Presence> parent = look(s, op, path::parent(file));
            if (!parent.error && parent.value != Presence::folder) return FileError::make(ErrorKind::parentMissing);
        }
        return error;
    }

    // Asks the server about the file a checked write replaces, in one request, with the one
    // check of VersionCheck.h: a GET where only the bytes can tell, else a HEAD. changedOnServer
    // or notFound when it is not the expected version; otherwise the condition the PUT carries,
    // so that servers that heed it also refuse a change made in between: "If-Match" with a
    // strong ETag, "If-Unmodified-Since" without an ETag, else "If-Match: *" (the file must
    // still be there). Servers that ignore them all (nginx) are covered by the request itself.
    Outcome<std::string> checkUnchanged(Session& s, Operation& op, const std::string& url, const FileVersion& expected) {
        TransferResult r;
        const auto answered = [&](FileVersion& now) -> std::optional<FileError> {
            if (!r.ok()) return transportError(r);
            if (r.responseCode == 404 || r.responseCode == 410) return FileError::make(ErrorKind::notFound);
            if (!is2xx(r.responseCode)) return httpError(r, Verb::get);
            now = answerVersion(r);
            return std::nullopt;
        };
        FileVersion now;
        auto changed = detail::checkUnchanged(
            expected,
            [&](FileVersion& told) {
                r = head(s, op, url);
                auto error = answered(told);
                told.size = contentLength(r);
                return error;
            },
            [&](std::size_t limit, FileVersion& told, std::optional<Bytes>& bytes) {
                r = request(s, op, "GET", url, {}, nullptr);
                auto error = answered(told);
                if (!error && r.body.size() <= limit) bytes = std::move(r.body);
                return error;
            },
            &now);
        if (changed) {
            if (changed->kind == ErrorKind::changedOnServer) return withServerWords(std::move(*changed), r);
            return *changed;
        }
        if (isStrongTag(now.etag)) return "If-Match: " + now.etag;
        if (now.etag.empty() && !now.lastModified.empty()) return "If-Unmodified-Since: " + now.lastModified;
        // A weak ETag (Apache's for a file changed within the last second) cannot be matched,
        // and the date is no better there: at least, only while the file is there.
        return std::string("If-Match: *");
    }

    // The version a successful PUT wrote: its own ETag when the answer has one, else what a
    // HEAD says, trusted only when it shows the size just written. It always keeps the hash of
    // the bytes (a small file's): a HEAD sent after the PUT may tell the facts of a write made in
    // between, in the same second and of the same size, and only the bytes tell the two apart.
    FileVersion writtenVersion(Session& s, Operation& op, const std::string& url, const TransferResult& put,
                               const Bytes& body) {
        FileVersion version;
        if (!put.headerValues("ETag").empty()) {
            version = answerVersion(put);
        } else {
            TransferResult r = head(s, op, url);
            if (r.ok() && is2xx(r.responseCode) && contentLength(r) == static_cast<std::int64_t>(body.size()))
                version = answerVersion(r);
        }
        addContentFacts(version, body);
        return version;
    }

    // The version of these bytes as an answer about them tells it, with their size and (for a
    // small file) their hash, as every protocol's read keeps it: the answer's facts could miss
    // a later change (the ETags of some servers, nginx's among them, are made of the second and
    // the size, so a change within that second shows in neither).
    static FileVersion versionOf(const TransferResult& r, std::string_view bytes) {
        FileVersion version = answerVersion(r);
        addContentFacts(version, bytes);
        return version;
    }

    TransferResult head(Session& s, Operation& op, const std::string& url) {
        return request(s, op, "HEAD", url, {}, nullptr);
    }

    // The ETag and Last-Modified of an answer (the last given, as the answer to a request sent
    // twice has them last).
    static FileVersion answerVersion(const TransferResult& r) {
        FileVersion version;
        if (auto tags = r.headerValues("ETag"); !tags.empty()) version.etag = tags.back();
        if (auto dates = r.headerValues("Last-Modified"); !dates.empty()) version.lastModified = dates.back();
        return version;
    }

    // The length of the file an answer is about; not known when the answer is encoded (its
    // length is then the encoded one).
    static std::int64_t contentLength(const TransferResult& r) {
        for (const std::string& coding : r.headerValues("Content-Encoding")) {
            if (coding != "identity") return -1;
        }
        auto lengths = r.headerValues("Content-Length");
        if (lengths.empty()) return -1;
        try {
            std::size_t used = 0;
            const long long n = std::stoll(lengths.back(), &used);
            return used == lengths.back().size() && n >= 0 ? n : -1;
        } catch (...) {
            return -1;
        }
    }

    // The URL of a server path; a folder's ends with "/".
    std::string urlFor(const std::string& server, bool folder) const {
        std::string p = path::normalize(server);
        std::string url = base_.scheme + "://" + base_.authority + path::encodePath(p);
        if (folder && p != "/") url += "/";
        return url;
    }

    TransferResult request(Session& s, Operation& op, const char* method, const std::string& url,
                           const std::vector<std::string>& extraHeaders, const Bytes* body) {
        s.reset(timeouts());
        CURL* e = s.easy();
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        // HTTP/1.1: over HTTP/2 libcurl 7.88 loses an answer that the server gives before it has
        // read the whole body (a 409 to a PUT into a missing folder becomes a "Stream error in
        // the HTTP/2 framing layer"), and some servers' first answers with it (lighttpd's).
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        // A proxy from the environment only as a tunnel for HTTPS; plain HTTP goes direct, so
        // that no password reaches a proxy in the clear.
        net::setProxyUse(e, base_.scheme == "https" ? net::ProxyUse::tunnel : net::ProxyUse::none);
        setCredentials(e);
        const long auth = auth_.load();
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, auth ? auth : static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(e, CURLOPT_URL, url.c_str());
        StringList headers{"Expect:"};
        for (const auto& h : extraHeaders) headers.append(h);
        if (std::string_view(method) == "GET") {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        } else if (std::string_view(method) == "HEAD") {
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method);
        }
        if (body) {
            // A body given as post fields can be sent again during the authentication handshake.
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, body->data());
        }
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
        TransferResult r = performChecked(s, op);
        remember(r);
        return r;
    }

    // request(), sent once more with a "/" added when the server answers that the URL names a
    // folder; a Destination then gets its "/" too.
    TransferResult send(Session& s, Operation& op, const char* method, const std::string& url,
                        std::vector<std::string> headers, const Bytes* body) {
        TransferResult r = request(s, op, method, url, headers, body);
        if (!r.ok() || !redirectsToFolder(r, url)) return r;
        for (std::string& h : headers) {
            if (startsWithNoCase(h, "Destination:") && h.back() != '/') h += "/";
        }
        return request(s, op, method, url + "/", headers, body);
    }

    // True for a 301 or 308 whose Location is `url` with a "/" added (compared decoded, as an
    // absolute path or a URL of this server).
    bool redirectsToFolder(const TransferResult& r, const std::string& url) const {
        if (r.responseCode != 301 && r.responseCode != 308) return false;
        if (url.empty() || url.back() == '/') return false;
        auto locations = r.headerValues("Location");
        if (locations.empty()) return false;
        const std::string& location = locations.front();
        const std::string origin = base_.scheme + "://" + base_.authority;
        std::string_view target;
        if (location.size() > 1 && location[0] == '/' && location[1] != '/') {
            target = location;
        } else if (startsWithNoCase(location, origin) && location.size() > origin.size() &&
                   location[origin.size()] == '/') {
            target = std::string_view(location).substr(origin.size());
        } else {
            return false;
        }
        return path::percentDecode(target) == path::percentDecode(std::string_view(url).substr(origin.size())) + "/";
    }

    TransferResult propfind(Session& s, Operation& op, const std::string& url, const char* depth) {
        static const Bytes body = kPropfindBody;
        return send(s, op, "PROPFIND", url,
                    {std::string("Depth: ") + depth, "Content-Type: application/xml; charset=utf-8"}, &body);
    }

    // What is at a provider path. 404, 409 (a folder on the way is missing) and 410 mean nothing.
    // A path below a file gets 400, 403 or 500 from some servers: nothing is there either when
    // the parent is no folder.
    Outcome<Presence> look(Session& s, Operation& op, const std::string& providerPath) {
        const std::string url = urlFor(serverPath(providerPath), false);
        TransferResult r = propfind(s, op, url, "0");
        if (!r.ok()) return transportError(r);
        const long status = r.responseCode;
        if (status == 404 || status == 409 || status == 410) return Presence::missing;
        if ((status == 400 || status == 403 || status == 500) && path::normalize(providerPath) != "/") {
            Outcome<Presence> parent = look(s, op, path::parent(providerPath));
            if (!parent.error && parent.value != Presence::folder) return Presence::missing;
        }
        if (!is2xx(status)) return httpError(r, Verb::propfind);
        // A server that names no resource type still says something is there.
        return parse::propfindOwnType(r.body) == FileType::directory ? Presence::folder : Presence::file;
    }

    // The error of a failed PUT or MKCOL. Servers answer a missing parent folder with 404, 409
    // or 500 (and a parent that is a file also with 400 or 403), and 409 also for other
    // conflicts: for those, the parent itself is asked.
    FileError creationError(Session& s, Operation& op, const TransferResult& r, Verb verb,
                            const std::string& providerPath) {
        if (!r.ok()) return transportError(r);
        const long status = r.responseCode;
        if (status != 400 && status != 403 && status != 404 && status != 409 && status != 500)
            return httpError(r, verb);
        Outcome<Presence> parent = look(s, op, path::parent(providerPath));
        if (parent.error) return httpError(r, verb);
        if (parent.value != Presence::folder) return withServerWords(FileError::make(ErrorKind::parentMissing), r);
        if (status != 409) return httpError(r, verb);
        // The parent is there: the conflict may be the name itself (a folder where a file goes,
        // anything where a folder goes).
        Outcome<Presence> item = look(s, op, providerPath);
        if (!item.error && (item.value == Presence::folder || (verb == Verb::mkcol && item.value == Presence::file)))
            return withServerWords(FileError::make(ErrorKind::alreadyExists), r);
        return withServerWords(FileError::fromServer(409, parse::statusText(r.lastReply())), r);
    }

    static FileError withServerWords(FileError error, const TransferResult& r) {
        error.serverCode = static_cast<int>(r.responseCode);
        error.serverText = parse::statusText(r.lastReply());
        return error;
    }

    // Remembers which scheme the server asks for, so later requests answer at once. With
    // Basic (or no challenge at all) the credential then goes with the first request, and a
    // PUT is never first sent empty as an authentication probe.
    void remember(const TransferResult& r) {
        if (auth_.load() != 0 || !r.ok()) return;
        bool digest = false, basic = false;
        for (const std::string& v : r.headerValues("WWW-Authenticate")) {
            if (v.size() >= 6 && (v.compare(0, 6, "Digest") == 0 || v.compare(0, 6, "digest") == 0)) digest = true;
            if (v.size() >= 5 && (v.compare(0, 5, "Basic") == 0 || v.compare(0, 5, "basic") == 0)) basic = true;
        }
        if (digest) auth_.store(static_cast<long>(CURLAUTH_DIGEST));
        else if (basic) auth_.store(static_cast<long>(CURLAUTH_BASIC));
        else if (is2xx(r.responseCode) && r.headerValues("WWW-Authenticate").empty())
            auth_.store(static_cast<long>(CURLAUTH_BASIC));
    }

    std::optional<FileError> learnAuthentication(Session& s, Operation& op) {
        if (auth_.load() != 0 || !hasCredentials()) return std::nullopt;
        TransferResult r = propfind(s, op, urlFor(serverPath("/"), true), "0");
        if (!r.ok() || !is2xx(r.responseCode)) return httpError(r, Verb::propfind);
        return std::nullopt;
    }

    Done transfer(Session& s, Operation& op, const char* method, const std::string& from, const std::string& to) {
        if (auto e = checkPaths({from, to})) return *e;
        if (path::normalize(from) == "/" || path::normalize(to) == "/")
            return FileError::make(ErrorKind::invalidPath, "the root folder cannot be moved or copied");
        if (path::isSameOrInside(to, from) && path::normalize(to) != path::normalize(from))
            return FileError::make(ErrorKind::invalidPath, "a folder cannot go inside itself");
        if (path::normalize(to) == path::normalize(from)) return FileError::make(ErrorKind::alreadyExists);
        Outcome<Presence> source = look(s, op, from);
        if (source.error) return *source.error;
        if (source.value == Presence::missing) return FileError::make(ErrorKind::notFound);
        // "Overwrite: F" is not enough: some servers replace the destination all the same.
        Outcome<Presence> target = look(s, op, to);
        if (target.error) return *target.error;
        if (target.value != Presence::missing) return FileError::make(ErrorKind::alreadyExists);

        const bool folder = source.value == Presence::folder;
        std::vector<std::string> headers{"Destination: " + urlFor(serverPath(to), folder), "Overwrite: F"};
        if (std::string_view(method) == "COPY") headers.push_back("Depth: infinity");
        const Verb verb = std::string_view(method) == "COPY" ? Verb::copy : Verb::move;
        TransferResult r = send(s, op, method, urlFor(serverPath(from), folder), headers, nullptr);
        if (r.ok() && is2xx(r.responseCode) && r.responseCode != 207) return {};
        if (!r.ok()) return transportError(r);
        // Answers that may mean the destination's folder is missing: ask it.
        const long status = r.responseCode;
        if (status == 207 || status == 404 || status == 409 || status == 500) {
            Outcome<Presence> parent = look(s, op, path::parent(to));
            if (!parent.error && parent.value != Presence::folder)
                return withServerWords(FileError::make(ErrorKind::parentMissing), r);
        }
        if (status == 207) return multistatusError(r, verb);
        return httpError(r, verb);
    }

    FileError multistatusError(const TransferResult& r, Verb verb) const {
        auto failure = parse::firstMultistatusFailure(r.body);
        if (!failure) return FileError::make(ErrorKind::other, "the server reported a partial failure");
        FileError error = statusError(failure->status, failure->text, verb);
        error.message += " (" + path::decodeLenient(failure->href) + ")";
        return error;
    }

    FileError statusError(long status, const std::string& text, Verb verb) const {
        FileError error;
        switch (status) {
            case 401: error = FileError::make(ErrorKind::loginRejected); break;
            case 403: error = FileError::make(ErrorKind::permissionDenied, std::to_string(status) + " " + text); break;
            case 404:
            case 410: error = FileError::make(ErrorKind::notFound); break;
            case 405:
                error = (verb == Verb::mkcol || verb == Verb::put) ? FileError::make(ErrorKind::alreadyExists)
                                                                   : FileError::fromServer(405, text);
                if (verb == Verb::propfind) {
                    // A web server without WebDAV listings (nginx with only its core dav module).
                    error.message = "The server at " + base_.display() +
                                    " does not offer WebDAV folder listings (PROPFIND), so the app cannot browse it.";
                }
                break;
            case 409:
                // Only a new file or folder has a parent to miss; elsewhere 409 is the server's own.
                error = (verb == Verb::mkcol || verb == Verb::put) ? FileError::make(ErrorKind::parentMissing)
                                                                   : FileError::fromServer(409, text);
                break;
            case 412: error = FileError::make(ErrorKind::alreadyExists); break;
            default: error = FileError::fromServer(static_cast<int>(status), text); break;
        }
        error.serverCode = static_cast<int>(status);
        error.serverText = text;
        return error;
    }

    FileError httpError(const TransferResult& r, Verb verb) const {
        if (!r.ok()) return transportError(r);
        const long status = r.responseCode;
        const std::string text = parse::statusText(r.lastReply());
        if (status >= 300 && status < 400) {
            auto location = r.headerValues("Location");
            FileError error = FileError::fromServer(static_cast<int>(status), text);
            error.message = "The server sent the request elsewhere";
            if (!location.empty()) error.message += " (" + location.front() + ")";
            error.message += "; check the server address.";
            return error;
        }
        return statusError(status, text, verb);
    }

    std::atomic<long> auth_{0};  // 0: not known yet
};

std::shared_ptr<FileProvider> makeWebDav(BaseUrl base, const Credential& credential, const ProviderOptions& options) {
    return CurlProvider::closedAtExit(std::make_shared<WebDavProvider>(std::move(base), credential, options));
}

}  // namespace files::detail

namespace files {

std::shared_ptr<FileProvider> makeFtpProvider(const std::string& url, const Credential& credential,
                                              const ProviderOptions& options) {
    auto base = detail::parseBaseUrl(url, {"ftp", "ftps"});
    if (!base) return nullptr;
    return detail::makeFtp(std::move(*base), credential, options);
}

std::shared_ptr<FileProvider> makeWebDavProvider(const std::string& url, const Credential& credential,
                                                 const ProviderOptions& options) {
    auto base = detail::parseBaseUrl(url, {"http", "https"});
    if (!base) return nullptr;
    return detail::makeWebDav(std::move(*base), credential, options);
}

std::shared_ptr<FileProvider> makeProvider(const std::string& url, const Credential& credential,
                                           const ProviderOptions& options) {
    if (auto ftp = makeFtpProvider(url, credential, options)) return ftp;
    if (auto sftp = makeSftpProvider(url, credential, options)) return sftp;
    return makeWebDavProvider(url, credential, options);
}

}  // namespace files
