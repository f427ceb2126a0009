#pragma once
// A small HTTP server on 127.0.0.1 (a free port) for the tests: it records every request and
// answers each with the reply set last (status, body, optional delay), one connection at a time,
// closing the connection after the answer. With `silent` it accepts and never answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/Loopback.h"

namespace testhttp {

struct Request {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const {
        for (auto& [n, v] : headers) {
            if (n.size() == name.size() &&
                std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
                return v;
        }
        return std::nullopt;
    }
};

struct Reply {
    int status = 200;
    std::string body = R"({"result":{}})";
    std::string contentType = "application/json";
    std::chrono::milliseconds delay{0};
    bool silent = false;
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer() {
        listener_ = testsupport::listenOnLoopback(port_);
        thread_ = std::thread([this] { run(); });
    }
    ~LoopbackHttpServer() { stop(); }

    // Stops answering and closes the port (later connections are refused).
    void stop() {
        if (stopping_.exchange(true)) return;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

    void setReply(Reply reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    bool waitForRequests(size_t count, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
    }

private:
    void run() {
        while (!stopping_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            serve(fd);
            ::close(fd);
        }
    }

    // Reads until the condition holds or the peer closes; false on close or stop.
    bool readMore(int fd, std::string& buffer) {
        char chunk[4096];
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            int r = ::poll(&p, 1, 50);
            if (r == 0) continue;
            if (r < 0) return false;
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<size_t>(n));
            return true;
        }
        return false;
    }

    void serve(int fd) {
        std::string buffer;
        size_t headerEnd;
        while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!readMore(fd, buffer)) return;
        }
        Request request;
        std::string head = buffer.substr(0, headerEnd);
        size_t lineEnd = head.find("\r\n");
        std::string first = head.substr(0, lineEnd);
        size_t s1 = first.find(' '), s2 = first.rfind(' ');
        request.method = first.substr(0, s1);
        request.target = first.substr(s1 + 1, s2 - s1 - 1);
        size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (pos < head.size()) {
            size_t end = head.find("\r\n", pos);
            if (end == std::string::npos) end = head.size();
            std::string line = head.substr(pos, end - pos);
            if (auto colon = line.find(':'); colon != std::string::npos) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                request.headers.emplace_back(line.substr(0, colon), value);
            }
            pos = end + 2;
        }
        size_t length = 0;
        if (auto cl = request.header("Content-Length")) length = std::stoul(*cl);
        std::string body = buffer.substr(headerEnd + 4);
        while (body.size() < length) {
            if (!readMore(fd, body)) break;
        }
        request.body = body.substr(0, length);

        Reply reply;
        {
            std::lock_guard lock(mutex_);
            reply = reply_;
            requests_.push_back(request);
        }
        arrived_.notify_all();

        auto until = std::chrono::steady_clock::now() + reply.delay;
        while (!stopping_ && (reply.silent || std::chrono::steady_clock::now() < until)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            // A silent answer ends when the client goes away.
            char c;
            if (reply.silent && ::recv(fd, &c, 1, MSG_DONTWAIT) == 0) return;
        }
        if (stopping_) return;
        std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " X\r\nContent-Type: " + reply.contentType +
                          "\r\nContent-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                          reply.body;
        size_t sent = 0;
        while (sent < out.size()) {
            ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    Reply reply_;
    std::vector<Request> requests_;
};

}  // namespace testhttp
