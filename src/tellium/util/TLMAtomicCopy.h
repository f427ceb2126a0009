#pragma once
// An optional value kept as an immutable copy that one thread can replace while others read it:
// a reader gets either the old or the new value whole, never a half-written one, and no lock of
// ours is held while it reads. Used for the record fields that the SDK's services set from their
// own threads while a channel's queue serializes the same record.
#include <memory>
#include <optional>
#include <utility>

#include "tellium/util/TLMAtomicSharedPtr.h"

template <class T>
class TLMAtomicCopy {
public:
    TLMAtomicCopy() = default;
    TLMAtomicCopy(const TLMAtomicCopy& other) : value_(other.value_.load()) {}
    TLMAtomicCopy& operator=(const TLMAtomicCopy& other) {
        if (this != &other) value_.store(other.value_.load());
        return *this;
    }
    TLMAtomicCopy& operator=(const T& value) {
        value_.store(std::make_shared<const T>(value));
        return *this;
    }
    TLMAtomicCopy& operator=(T&& value) {
        value_.store(std::make_shared<const T>(std::move(value)));
        return *this;
    }
    TLMAtomicCopy& operator=(const std::optional<T>& value) {
        store(value);
        return *this;
    }
    TLMAtomicCopy& operator=(std::nullopt_t) {
        value_.store(nullptr);
        return *this;
    }

    // The value as it is now (a copy), or nothing.
    std::optional<T> load() const {
        auto held = value_.load();
        return held ? std::optional<T>(*held) : std::nullopt;
    }
    // The value as it is now, shared rather than copied: it stays whole while the caller holds it.
    std::shared_ptr<const T> snapshot() const { return value_.load(); }
    void store(const std::optional<T>& value) {
        value_.store(value ? std::make_shared<const T>(*value) : nullptr);
    }
    bool has_value() const { return value_.load() != nullptr; }

private:
    TLMAtomicSharedPtr<const T> value_;
};
