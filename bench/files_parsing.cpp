// Parsing alone: 10,000-entry MLSD, LIST and PROPFIND answers, as big folders of real sites give
// them. Target: under 20 ms each (median).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/files/ListingParsers.h"

namespace {

constexpr int kEntries = 10000;

std::string name(int i) { return "page-" + std::to_string(i) + (i % 7 == 0 ? " copy (2)" : "") + ".html"; }

const std::string& mlsdListing() {
    static const std::string text = [] {
        std::string s = "type=cdir;modify=20240101000000;perm=flcdmpe; .\r\n";
        for (int i = 0; i < kEntries; ++i) {
            if (i % 10 == 0)
                s += "type=dir;sizd=4096;modify=20240102030405;perm=flcdmpe;unique=fe00g" + std::to_string(i) + "; folder " +
                     std::to_string(i) + "\r\n";
            else
                s += "type=file;size=" + std::to_string(1000 + i) + ";modify=20240102030405.123;perm=adfrw;unique=fe00g" +
                     std::to_string(i) + "; " + name(i) + "\r\n";
        }
        return s;
    }();
    return text;
}

const std::string& unixListing() {
    static const std::string text = [] {
        std::string s = "total 40000\r\n";
        for (int i = 0; i < kEntries; ++i) {
            if (i % 10 == 0)
                s += "drwxr-xr-x    2 1000     1000         4096 Jan 02  2020 folder " + std::to_string(i) + "\r\n";
            else
                s += "-rw-r--r--    1 1000     1000    " + std::to_string(1000 + i) + " Jun 10 08:30 " + name(i) + "\r\n";
        }
        return s;
    }();
    return text;
}

const std::string& propfindAnswer() {
    static const std::string text = [] {
        std::string s =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\" xmlns:ns0=\"DAV:\">\n"
            "<D:response xmlns:lp1=\"DAV:\"><D:href>/dav/big/</D:href><D:propstat><D:prop>"
            "<lp1:resourcetype><D:collection/></lp1:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status>"
            "</D:propstat></D:response>\n";
        for (int i = 0; i < kEntries; ++i) {
            std::string href = "/dav/big/page-" + std::to_string(i) + (i % 7 == 0 ? "%20copy%20(2)" : "") + ".html";
            s += "<D:response xmlns:lp1=\"DAV:\" xmlns:lp2=\"http://apache.org/dav/props/\" xmlns:g0=\"DAV:\">"
                 "<D:href>" + href + "</D:href><D:propstat><D:prop><lp1:resourcetype/>"
                 "<lp1:creationdate>2026-12-06T21:11:01Z</lp1:creationdate>"
                 "<lp1:getcontentlength>" + std::to_string(1000 + i) + "</lp1:getcontentlength>"
                 "<lp1:getlastmodified>Sun, 06 Dec 2026 21:11:01 GMT</lp1:getlastmodified>"
                 "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
                 "<D:propstat><D:prop><g0:displayname/></D:prop><D:status>HTTP/1.1 404 Not Found</D:status>"
                 "</D:propstat></D:response>\n";
        }
        s += "</D:multistatus>\n";
        return s;
    }();
    return text;
}

void BM_ParseMlsd10k(benchmark::State& state) {
    const std::string& text = mlsdListing();
    for (auto _ : state) {
        auto entries = files::parse::mlsd(text, "/big");
        if (entries.size() != kEntries) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ParseList10k(benchmark::State& state) {
    const std::string& text = unixListing();
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        auto entries = files::parse::list(text, "/big", now);
        if (entries.size() != kEntries) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_ParsePropfind10k(benchmark::State& state) {
    const std::string& text = propfindAnswer();
    for (auto _ : state) {
        auto entries = files::parse::propfind(text, "/dav", "/big");
        if (!entries || entries->size() != kEntries) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_ParseMlsd10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_ParseList10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_ParsePropfind10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
