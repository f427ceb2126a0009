// The header reading of the HTTP layer: status lines, fields, the last answer of a transfer.
#include <gtest/gtest.h>

#include "platform/net/HttpHeaders.h"

namespace {

using net::HeaderField;

struct StatusCase {
    const char* line;
    bool isStatus;
    const char* version;
    int code;
    const char* reason;
};

TEST(HttpHeaders, StatusLines) {
    const StatusCase cases[] = {
        {"HTTP/1.1 200 OK", true, "HTTP/1.1", 200, "OK"},
        {"HTTP/1.1 404 Not Found\r\n", true, "HTTP/1.1", 404, "Not Found"},
        {"HTTP/2 204", true, "HTTP/2", 204, ""},
        {"HTTP/1.0 100 Continue", true, "HTTP/1.0", 100, "Continue"},
        {"http/1.1 301 Moved", true, "http/1.1", 301, "Moved"},
        {"HTTP/1.1 20 Short", true, "HTTP/1.1", 0, ""},
        {"HTTP/1.1", true, "HTTP/1.1", 0, ""},
        {"Content-Type: text/plain", false, "", 0, ""},
        {"220 Welcome", false, "", 0, ""},
        {"", false, "", 0, ""},
    };
    for (const auto& c : cases) {
        auto status = net::parseStatusLine(c.line);
        ASSERT_EQ(status.has_value(), c.isStatus) << c.line;
        if (!status) continue;
        EXPECT_EQ(status->version, c.version) << c.line;
        EXPECT_EQ(status->code, c.code) << c.line;
        EXPECT_EQ(status->reason, c.reason) << c.line;
    }
}

struct FieldCase {
    const char* line;
    std::optional<HeaderField> field;
};

TEST(HttpHeaders, Fields) {
    const FieldCase cases[] = {
        {"Content-Type: text/html", HeaderField{"Content-Type", "text/html"}},
        {"content-length:12\r\n", HeaderField{"content-length", "12"}},
        {"X-Empty:", HeaderField{"X-Empty", ""}},
        {"X-Tabs:\t \tvalue with: colon ", HeaderField{"X-Tabs", "value with: colon "}},
        {"Location: http://host:8080/a", HeaderField{"Location", "http://host:8080/a"}},
        {" folded continuation: x", std::nullopt},
        {"\tfolded", std::nullopt},
        {"HTTP/1.1 200 OK", std::nullopt},
        {"no colon here", std::nullopt},
        {": no name", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(net::parseHeaderField(c.line), c.field) << c.line;
}

TEST(HttpHeaders, LastAnswerFieldsKeepDuplicatesInOrder) {
    const std::vector<std::string> lines = {
        "HTTP/1.1 100 Continue", "X-Interim: 1",
        "HTTP/1.1 200 OK",       "Set-Cookie: a=1",
        "set-cookie: b=2",       "Content-Type: text/plain",
        " continued",
    };
    const std::vector<HeaderField> expected = {
        {"Set-Cookie", "a=1"}, {"set-cookie", "b=2"}, {"Content-Type", "text/plain"}};
    EXPECT_EQ(net::lastResponseFields(lines), expected);
    EXPECT_TRUE(net::lastResponseFields({}).empty());
    EXPECT_TRUE(net::lastResponseFields({"HTTP/1.1 204 No Content"}).empty());
}

TEST(HttpHeaders, ValuesByNameIgnoreCaseOverEveryLine) {
    const std::vector<std::string> lines = {"HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Basic realm=\"a\"",
                                            "www-authenticate: Digest realm=\"b\"", "HTTP/1.1 200 OK",
                                            "Location: /x", "Locations: /y", "220 FTP ready"};
    EXPECT_EQ(net::fieldValues(lines, "WWW-AUTHENTICATE"),
              (std::vector<std::string>{"Basic realm=\"a\"", "Digest realm=\"b\""}));
    EXPECT_EQ(net::fieldValues(lines, "location"), std::vector<std::string>{"/x"});
    EXPECT_TRUE(net::fieldValues(lines, "ETag").empty());
}

TEST(HttpHeaders, CaseInsensitiveCompare) {
    EXPECT_TRUE(net::equalsIgnoringCase("Content-Type", "content-TYPE"));
    EXPECT_FALSE(net::equalsIgnoringCase("Content-Type", "Content-Typ"));
    EXPECT_TRUE(net::startsWithIgnoringCase("http/1.1 200", "HTTP/"));
    EXPECT_FALSE(net::startsWithIgnoringCase("HTT", "HTTP/"));
}

}  // namespace
