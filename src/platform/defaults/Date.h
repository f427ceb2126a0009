#pragma once
// A point in time as seconds (with fraction) since 2001-01-01 00:00:00 UTC, the form the app's
// JSON files and settings store dates in.
#include <chrono>
#include <compare>

namespace defaults {

struct Date {
    // Seconds from 1970-01-01 to 2001-01-01, both UTC.
    static constexpr double kReferenceOffset = 978307200.0;

    double sinceReferenceDate = 0;

    static Date now() {
        using namespace std::chrono;
        auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
        return Date{static_cast<double>(us) / 1e6 - kReferenceOffset};
    }
    static Date fromUnix(double seconds) { return Date{seconds - kReferenceOffset}; }
    double unixTime() const { return sinceReferenceDate + kReferenceOffset; }

    auto operator<=>(const Date&) const = default;
};

}  // namespace defaults
