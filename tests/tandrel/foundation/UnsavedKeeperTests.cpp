// The keeper of unsaved text: its files (atomic, removed in the order asked, unreadable ones kept
// aside), the reading of a kept file, and the debounce that asks the page for its text.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <future>

#include <nlohmann/json.hpp>

#include "FoundationTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string state_with(const std::string& text, int64_t count) {
    return json{{"state_id", "00ff00ff00ff00ff"}, {"session_id", "L3BhZ2UuaHRtbA=="}, {"file_path", "/page.html"},
                {"value", text}, {"undo_count", count}}
        .dump();
}

VornKeptDocument document(const std::string& text, int64_t count = 3) {
    VornKeptDocument d;
    d.service_id = "ftp://dora@example.test";
    d.session_id = "L3BhZ2UuaHRtbA==";
    d.file_path = "/page.html";
    d.server_name = "example";
    d.saved_count = 1;
    d.state = state_with(text, count);
    return d;
}

class Keeper : public ::testing::Test {
protected:
    void SetUp() override {
        keeper_.folder = home_.data() / "Unsaved";
    }
    std::optional<VornError> keepNow(VornKeptDocument d) {
        std::promise<std::optional<VornError>> done;
        auto f = done.get_future();
        keeper_.keep(std::move(d), [&](std::optional<VornError> e) { done.set_value(e); });
        return f.get();
    }
    fs::path file() const { return *keeper_.file_for("ftp://dora@example.test", "L3BhZ2UuaHRtbA=="); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(*keeper_.folder, ec)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

    AppHome home_;
    CapturedLog log_;
    VornUnsavedTextKeeper keeper_;
};

}  // namespace

TEST_F(Keeper, KeepsTheStateInAPrivateFileAndReadsItBack) {
    const std::string text = "<p>caf\u00e9 \"quoted\"\n\ttabbed</p>";
    ASSERT_FALSE(keepNow(document(text, 7)));
    ASSERT_TRUE(fs::exists(file()));
    struct stat st {};
    ASSERT_EQ(::stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(names(), std::vector<std::string>{file().filename().string()}) << "a temporary file was left";

    const auto kept = keeper_.kept_documents();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].service_id, "ftp://dora@example.test");
    EXPECT_EQ(kept[0].session_id, "L3BhZ2UuaHRtbA==");
    EXPECT_EQ(kept[0].file_path, "/page.html");
    EXPECT_EQ(kept[0].server_name, "example");
    EXPECT_EQ(kept[0].saved_count, 1);
    EXPECT_EQ(kept[0].text(), text);
    EXPECT_EQ(kept[0].page_count(), 7);
    EXPECT_EQ(kept[0].file, file());
}

// The server's copy the text was edited from is kept with it when known; a kept file without
// one (and one of an older build) reads as not known.
TEST_F(Keeper, KeepsTheServerVersionTheTextWasEditedFromWhenKnown) {
    files::FileVersion version;
    version.modificationDate = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    version.size = 12;
    version.sha256 = std::string(64, 'a');
    version.etag = "\"abc\"";
    for (const files::FileVersion& v : {version, files::FileVersion{}}) {
        SCOPED_TRACE(v.empty() ? "not known" : "known");
        VornKeptDocument d = document("text");
        d.server_version = v;
        ASSERT_FALSE(keepNow(d));
        std::ifstream in(file(), std::ios::binary);
        const std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(stored.find("server_version") != std::string::npos, !v.empty()) << stored;
        const auto kept = keeper_.kept_documents();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].server_version, v);
    }
}

// The file's encoding is kept with the text when known (a restored Shift_JIS file is saved as
// Shift_JIS); a kept file without it (an older build's) reads as not known.
TEST_F(Keeper, KeepsTheTextFormatTheTextWasReadInWhenKnown) {
    textcodec::TextFormat sjis;
    sjis.encoding = "Shift_JIS";
    sjis.lineEnding = textcodec::TextFormat::LineEnding::crlf;
    for (const std::optional<textcodec::TextFormat>& f : {std::optional<textcodec::TextFormat>(sjis), std::optional<textcodec::TextFormat>()}) {
        SCOPED_TRACE(f ? "known" : "not known");
        VornKeptDocument d = document("text");
        d.text_format = f;
        ASSERT_FALSE(keepNow(d));
        const auto kept = keeper_.kept_documents();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].text_format, f);
    }
}

