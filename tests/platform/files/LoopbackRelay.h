#pragma once
// Machines in the middle for the tests, on 127.0.0.1 only: a relay that records every byte a
// client sends through it. As an HTTP proxy it answers CONNECT with a tunnel to the named port
// of 127.0.0.1 (any other request gets "502 Bad Gateway" once it was recorded). In front of an
// FTP server it carries the control connection both ways, and, once told to, hides the server's
// TLS as a machine in the middle would: it answers "AUTH TLS" itself with a refusal, so the
// client goes on in plain text if it lets itself. Carrying plain HTTP, it can hold a request
// back, so a test can act on the server between two requests of one operation.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Loopback.h"

namespace filestest {

class LoopbackRelay {
public:
    enum class Mode { httpProxy, ftp, http };

    // For an FTP or HTTP relay, `targetPort` is the server's port on 127.0.0.1.
    explicit LoopbackRelay(Mode mode, int targetPort = 0) : mode_(mode), targetPort_(targetPort) {
        listener_ = testsupport::listenOnLoopback(port_);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~LoopbackRelay() {
        stopping_ = true;
        release();
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        closeAll();
        std::vector<std::thread> pumps;
        {
            std::lock_guard lock(mutex_);
            pumps.swap(pumps_);
        }
        for (auto& t : pumps) t.join();
        ::close(listener_);
    }
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& scheme) const { return scheme + "://127.0.0.1:" + std::to_string(port_); }
    // Everything clients sent to the relay so far, all connections in order of arrival.
    std::string received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    int connections() const { return connections_.load(); }
    // FTP: from now on "AUTH" is refused by the relay and never reaches the server.
    void stripTls(bool strip) { strip_ = strip; }
    // HTTP: the next request that begins with `held` and comes after one that begins with
    // `after` is kept from the server until release(); waitHeld() tells when it arrived.
    void holdNext(std::string after, std::string held) {
        std::lock_guard lock(mutex_);
        holdAfter_ = std::move(after);
        holdWhat_ = std::move(held);
        sawAfter_ = holding_ = released_ = false;
    }
    bool waitHeld(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return holding_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Closes the connections open now (the client then has to make new ones).
    void closeAll() {
        std::lock_guard lock(mutex_);
        for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
    }

private:
    static void sendAll(int fd, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    void record(const char* data, std::size_t n) {
        std::lock_guard lock(mutex_);
        received_.append(data, n);
    }
    void track(int fd) {
        std::lock_guard lock(mutex_);
        sockets_.push_back(fd);
    }

    void acceptLoop() {
        while (!stopping_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            ++connections_;
            track(client);
            std::lock_guard lock(mutex_);
            pumps_.emplace_back([this, client] { serve(client); });
        }
    }

    void serve(int client) {
        int server = -1;
        std::string pending;  // client bytes not yet handed on
        if (mode_ == Mode::httpProxy) {
            // The request head decides: CONNECT 127.0.0.1:port opens a tunnel.
            char buffer[4096];
            while (pending.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) return finish(client, server);
                record(buffer, static_cast<std::size_t>(n));
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            const std::size_t head = pending.find("\r\n\r\n") + 4;
            int port = 0;
            if (pending.rfind("CONNECT 127.0.0.1:", 0) == 0) port = std::atoi(pending.c_str() + 18);
            if (port <= 0 || (server = testsupport::connectToLoopback(port)) < 0) {
                sendAll(client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                return finish(client, server);
            }
            track(server);
            sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n");
            pending.erase(0, head);
            sendAll(server, pending);
            pending.clear();
        } else {
            if ((server = testsupport::connectToLoopback(targetPort_)) < 0) return finish(client, server);
            track(server);
        }
        bool raw = mode_ != Mode::ftp;  // FTP: command lines until the client's TLS begins
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[16384];
        while (!stopping_) {
            if (::poll(fds, 2, 200) < 0) break;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                sendAll(client, std::string(buffer, static_cast<std::size_t>(n)));
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                record(buffer, static_cast<std::size_t>(n));
                if (raw) {
                    if (mode_ == Mode::http) awaitTurn(std::string_view(buffer, static_cast<std::size_t>(n)));
                    sendAll(server, std::string(buffer, static_cast<std::size_t>(n)));
                    continue;
                }
                // FTP: whole command lines, so that "AUTH" can be answered here; what follows an
                // "AUTH" the server was let see is the client's TLS, carried as it comes.
                pending.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end; !raw && (end = pending.find("\r\n")) != std::string::npos;) {
                    const std::string line = pending.substr(0, end + 2);
                    pending.erase(0, end + 2);
                    const bool auth = line.rfind("AUTH", 0) == 0 || line.rfind("auth", 0) == 0;
                    if (auth && strip_) {
                        sendAll(client, "500 AUTH not understood.\r\n");
                        continue;
                    }
                    sendAll(server, line);
                    raw = auth;
                }
                if (raw && !pending.empty()) {
                    sendAll(server, pending);
                    pending.clear();
                }
            }
        }
        finish(client, server);
    }

    // A request (curl sends its head in one piece) that holdNext() names waits for release().
    void awaitTurn(std::string_view chunk) {
        std::unique_lock lock(mutex_);
        if (holdWhat_.empty()) return;
        if (!sawAfter_) {
            sawAfter_ = chunk.starts_with(holdAfter_);
            return;
        }
        if (holding_ || !chunk.starts_with(holdWhat_)) return;
        holding_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }

    void finish(int client, int server) {
        std::lock_guard lock(mutex_);
        for (int fd : {client, server}) {
            if (fd < 0) continue;
            std::erase(sockets_, fd);
            ::close(fd);
        }
    }

    const Mode mode_;
    const int targetPort_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> strip_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string holdAfter_, holdWhat_;
    bool sawAfter_ = false, holding_ = false, released_ = false;
    std::string received_;
    std::vector<int> sockets_;
    std::vector<std::thread> pumps_;
    std::thread acceptor_;
};

}  // namespace filestest
