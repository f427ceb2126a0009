// The one percent-encoder, with the sets its callers keep: a path keeps "/", a component
// nothing, a telemetry query its delimiters. The expected texts are the bytes on the wire.
#include <gtest/gtest.h>

#include "platform/net/PercentEncoding.h"

namespace {

constexpr const char* kQueryKeeps = "!$&'()*+,;=:@/?";

struct EncodeCase {
    std::string text;
    const char* keep;
    const char* encoded;
};

TEST(PercentEncoding, Table) {
    const EncodeCase cases[] = {
        {"", "", ""},
        {"AZaz09-._~", "", "AZaz09-._~"},
        {"/a b/c", "/", "/a%20b/c"},
        {"/a b/c", "", "%2Fa%20b%2Fc"},
        {"caf\xC3\xA9.txt", "/", "caf%C3%A9.txt"},
        {"\xE9", "", "%E9"},
        {std::string("a\0b", 3), "", "a%00b"},
        {"100%#?&=+", "/", "100%25%23%3F%26%3D%2B"},
        {"!*'();:@&=+$,/?#[]", "", "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%23%5B%5D"},
        {"api-version=1.0.0&x=a b", kQueryKeeps, "api-version=1.0.0&x=a%20b"},
        {"k=!$&'()*+,;=:@/?", kQueryKeeps, "k=!$&'()*+,;=:@/?"},
        {"q=\"<>\\^`{|}%#[]", kQueryKeeps, "q=%22%3C%3E%5C%5E%60%7B%7C%7D%25%23%5B%5D"},
        {"\x01\x7F\x80\xFF", kQueryKeeps, "%01%7F%80%FF"},
        {"//", "/", "//"},
    };
    for (const auto& c : cases) EXPECT_EQ(net::percentEncode(c.text, c.keep), c.encoded) << c.encoded;
}

TEST(PercentEncoding, DecodeKeepsMalformedEscapes) {
    const std::pair<const char*, std::string> cases[] = {
        {"a%20b", "a b"}, {"%2f%2F", "//"}, {"%C3%A9", "\xC3\xA9"}, {"100%", "100%"},
        {"%4", "%4"},     {"%zz", "%zz"},   {"%%41", "%A"},        {"plain", "plain"},
        {"%00", std::string(1, '\0')},
    };
    for (const auto& [text, decoded] : cases) EXPECT_EQ(net::percentDecode(text), decoded) << text;
}

TEST(PercentEncoding, TypedUrlsAreEscapedAsABrowserDoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://host/web files/", "http://host/web%20files/"},
        {"ftp://127.0.0.1:2121/web files", "ftp://127.0.0.1:2121/web%20files"},
        {"  webdav://host/dav/web files/ ", "webdav://host/dav/web%20files/"},
        {"http://host/web%20files/", "http://host/web%20files/"},
        {"http://host/a b%20c/", "http://host/a%20b%20c/"},
        {"http://host/100%/", "http://host/100%25/"},
        {"http://host/%zz%4/", "http://host/%25zz%254/"},
        {"http://host/caf\xC3\xA9/", "http://host/caf%C3%A9/"},
        {"http://host/\"<>\\^`{|}/", "http://host/%22%3C%3E%5C%5E%60%7B%7C%7D/"},
        {"http://host/a\tb/", "http://host/a%09b/"},
        {"http://host/a b?x=1 2#f g", "http://host/a%20b?x=1%202#f%20g"},
        {"http://user@host:8080/dav/", "http://user@host:8080/dav/"},
        {"http://host", "http://host"},
        {"ftp://host/!$&'()*+,;=:@~/", "ftp://host/!$&'()*+,;=:@~/"},
        {"", ""},
    };
    for (const auto& [typed, escaped] : cases) EXPECT_EQ(net::escapeTypedUrl(typed), escaped) << typed;
}

TEST(PercentEncoding, RoundTripsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(net::percentDecode(net::percentEncode(all)), all);
    EXPECT_EQ(net::percentDecode(net::percentEncode(all, "/")), all);
}

}  // namespace