// The server's copy the text was edited from is kept with it, as text with its format and
// version, so that a save after a restart can merge; a kept file without one (an older build's,
// or one whose base has no text) reads as none.
TEST_F(Keeper, KeepsTheBaseTheTextWasEditedFromWhenKnown) {
    VornDocumentBase base;
    base.text = "\u65e5\u672c\r\nline\r\n";
    base.format.encoding = "Shift_JIS";
    base.format.lineEnding = textcodec::TextFormat::LineEnding::crlf;
    base.version.size = 12;
    base.version.sha256 = std::string(64, 'b');
    for (bool known : {true, false}) {
        SCOPED_TRACE(known ? "known" : "not known");
        VornKeptDocument d = document("text");
        if (known) d.base = std::make_shared<const VornDocumentBase>(base);
        ASSERT_FALSE(keepNow(d));
        const auto kept = keeper_.kept_documents();
        ASSERT_EQ(kept.size(), 1u);
        ASSERT_EQ(kept[0].base != nullptr, known);
        if (!known) continue;
        EXPECT_EQ(kept[0].base->text, base.text);
        EXPECT_EQ(kept[0].base->format, base.format);
        EXPECT_EQ(kept[0].base->version, base.version);
        // Its bytes are the server's: the text in its format.
        EXPECT_EQ(kept[0].base->bytes(), std::optional<std::string>("\x93\xfa\x96\x7b\r\nline\r\n"));
    }
    const std::string state = state_with("text", 2);
    auto without_text = VornUnsavedTextKeeper::decode(
        json{{"service_id", "s"}, {"session_id", "i"}, {"state", state}, {"base", {{"text_format", {{"encoding", "UTF-8"}}}}}}.dump());
    ASSERT_TRUE(without_text);
    EXPECT_EQ(without_text->base, nullptr);
}

TEST_F(Keeper, ANewerKeepReplacesTheFileWholeNeverInPlace) {
    ASSERT_FALSE(keepNow(document("first text")));
    // A reader holding the older copy open keeps reading it whole: the newer one is a new file
    // renamed over it, not a rewrite of the bytes the reader is on.
    std::ifstream older(file(), std::ios::binary);
    ASSERT_TRUE(older);
    ASSERT_FALSE(keepNow(document("second, longer text that would overwrite the first")));
    const std::string held((std::istreambuf_iterator<char>(older)), std::istreambuf_iterator<char>());
    auto decoded = VornUnsavedTextKeeper::decode(held);
    ASSERT_TRUE(decoded) << held;
    EXPECT_EQ(decoded->text(), "first text");
    EXPECT_EQ(keeper_.kept_documents().at(0).text(), "second, longer text that would overwrite the first");
}

TEST_F(Keeper, AForgetAskedAfterAKeepRemovesTheFile) {
    // Asked one after the other, without waiting: the removal runs after the write.
    keeper_.keep(document("typed"));
    std::promise<void> forgotten;
    keeper_.forget("ftp://dora@example.test", "L3BhZ2UuaHRtbA==", [&] { forgotten.set_value(); });
    forgotten.get_future().get();
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_TRUE(keeper_.kept_documents().empty());
    // Forgetting what is not kept is no error.
    std::promise<void> again;
    keeper_.forget("ftp://dora@example.test", "L3BhZ2UuaHRtbA==", [&] { again.set_value(); });
    again.get_future().get();
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(Keeper, EachDocumentHasAFileOfItsOwnEvenForLongIds) {
    auto other = document("other");
    other.session_id = std::string(600, 'Q');  // longer than a file name may be
    ASSERT_FALSE(keepNow(document("one")));
    ASSERT_FALSE(keepNow(other));
    EXPECT_EQ(keeper_.kept_documents().size(), 2u);
}

TEST_F(Keeper, AnUnreadableKeptFileIsKeptAsideAndReadOnce) {
    ASSERT_FALSE(keepNow(document("good")));
    fs::create_directories(*keeper_.folder);
    const std::string garbage = "{\"service_id\": \"s\", \"session_id\": ";  // cut short
    testsupport::writeFile(*keeper_.folder / "cut.json", garbage);
    // Not kept files of this store: temporary writes and copies kept aside earlier.
    testsupport::writeFile(*keeper_.folder / ".cut.json.tmp-1", "partial");
    testsupport::writeFile(*keeper_.folder / "older.json.bad-20260101T000000Z", "old");

    const auto kept = keeper_.kept_documents();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].text(), "good");
    EXPECT_TRUE(log_.contains("unreadable kept text"));
    EXPECT_FALSE(fs::exists(*keeper_.folder / "cut.json"));
    std::vector<fs::path> aside;
    for (const auto& e : fs::directory_iterator(*keeper_.folder)) {
        if (e.path().filename().string().rfind("cut.json.bad-", 0) == 0) aside.push_back(e.path());
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(testsupport::readFile(aside[0]), garbage);
    // The next launch reads the good one and trips on nothing.
    EXPECT_EQ(keeper_.kept_documents().size(), 1u);
}

