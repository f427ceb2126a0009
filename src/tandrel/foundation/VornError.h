#pragma once
// An error as a value: where it comes from (a domain), a code, the text shown to the user and
// the short text written to the log.
#include <cstdint>
#include <string>
#include <utility>

struct VornError {
    std::string domain;   // "vorn_error_throws", "jsonable_error", "KeychainError", "DecodingError", ...
    int64_t code = 0;
    std::string message;  // user-facing description
    std::string name;     // short form for log lines, e.g. "url_missing"
    // The user knows already (they turned down the question that led to it, or read the warning
    // it repeats): no alert shows it again.
    bool told = false;

    // The text form used in log lines: the short name when there is one, else the message.
    std::string text() const { return name.empty() ? message : (message.empty() ? name : name + ": " + message); }
    const std::string& localizedDescription() const { return message; }
    // A request that was cancelled, or that a newer one overtook, or what the user was told
    // already: nothing went wrong that the user should read about now.
    bool is_silent() const { return told || name == "cancelled" || name == "connection_superseded"; }
    bool is(const std::string& d, int64_t c) const { return domain == d && code == c; }

    // Errors of the platform's own domain for data and files ("NSCocoaErrorDomain"), with the
    // codes its callers and logs know.
    static constexpr const char* kCocoaDomain = "NSCocoaErrorDomain";
    static constexpr int64_t kCocoaFileReadUnknown = 256;
    static constexpr int64_t kCocoaPropertyListReadCorrupt = 3840;
    static constexpr const char* kDataNotInFormat = "The data couldn't be read because it isn't in the correct format.";

    static VornError cocoa(int64_t code, std::string message, std::string name) {
        return VornError{kCocoaDomain, code, std::move(message), std::move(name)};
    }
    // Data that is not the JSON (or other format) it should be.
    static VornError dataCorrupt(std::string name, std::string message = kDataNotInFormat) {
        return cocoa(kCocoaPropertyListReadCorrupt, std::move(message), std::move(name));
    }
    // A local file that could not be opened or read.
    static VornError fileReadUnknown(std::string message) {
        return cocoa(kCocoaFileReadUnknown, std::move(message), "fileReadUnknown");
    }
};

// A value or an error.
template <class T>
class Expected {
public:
    Expected(T value) : ok_(true), value_(std::move(value)) {}
    Expected(VornError error) : ok_(false), error_(std::move(error)) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    T& value() { return value_; }
    const T& value() const { return value_; }
    T& operator*() { return value_; }
    const T& operator*() const { return value_; }
    T* operator->() { return &value_; }
    const T* operator->() const { return &value_; }
    const VornError& error() const { return error_; }

private:
    bool ok_;
    T value_{};
    VornError error_;
};
