#pragma once
// Whether the network is reachable at all, and word when that changes. On Linux the answer is
// "an IPv4 or IPv6 default route exists"; a netlink route socket on a thread of its own tells of
// changes. Observers hear of every change (and once when the notifier starts) on the main queue.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

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
