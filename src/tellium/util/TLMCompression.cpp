#include "tellium/util/TLMCompression.h"

#include <zlib.h>

#include "tellium/TLMLogger.h"

std::optional<std::string> TLMCompression::compressData(std::string_view data) {
    if (data.empty()) return std::nullopt;
    z_stream stream{};
    int rc = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) {
        TLMLogError(kTLMLogTag, "Compression failed with error: " + std::to_string(rc));
        return std::nullopt;
    }
    // deflateBound covers incompressible input too (the usual size x 1.01 + 12 can fall short of
    // the gzip header and trailer for tiny inputs).
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    rc = deflate(&stream, Z_FINISH);
    if (rc != Z_STREAM_END) {
        deflateEnd(&stream);
        TLMLogError(kTLMLogTag, "Deflate failed with error: " + std::to_string(rc));
        return std::nullopt;
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}
