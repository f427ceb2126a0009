#include "tellium/http/TLMReachability.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
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

class TLMRouteReachability final : public TLM_Reachability {
public:
    ~TLMRouteReachability() override { stopNotifier(); }

    TLMNetworkStatus currentReachabilityStatus() override {
        return hasDefaultRoute() ? TLMReachableViaWiFi : TLMNotReachable;
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
};

}  // namespace

std::shared_ptr<TLM_Reachability> TLM_Reachability::reachabilityForInternetConnection() {
    return std::make_shared<TLMRouteReachability>();
}
