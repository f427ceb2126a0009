// What an FTP (or HTTP) server sends on its control connection, as the transfer keeps it: one
// stored line per header callback, then the last reply and header values read back from them.
#include <string>

#include "FuzzCheck.h"
#include "platform/files/CurlSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text = fuzzText(data, size);
    files::detail::TransferResult r;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        if (!line.empty()) r.headers.emplace_back(line);
    }
    const std::string last = r.lastReply();
    if (!last.empty()) {
        bool stored = false;
        for (const std::string& h : r.headers) stored = stored || h == last;
        FUZZ_CHECK(stored);
    }
    for (std::string_view name : {"Content-Type", "Location", "DAV", "ETag"}) {
        for (const std::string& v : r.headerValues(name)) FUZZ_CHECK(v.empty() || (v.front() != ' ' && v.front() != '\t'));
    }
    if (!r.headers.empty()) (void)files::detail::parseBaseUrl(r.headers.front(), {"ftp", "ftps", "http", "https"});
    return 0;
}
