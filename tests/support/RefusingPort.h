#pragma once
// A port of 127.0.0.1 that refuses connections: bound, never listening, for the object's life.
// For tests and benchmarks that need a collector or server that is down.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testsupport {

class RefusingPort {
public:
    RefusingPort() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
