#include "tellium/http/TLMReachability.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"

uint64_t TLM_Reachability::addObserver(Observer observer) {
    std::lock_guard<std::mutex> lock(observersMutex_);
    const uint64_t token = nextToken_++;
    observers_[token] = std::move(observer);
    return token;
}

void TLM_Reachability::removeObserver(uint64_t token) {
    std::lock_guard<std::mutex> lock(observersMutex_);
    observers_.erase(token);
}

void TLM_Reachability::postChangeNotification() {
    std::weak_ptr<TLM_Reachability> weak = weak_from_this();
    dispatch::mainQueue().async([weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::vector<Observer> observers;
        {
            std::lock_guard<std::mutex> lock(self->observersMutex_);
            for (auto& entry : self->observers_) {
                observers.push_back(entry.second);
            }
        }
        for (auto& observer : observers) {
            observer(*self);
        }
    });
}

namespace {

// True when the kernel's routing table has a default route (IPv4 or IPv6).
bool hasDefaultRoute() {
    std::ifstream v4("/proc/net/route");
    std::string line;
    std::getline(v4, line);  // column names
    while (std::getline(v4, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
        fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask;
        if (destination == "00000000" && mask == "00000000" && iface != "lo") {
            return true;
        }
    }
    std::ifstream v6("/proc/net/ipv6_route");
    while (std::getline(v6, line)) {
        std::istringstream fields(line);
        std::string destination, prefixLength, source, sourceLength, nextHop, metric, refcnt, use, flags, iface;
        fields >> destination >> prefixLength >> source >> sourceLength >> nextHop >> metric >> refcnt >> use >>
            flags >> iface;
        if (destination == std::string(32, '0') && prefixLength == "00" && iface != "lo") {
            return true;
        }
    }
    return false;
}

using Address = std::pair<sockaddr_storage, socklen_t>;

bool isLoopback(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

// Loopback always; any other address when the kernel finds a route to it. Connecting a datagram
// socket only looks the route up: nothing is sent.
bool isReachable(const Address& address) {
    if (isLoopback(address.first)) return true;
    const int sock = socket(address.first.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return false;
    const bool routed = connect(sock, reinterpret_cast<const sockaddr*>(&address.first), address.second) == 0;
    close(sock);
    return routed;
}

std::vector<Address> resolve(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::vector<Address> out;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), "443", &hints, &found) != 0) return out;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (!a->ai_addr || a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Address address{};
        std::memcpy(&address.first, a->ai_addr, a->ai_addrlen);
        address.second = a->ai_addrlen;
        out.push_back(address);
    }
    freeaddrinfo(found);
    return out;
}

class TLMRouteReachability final : public TLM_Reachability {
public:
    ~TLMRouteReachability() override { stopNotifier(); }

    TLMNetworkStatus currentReachabilityStatus() override {
        if (hasDefaultRoute()) return TLMReachableViaWiFi;
        std::vector<Address> addresses;
        {
            std::lock_guard<std::mutex> lock(hostsMutex_);
            addresses = addresses_;
        }
        for (const auto& address : addresses) {
            if (isReachable(address)) return TLMReachableViaWiFi;
        }
        return TLMNotReachable;
    }

    void watchHost(const std::string& host) override {
        {
            std::lock_guard<std::mutex> lock(hostsMutex_);
            if (hosts_.count(host)) return;
        }
        // A name that does not resolve yet (no name server without a route) is tried again on
        // the next call.
        auto resolved = resolve(host);
        if (resolved.empty()) return;
        {
            std::lock_guard<std::mutex> lock(hostsMutex_);
            if (!hosts_.insert(host).second) return;
            addresses_.insert(addresses_.end(), resolved.begin(), resolved.end());
        }
        const TLMNetworkStatus now = currentReachabilityStatus();
        if (now != last_.exchange(now)) {
            postChangeNotification();
        }
    }

    bool startNotifier() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (thread_.joinable()) {
            return true;
        }
        const int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (sock < 0) {
            return false;
        }
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_LINK;
        int wake[2];
        if (bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || pipe2(wake, O_CLOEXEC) != 0) {
            close(sock);
            return false;
        }
        wakeWrite_ = wake[1];
        last_ = currentReachabilityStatus();
        thread_ = std::thread([this, sock, wakeRead = wake[0]] { watch(sock, wakeRead); });
        postChangeNotification();
        return true;
    }

    void stopNotifier() override {
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!thread_.joinable()) {
                return;
            }
            const char byte = 0;
            (void)!write(wakeWrite_, &byte, 1);
            thread = std::move(thread_);
        }
        thread.join();
        close(wakeWrite_);
        wakeWrite_ = -1;
    }

private:
    void watch(int sock, int wakeRead) {
        std::vector<char> buffer(16384);
        for (;;) {
            pollfd fds[2] = {{sock, POLLIN, 0}, {wakeRead, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            if (fds[1].revents != 0) {
                break;
            }
            if (recv(sock, buffer.data(), buffer.size(), 0) < 0 && errno != EINTR && errno != ENOBUFS) {
                break;
            }
            const TLMNetworkStatus now = currentReachabilityStatus();
            if (now != last_.exchange(now)) {
                postChangeNotification();
            }
        }
        close(sock);
        close(wakeRead);
    }

    std::mutex mutex_;
    std::thread thread_;
    int wakeWrite_ = -1;
    std::atomic<TLMNetworkStatus> last_{TLMNotReachable};
    std::mutex hostsMutex_;
    std::set<std::string> hosts_;
    std::vector<Address> addresses_;
};

}  // namespace

std::shared_ptr<TLM_Reachability> TLM_Reachability::reachabilityForInternetConnection() {
    return std::make_shared<TLMRouteReachability>();
}
