// Parsing alone: 10,000-entry MLSD, LIST and PROPFIND answers, as big folders of real sites give
// them (target: under 20 ms each, median), and LIST answers of every listing family the parser
// reads at 10,000 and 100,000 lines: the time per line must not grow with the listing, and no
// family may take more than twice what Unix lines take.
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

// ---- every LIST family at 10k and 100k lines -------------------------------------------------

// One entry line of each family; every tenth entry is a folder.
using LineMaker = std::string (*)(int i);

std::string unixLine(int i) {
    if (i % 10 == 0) return "drwxr-xr-x    2 1000     1000         4096 Jan 02  2020 folder " + std::to_string(i);
    return "-rw-r--r--    1 1000     1000    " + std::to_string(1000 + i) + " Jun 10 08:30 " + name(i);
}
// Dates as servers in other languages write them, one form after the other.
std::string localizedLine(int i) {
    static const char* const dates[] = {"26. Juli 2020", "3 févr. 10:15", "12 dic 2019", "mrt 5 09:00", "2024.06.10 08:30",
                                        "10/06/2024", "6\xE6\x9C\x88 10 08:30", "2020\xE5\xB9\xB4 6\xE6\x9C\x88 10\xE6\x97\xA5"};
    const char* kind = i % 10 == 0 ? "drwxr-xr-x" : "-rw-r--r--";
    return std::string(kind) + "   1 owner    group    " + std::to_string(1000 + i) + " " + dates[i % 8] + " " + name(i);
}
std::string dosLine(int i) {
    if (i % 10 == 0) return "06-10-25  08:30AM       <DIR>          folder " + std::to_string(i);
    return "06-10-25  08:30AM               " + std::to_string(1000 + i) + " " + name(i);
}
std::string dosDirAfterLine(int i) {
    if (i % 10 == 0) return "folder " + std::to_string(i) + "          <DIR>     06-10-25  08:30a";
    return name(i) + "          " + std::to_string(1000 + i) + "     06-10-25  08:30p";
}
std::string vshellLine(int i) {
    if (i % 10 == 0) return "drwxr-xr-x   1 user     group           0 Apr 04, 2000 21:06 folder " + std::to_string(i) + "/";
    return "         " + std::to_string(1000 + i) + " Apr 04, 2000 21:06 " + name(i);
}
std::string netwareLine(int i) {
    if (i % 10 == 0) return "d [RWCEAFMS] webmaster                512 Jun 10 08:30    folder " + std::to_string(i);
    return "- [RWCEAFMS] webmaster          " + std::to_string(1000 + i) + " Jan 16  2020    " + name(i);
}
std::string eplfLine(int i) {
    if (i % 10 == 0) return "+i8388621." + std::to_string(i) + ",m824255902,/,\tfolder " + std::to_string(i);
    return "+i8388621." + std::to_string(i) + ",m824255902,r,s" + std::to_string(1000 + i) + ",\t" + name(i);
}
std::string os2Line(int i) {
    if (i % 10 == 0) return "           0           DIR   05-12-97   16:44  folder " + std::to_string(i);
    return "       " + std::to_string(1000 + i) + "      A          05-12-97   16:46  " + name(i);
}
std::string vmsLine(int i) {
    if (i % 10 == 0)
        return "FOLDER" + std::to_string(i) + ".DIR;1            1/3       12-MAR-1996 10:23:46  [WEB,OWNER]  (RWE,RWE,RE,RE)";
    // Every hundredth name is too long for its column: the rest of the entry wraps to the next line.
    std::string file = "PAGE_" + std::to_string(i) + ".HTML;" + std::to_string(i % 9 + 1);
    std::string data = std::to_string(i % 60 + 1) + "/" + std::to_string(i % 60 + 3) +
                       "        5-APR-2001 16:21:01  [WEB,OWNER]  (RWED,RWED,RE,)";
    if (i % 100 == 1) return file + "\r\n                          " + data;
    return file + "          " + data;
}
std::string as400Line(int i) {
    if (i % 10 == 0) return "WEBOWNER        77824 02/23/00 15:09:55 *DIR       folder " + std::to_string(i) + "/";
    return "WEBOWNER     " + std::to_string(1000 + i) + " 02/23/00 15:09:55 *STMF      " + name(i);
}

std::string listingOf(LineMaker line, int lines) {
    std::string s;
    s.reserve(static_cast<std::size_t>(lines) * 90);
    for (int i = 0; i < lines; ++i) s += line(i) + "\r\n";
    return s;
}

void parseFamily(benchmark::State& state, LineMaker line) {
    const int lines = static_cast<int>(state.range(0));
    const std::string text = listingOf(line, lines);
    const auto now = std::chrono::system_clock::now();
    for (auto _ : state) {
        auto entries = files::parse::list(text, "/big", now);
        if (entries.size() != static_cast<std::size_t>(lines)) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * lines);
    state.SetComplexityN(lines);
}

}  // namespace

BENCHMARK(BM_ParseMlsd10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_ParseList10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_ParsePropfind10k)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

#define LIST_FAMILY(family, maker)                                                                      \
    BENCHMARK_CAPTURE(parseFamily, family, maker)                                                       \
        ->Arg(10000)                                                                                    \
        ->Arg(100000)                                                                                   \
        ->Unit(benchmark::kMillisecond)                                                                 \
        ->Repetitions(5)                                                                                \
        ->ReportAggregatesOnly(true)
LIST_FAMILY(unix, unixLine);
LIST_FAMILY(localizedDates, localizedLine);
LIST_FAMILY(dos, dosLine);
LIST_FAMILY(dosDirAfterName, dosDirAfterLine);
LIST_FAMILY(vshell, vshellLine);
LIST_FAMILY(netware, netwareLine);
LIST_FAMILY(eplf, eplfLine);
LIST_FAMILY(os2, os2Line);
LIST_FAMILY(vms, vmsLine);
LIST_FAMILY(as400, as400Line);
