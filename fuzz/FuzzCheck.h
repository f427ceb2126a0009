#pragma once
// What every fuzz target shares: a property check that stops the run with a readable message
// (libFuzzer keeps the input that broke it), and the entry point's input as text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond)                                                               \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

inline std::string_view fuzzText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}