TEST(KeptDocumentDecode, TakesWhatItKnowsAndNeedsTheIdsAndTheText) {
    struct Row {
        const char* name;
        json file;
        bool readable;
    };
    const std::string state = state_with("text", 2);
    const std::vector<Row> rows{
        {"whole", {{"service_id", "s"}, {"session_id", "i"}, {"file_path", "/a"}, {"server_name", "n"},
                   {"saved_count", 1}, {"state", state}}, true},
        {"only_ids_and_state", {{"service_id", "s"}, {"session_id", "i"}, {"state", state}}, true},
        {"unknown_keys", {{"service_id", "s"}, {"session_id", "i"}, {"state", state}, {"later", true}}, true},
        {"no_server", {{"session_id", "i"}, {"state", state}}, false},
        {"empty_server", {{"service_id", ""}, {"session_id", "i"}, {"state", state}}, false},
        {"no_session", {{"service_id", "s"}, {"state", state}}, false},
        {"state_not_text", {{"service_id", "s"}, {"session_id", "i"}, {"state", json::parse(state)}}, false},
        {"state_without_value", {{"service_id", "s"}, {"session_id", "i"}, {"state", "{\"undo_count\":2}"}}, false},
        {"state_not_json", {{"service_id", "s"}, {"session_id", "i"}, {"state", "{value"}}, false},
        {"not_an_object", json::array({"s", "i", state}), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto decoded = VornUnsavedTextKeeper::decode(row.file.dump());
        EXPECT_EQ(decoded.has_value(), row.readable);
        if (decoded) {
            EXPECT_EQ(decoded->text(), "text");
            EXPECT_EQ(decoded->saved_count, row.file.value("saved_count", 0));
        }
    }
    EXPECT_FALSE(VornUnsavedTextKeeper::decode("not json"));
    // What encode writes, decode reads.
    auto round = VornUnsavedTextKeeper::decode(VornUnsavedTextKeeper::encode(document("\u00e9\u20ac\xF0\x9F\x98\x80")));
    ASSERT_TRUE(round);
    EXPECT_EQ(round->text(), "\u00e9\u20ac\xF0\x9F\x98\x80");
}

// ---- the debounce ---------------------------------------------------------------------------------

namespace {

class Debounce : public ::testing::Test {
protected:
    void SetUp() override { dispatch::setMainThreadToCurrent(); }
    // Waits for a task scheduled `delay` from now on the main queue: what the debounce would have
    // run by then has run.
    void passTime(std::chrono::milliseconds delay) {
        bool passed = false;
        dispatch::after(dispatch::mainQueue(), delay, [&] { passed = true; });
        ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return passed; }, 10s));
    }
    static constexpr std::chrono::milliseconds kDelay{150};
};

}  // namespace

TEST_F(Debounce, ABurstOfChangesRunsOnceAfterTheDelayFromItsFirstChange) {
    int runs = 0;
    dispatch::Clock::time_point ran;
    VornKeepDebounce debounce(kDelay, [&] {
        ++runs;
        ran = dispatch::Clock::now();
    });
    const auto first = dispatch::Clock::now();
    for (int i = 0; i < 20; ++i) debounce.changed();
    EXPECT_TRUE(debounce.pending());
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return runs > 0; }, 10s));
    EXPECT_GE(ran - first, kDelay);
    EXPECT_FALSE(debounce.pending());
    passTime(3 * kDelay);
    EXPECT_EQ(runs, 1);

    // Changes that keep coming never hold the run back past the delay from the first of them.
    const auto second = dispatch::Clock::now();
    debounce.changed();
    while (runs == 1 && dispatch::Clock::now() - second < 10s) {
        debounce.changed();
        dispatch::drainMainQueue(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(runs, 2);
    EXPECT_LT(ran - second, 2 * kDelay + 1s);
}

TEST_F(Debounce, NothingRunsWithoutAChangeOrAfterACancelOrOnceItIsGone) {
    int runs = 0;
    {
        VornKeepDebounce idle(kDelay, [&] { ++runs; });
        passTime(2 * kDelay);
        EXPECT_FALSE(idle.pending());

        VornKeepDebounce cancelled(kDelay, [&] { ++runs; });
        cancelled.changed();
        cancelled.cancel();
        EXPECT_FALSE(cancelled.pending());

        auto gone = std::make_unique<VornKeepDebounce>(kDelay, [&] { ++runs; });
        gone->changed();
        gone.reset();
        passTime(3 * kDelay);
    }
    EXPECT_EQ(runs, 0);

}
