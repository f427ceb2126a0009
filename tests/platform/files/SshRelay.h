#pragma once
// A relay on 127.0.0.1 in front of an SSH server, for the tests that need the server to fall
// silent or the connection to drop under a session.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/Loopback.h"

namespace sshtest {

// A relay on a port of its own to the server, passing every connection on, which can stop
// passing the server's bytes on (a server that falls silent in the middle of a session) or cut
// the connections it carries (as a server does whose login grace time ran out).
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort) {
        listener_ = testsupport::listenOnLoopback(port_, 8);
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~Relay() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        cut();
        for (std::thread& t : pipes_) t.join();
        for (int fd : open_) ::close(fd);
        ::close(listener_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }
    long fromClient() const { return fromClient_; }  // bytes passed on to the server
    void freeze() { frozen_ = true; }
    void thaw() { frozen_ = false; }
    int ended() const { return ended_; }  // connections either side closed
    // Ends every connection carried so far, on both sides.
    void cut() {
        std::lock_guard lock(mutex_);
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }

private:
    void acceptAll() {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0 || stop_) {
                if (client >= 0) ::close(client);
                return;
            }
            const int server = testsupport::connectToLoopback(serverPort_);
            if (server < 0) {
                ::close(client);
                continue;
            }
            ++connections_;
            std::lock_guard lock(mutex_);
            open_.push_back(client);
            open_.push_back(server);
            pipes_.emplace_back([this, client, server] {
                char buffer[65536];
                while (!stop_) {
                    const bool frozen = frozen_;
                    pollfd fds[2] = {{client, POLLIN, 0}, {server, static_cast<short>(frozen ? 0 : POLLIN), 0}};
                    if (::poll(fds, 2, 50) < 0) break;
                    bool ended = false;
                    for (int i = 0; i < 2 && !ended; ++i) {
                        if ((i == 1 && frozen) || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                        ended = n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n;
                        if (!ended && i == 0) fromClient_ += n;
                    }
                    if (ended) break;
                }
                ::shutdown(client, SHUT_RDWR);
                ::shutdown(server, SHUT_RDWR);
                ++ended_;
            });
        }
    }
    const int serverPort_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false}, frozen_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> ended_{0};
    std::atomic<long> fromClient_{0};
    std::mutex mutex_;
    std::vector<int> open_;  // closed with the relay
    std::vector<std::thread> pipes_;
    std::thread acceptor_;
};

}  // namespace sshtest
