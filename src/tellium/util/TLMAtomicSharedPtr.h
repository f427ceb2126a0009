#pragma once
// A shared pointer that one thread can replace while others read it, without a lock of ours:
// readers always get either the old or the new object whole, and keep it alive while they use it.
// Built on the standard atomic shared_ptr operations rather than std::atomic<std::shared_ptr>,
// whose libstdc++ form hides its lock in a pointer bit that ThreadSanitizer cannot follow.
#include <memory>

template <class T>
class TLMAtomicSharedPtr {
public:
    TLMAtomicSharedPtr() = default;
    explicit TLMAtomicSharedPtr(std::shared_ptr<T> value) : value_(std::move(value)) {}
    TLMAtomicSharedPtr(const TLMAtomicSharedPtr&) = delete;
    TLMAtomicSharedPtr& operator=(const TLMAtomicSharedPtr&) = delete;

    std::shared_ptr<T> load() const { return std::atomic_load_explicit(&value_, std::memory_order_acquire); }
    void store(std::shared_ptr<T> value) {
        std::atomic_store_explicit(&value_, std::move(value), std::memory_order_release);
    }

private:
    std::shared_ptr<T> value_;
};
