#include "platform/net/Curl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

namespace net {

namespace {

int peerPort(curl_socket_t socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return -1;
}

// The close callback of closeAfterReading; the port it closes at once travels as its pointer.
int closeReading(void* abruptPort, curl_socket_t socket) {
    const int abrupt = static_cast<int>(reinterpret_cast<std::intptr_t>(abruptPort));
    const int port = peerPort(socket);
    if (port >= 0 && port != abrupt && ::shutdown(socket, SHUT_WR) == 0) {
        const auto end = std::chrono::steady_clock::now() + kDrainTime;
        char buffer[16 * 1024];
        std::size_t read = 0;
        while (read < kDrainBytes) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{socket, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t got = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got <= 0) break;  // the peer's end, or an error: nothing more will come
            read += static_cast<std::size_t>(got);
        }
    }
    return ::close(socket);
}

}  // namespace

void closeAfterReading(CURL* easy, int abruptPort) {
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &closeReading);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, reinterpret_cast<void*>(static_cast<std::intptr_t>(abruptPort)));
}

void initialize() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---- transfers -----------------------------------------------------------------------------

Transfer::Transfer() {
    initialize();
    easy_ = curl_easy_init();
    reset();
}

Transfer::~Transfer() {
    if (easy_) curl_easy_cleanup(easy_);
    curl_slist_free_all(requestHeaders_);
}

void Transfer::reset() {
    curl_easy_reset(easy_);
    curl_slist_free_all(requestHeaders_);
    requestHeaders_ = nullptr;
    upload_ = {};
    uploadPos_ = 0;
    uploadEnd_ = nullptr;
    maxBody_ = static_cast<std::size_t>(-1);
    sizeInHeaders_ = nullptr;
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    setTls(Tls());
}

void Transfer::setUrl(const std::string& url) { curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()); }

void Transfer::setProtocols(const char* protocols) {
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
}

void Transfer::setTimeouts(const Timeouts& t) {
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.connect.count()));
    curl_easy_setopt(easy_, CURLOPT_TIMEOUT_MS, static_cast<long>(t.total.count()));
    // libcurl counts the stall in whole seconds: a part of one is rounded up.
    const long stallSeconds = t.stall.count() > 0 ? static_cast<long>((t.stall.count() + 999) / 1000) : 0;
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, t.stallBytesPerSecond);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, stallSeconds);
}

void Transfer::setTls(const Tls& tls) {
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, tls.verifyPeer ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, tls.verifyHost ? 2L : 0L);
}

void setProxyUse(CURL* easy, ProxyUse use) {
    switch (use) {
        case ProxyUse::environment:
            break;
        case ProxyUse::none:
            // An empty proxy turns off the ones the environment names.
            curl_easy_setopt(easy, CURLOPT_PROXY, "");
            break;
        case ProxyUse::tunnel:
            curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
            break;
    }
}

void Transfer::setHeaders(const std::vector<std::string>& lines) {
    curl_slist_free_all(requestHeaders_);
    requestHeaders_ = nullptr;
    for (const std::string& line : lines) requestHeaders_ = curl_slist_append(requestHeaders_, line.c_str());
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, requestHeaders_);
}

void Transfer::setPostBody(const std::string& body) {
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body.data());
}

void Transfer::setCustomMethod(const std::string& method) {
    curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str());
}

void Transfer::setNoBody() { curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L); }

void Transfer::setUpload(std::string_view data) {
    upload_ = data;
    uploadPos_ = 0;
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Transfer::onRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
    curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
}

void Transfer::setCancelFlag(const std::atomic<bool>* flag) {
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, flag ? 0L : 1L);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, flag ? &Transfer::onProgress : nullptr);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(flag));
}

CURLcode Transfer::perform() { return curl_easy_perform(easy_); }

void Transfer::clearReceived() {
    body_.clear();
    headerLines_.clear();
    bodyCut_ = false;
    bodyStarted_ = false;
    errorBuffer_[0] = '\0';
    sawActivity_ = false;
}

long Transfer::responseCode() const {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

std::string Transfer::errorText(CURLcode code) const {
    return errorBuffer_[0] ? std::string(errorBuffer_) : std::string(curl_easy_strerror(code));
}

void Transfer::touch() {
    activity_ = std::chrono::steady_clock::now();
    sawActivity_ = true;
}

// A body grown by its chunks moves all it holds each time its room runs out; with room for
// the size told beforehand it is written once.
void Transfer::makeRoomForBody() {
    std::optional<std::uint64_t> told;
    if (sizeInHeaders_) told = sizeInHeaders_(headerLines_);
    curl_off_t length = -1;
    if (!told && curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
        told = static_cast<std::uint64_t>(length);
    if (!told) return;
    const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>({*told, maxBody_, kMostRoomAtOnce}));
    try {
        body_.reserve(room);
    } catch (...) {
        // Without the room, the body grows as its bytes come.
    }
}

size_t Transfer::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    t->touch();
    if (!std::exchange(t->bodyStarted_, true)) t->makeRoomForBody();
    if (size * count > t->maxBody_ - t->body_.size()) {
        t->bodyCut_ = true;
        return 0;
    }
    t->body_.append(data, size * count);
    return size * count;
}

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    t->touch();
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (!line.empty() && t->headerLines_.size() < t->maxHeaderLines_) t->headerLines_.emplace_back(line);
    return size * count;
}

size_t Transfer::onRead(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    t->touch();
    const std::size_t n = std::min(size * count, t->upload_.size() - t->uploadPos_);
    std::memcpy(data, t->upload_.data() + t->uploadPos_, n);
    t->uploadPos_ += n;
    if (t->uploadPos_ == t->upload_.size() && t->uploadEnd_) {
        const std::function<void()> ended = std::exchange(t->uploadEnd_, nullptr);
        try {
            ended();
        } catch (...) {
        }
    }
    return n;
}

int Transfer::onSeek(void* self, curl_off_t offset, int origin) {
    auto* t = static_cast<Transfer*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > t->upload_.size())
        return CURL_SEEKFUNC_CANTSEEK;
    t->uploadPos_ = static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

int Transfer::onProgress(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// ---- multi handles -------------------------------------------------------------------------

Multi::Multi() {
    initialize();
    multi_ = curl_multi_init();
}

Multi::~Multi() {
    if (multi_) curl_multi_cleanup(multi_);
}

void Multi::setMaxHostConnections(long count) { curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, count); }

void Multi::add(CURL* easy) { curl_multi_add_handle(multi_, easy); }

void Multi::remove(CURL* easy) { curl_multi_remove_handle(multi_, easy); }

bool Multi::perform(int& running) { return curl_multi_perform(multi_, &running) == CURLM_OK; }

std::vector<std::pair<CURL*, CURLcode>> Multi::takeFinished() {
    std::vector<std::pair<CURL*, CURLcode>> finished;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) finished.emplace_back(message->easy_handle, message->data.result);
    }
    return finished;
}

void Multi::poll(std::chrono::milliseconds atMost) {
    int numfds = 0;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max<long long>(0, atMost.count())), &numfds);
}

void Multi::wakeup() { curl_multi_wakeup(multi_); }

}  // namespace net
