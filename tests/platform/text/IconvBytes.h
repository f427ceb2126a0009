#pragma once
// A text's bytes in an encoding as glibc's iconv writes them: files for the text road's tests,
// made by a converter other than the one under test.
#include <iconv.h>

#include <string>

namespace texttest {

// Empty when iconv has no such encoding or cannot write the text in it.
inline std::string iconvBytes(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(utf8.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* to = out.data();
    size_t outLeft = out.size();
    const size_t done = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace texttest
