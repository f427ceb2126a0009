// The comparison of what a server tells of a file now with the version read: every fact both
// tell must agree; an ETag's weak marker does not count; a read that kept the bytes' hash of a
// small file is settled by the bytes.
#include <gtest/gtest.h>

#include "platform/files/VersionCheck.h"

using files::FileVersion;
using namespace files::detail;

namespace {

FileVersion version(std::string etag, std::string lastModified, std::int64_t size, std::string sha = {},
                    std::optional<int> seconds = std::nullopt) {
    FileVersion v;
    v.etag = std::move(etag);
    v.lastModified = std::move(lastModified);
    v.size = size;
    v.sha256 = std::move(sha);
    if (seconds) v.modificationDate = std::chrono::system_clock::time_point(std::chrono::seconds(*seconds));
    return v;
}

TEST(VersionCheck, FactsAgreeOnlyWhereBothTellTheSame) {
    struct Case {
        const char* what;
        FileVersion expected, now;
        bool agree;
    };
    const Case cases[] = {
        {"same ETag", version("\"a\"", "", 3), version("\"a\"", "", 3), true},
        {"weak and strong of one tag", version("W/\"a\"", "", 3), version("\"a\"", "", 3), true},
        {"other ETag", version("\"a\"", "", 3), version("\"b\"", "", 3), false},
        {"ETag told on one side only", version("", "", 3), version("\"b\"", "", 3), true},
        {"other date", version("", "Mon, 01 Jan 2024 00:00:00 GMT", 3), version("", "Mon, 01 Jan 2024 00:00:01 GMT", 3), false},
        {"other size", version("", "", 3), version("", "", 4), false},
        {"size not told now", version("", "", 3), version("", "", -1), true},
        {"other modification time", version("", "", 3, "", 10), version("", "", 3, "", 11), false},
        {"same modification time", version("", "", 3, "", 10), version("", "", 3, "", 10), true},
        {"other bytes", version("", "", 3, "aa", 10), version("", "", 3, "bb", 10), false},
        {"bytes not fetched now", version("", "", 3, "aa", 10), version("", "", 3, "", 10), true},
    };
    for (const Case& c : cases) EXPECT_EQ(factsAgree(c.expected, c.now), c.agree) << c.what;
}

// A small file read with its hash is settled by its bytes, whatever facts the server tells of
// them now; a file checked by its facts alone is changed by any of them.
TEST(VersionCheck, TheCheckOfASmallFileGoesByItsBytes) {
    FileVersion read;
    read.etag = "W/\"1-a\"";
    read.lastModified = "Mon, 01 Jan 2024 00:00:00 GMT";
    addContentFacts(read, "abc");
    FileVersion big = version("\"1-a\"", "Mon, 01 Jan 2024 00:00:00 GMT", static_cast<std::int64_t>(kHashedSizeLimit) + 1);
    struct Case {
        const char* what;
        FileVersion expected;
        std::string bytes;           // what the server holds now
        std::string etag, lastModified;  // and tells of it
        bool unchanged;
    };
    const Case cases[] = {
        {"same bytes, same facts", read, "abc", read.etag, read.lastModified, true},
        {"same bytes, dated by the answer", read, "abc", "W/\"1-b\"", "Mon, 01 Jan 2024 00:00:07 GMT", true},
        {"other bytes, same facts", read, "abd", read.etag, read.lastModified, false},
        {"no hash: another date", big, "", big.etag, "Mon, 01 Jan 2024 00:00:07 GMT", false},
        {"no hash: same facts", big, "", big.etag, big.lastModified, true},
    };
    for (const Case& c : cases) {
        auto tell = [&](FileVersion& now) {
            now.etag = c.etag;
            now.lastModified = c.lastModified;
        };
        auto facts = [&](FileVersion& now) -> std::optional<files::FileError> {
            tell(now);
            now.size = c.expected.size;
            return std::nullopt;
        };
        auto bytes = [&](std::size_t, FileVersion& now, std::optional<files::Bytes>& out) -> std::optional<files::FileError> {
            tell(now);
            out = c.bytes;
            return std::nullopt;
        };
        auto result = checkUnchanged(c.expected, facts, bytes);
        EXPECT_EQ(!result, c.unchanged) << c.what;
        if (result) EXPECT_EQ(result->kind, files::ErrorKind::changedOnServer) << c.what;
    }
}

TEST(VersionCheck, SmallFilesWithAHashAreComparedByTheirBytes) {
    EXPECT_TRUE(comparedByBytes(version("", "", 10, "aa")));
    EXPECT_TRUE(comparedByBytes(version("", "", -1, "aa")));
    EXPECT_TRUE(comparedByBytes(version("", "", static_cast<std::int64_t>(kHashedSizeLimit), "aa")));
    EXPECT_FALSE(comparedByBytes(version("", "", static_cast<std::int64_t>(kHashedSizeLimit) + 1, "aa")));
    EXPECT_FALSE(comparedByBytes(version("\"a\"", "", 10)));

    FileVersion small, big;
    addContentFacts(small, "abc");
    EXPECT_EQ(small.size, 3);
    EXPECT_EQ(small.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    addContentFacts(big, std::string(kHashedSizeLimit + 1, 'x'));
    EXPECT_TRUE(big.sha256.empty());
    EXPECT_EQ(opaqueTag("W/\"x\""), "\"x\"");
    EXPECT_FALSE(isStrongTag("W/\"x\""));
    EXPECT_TRUE(isStrongTag("\"x\""));
    EXPECT_FALSE(isStrongTag(""));
}

}  // namespace
