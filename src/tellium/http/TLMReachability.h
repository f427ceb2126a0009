#pragma once
// Whether the network is reachable, and word when that changes. On Linux the answer is "an IPv4
// or IPv6 default route exists, or a host the client sends to is reachable": a loopback address
// always is, any other address when the routing table has a route to it (a collector on this
// machine or the local network works without a default route). A netlink route socket on a
// thread of its own tells of changes. Observers hear of every change (and once when the notifier
// starts) on the main queue.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

enum TLMNetworkStatus { TLMNotReachable = 0, TLMReachableViaWiFi = 1, TLMReachableViaWWAN = 2 };

inline constexpr const char* kTLMNetworkReachabilityChangedNotification =
    "kTLMNetworkReachabilityChangedNotification";

class TLM_Reachability : public std::enable_shared_from_this<TLM_Reachability> {
public:
    using Observer = std::function<void(TLM_Reachability&)>;

    virtual ~TLM_Reachability() = default;
    // The watcher of general internet reachability.
    static std::shared_ptr<TLM_Reachability> reachabilityForInternetConnection();

    virtual TLMNetworkStatus currentReachabilityStatus() = 0;
    // A host (name or address) the client sends to; from now on it counts towards the answer. Its
    // name is resolved here, on the caller's thread, once it resolves. A change of the answer is
    // posted as any other.
    virtual void watchHost(const std::string& host) { (void)host; }
    // Starts watching; posts one change notice on the main queue. False when it cannot watch.
    virtual bool startNotifier() = 0;
    virtual void stopNotifier() = 0;

    // Observers of kTLMNetworkReachabilityChangedNotification; the token removes one.
    uint64_t addObserver(Observer observer);
    void removeObserver(uint64_t token);

protected:
    // Tells every observer, on the main queue.
    void postChangeNotification();

private:
    std::mutex observersMutex_;
    uint64_t nextToken_ = 1;
    std::map<uint64_t, Observer> observers_;
};
