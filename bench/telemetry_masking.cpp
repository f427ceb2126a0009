// Masking secrets in telemetry log lines: the collector-answer token pattern and the tickets
// pattern over texts from 1 KB to 1 MB. The scan is linear: time per byte stays flat as the
// text grows (compare the per-size items/s), and nothing recurses per character.
#include <benchmark/benchmark.h>

#include <string>

#include "tellium/util/TLMUtility.h"

namespace {

const std::string kTokenPattern = "\"token\"\\s*:\\s*\"[^\"]+\"";

void BM_MaskCollectorToken(benchmark::State& state) {
    const std::string text = "{\"acceptedCount\":1,\"token\":\"" + std::string(static_cast<size_t>(state.range(0)), 'T') + "\"}";
    for (auto _ : state) {
        auto masked = TLMUtility::obfuscateString(text, kTokenPattern, "\"token\" : \"***\"");
        benchmark::DoNotOptimize(masked);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MaskCollectorToken)->RangeMultiplier(32)->Range(1 << 10, 1 << 20);

void BM_MaskTickets(benchmark::State& state) {
    const std::string text = "{\"key\":\"p:" + std::string(static_cast<size_t>(state.range(0)), 'k') + "\"}";
    for (auto _ : state) {
        auto masked = TLMUtility::obfuscateString(text, ":[^\"]+", ":***");
        benchmark::DoNotOptimize(masked);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MaskTickets)->RangeMultiplier(32)->Range(1 << 10, 1 << 20);

}  // namespace
