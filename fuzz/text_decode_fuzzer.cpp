// The text road: any bytes, read as a kind of file (and, by the first byte, in a chosen encoding
// or as the file says): a read that holds every byte writes back the very bytes read.
#include <string>

#include "FuzzCheck.h"
#include "platform/text/TextEncoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const auto offered = textcodec::offeredEncodings();
    static const char* const names[] = {"page.html", "page.php", "style.css", "feed.xml", "notes.txt"};
    const uint8_t pick = data[0];
    const std::string_view bytes = fuzzText(data + 1, size - 1);
    std::optional<std::string> chosen;
    if (pick < offered.size()) chosen = offered[pick].first;
    const auto read = textcodec::decodeText(bytes, names[pick % 5], chosen);
    FUZZ_CHECK(read.lossless != read.firstBadOffset.has_value());
    if (!read.lossless) return 0;
    const auto back = textcodec::encodeText(read.utf8, read.format);
    FUZZ_CHECK(std::holds_alternative<std::string>(back));
    FUZZ_CHECK(std::get<std::string>(back) == bytes);
    return 0;
}
