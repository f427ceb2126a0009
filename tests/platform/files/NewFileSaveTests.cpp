// New files (a create-new write, a copy) against the real FTP and SFTP servers: they go up as a
// temporary copy that takes the name by a rename that never replaces. Wherever the connection
// breaks, the name holds the whole file or nothing (no part of it, no temporary file once the
// next operation went through), the error says the name is as it was, and trying again makes
// the file. A file somebody else makes under the name while the copy goes up is kept, and the
// save says the name is taken.

#include <atomic>
#include <functional>

#include "ProviderTestSupport.h"
#include "platform/files/Save.h"

using namespace filestest;
using files::ErrorKind;
using files::WriteMode;
using files::detail::SaveMoment;

namespace {

class NewFileSave : public PeerFolderTest {
protected:
    void SetUp() override {
        PeerFolderTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        makeDiskFolder(disk_ / "from");
        writeDiskFile(disk_ / "from" / "page.html", text_);
    }
    void TearDown() override {
        files::detail::setSaveCutHook(nullptr);
        PeerFolderTest::TearDown();
    }

    // The two ways a new file is made, by their name.
    std::optional<files::FileError> make(bool copy) {
        Sync sync{*provider_};
        if (copy) return sync.copy(dir_ + "/from/page.html", dir_ + "/page.html");
        return sync.write(dir_ + "/page.html", text_, WriteMode::createNew);
    }
    // At `step` and `moment` of the save (once), `action`; the connection is cut there when it says so.
    void at(std::string step, SaveMoment moment, std::function<bool()> action) {
        fired_ = false;
        files::detail::setSaveCutHook([this, step = std::move(step), moment, action = std::move(action)](
                                          std::string_view now, SaveMoment when) {
            if (now != step || when != moment || fired_.exchange(true)) return false;
            return action();
        });
    }

    const std::string text_ = std::string(200000, 'n') + "end";
    std::atomic<bool> fired_{false};
};

TEST_P(NewFileSave, ACutAtAnyStepLeavesTheWholeFileOrNothingAndATryAgainMakesIt) {
    for (bool copy : {false, true}) {
        for (const char* step : {"writeCopy", "placeNew"}) {
            for (SaveMoment moment : {SaveMoment::before, SaveMoment::after}) {
                SCOPED_TRACE(std::string(copy ? "a copy" : "a new file") + ", cut " +
                             (moment == SaveMoment::before ? "before " : "after ") + step);
                fs::remove(disk_ / "page.html");
                at(step, moment, [] { return true; });
                auto error = make(copy);
                files::detail::setSaveCutHook(nullptr);
                ASSERT_TRUE(fired_) << "the save took no such step";
                if (error) {
                    EXPECT_TRUE(error->targetUnchanged) << describe(error);
                    EXPECT_FALSE(error->targetIncomplete);
                    EXPECT_FALSE(fs::exists(disk_ / "page.html")) << describe(error);
                } else {
                    EXPECT_EQ(readDiskFile(disk_ / "page.html"), text_);
                }
                // The next operation that reaches the server takes away what the cut left.
                ASSERT_FALSE(Sync{*provider_}.list(dir_).second);
                const std::set<std::string> made{"from", "page.html"};
                EXPECT_EQ(diskNames(), error ? std::set<std::string>{"from"} : made);
                if (error) {
                    auto again = make(copy);
                    ASSERT_FALSE(again) << describe(again);
                    EXPECT_EQ(readDiskFile(disk_ / "page.html"), text_);
                    EXPECT_EQ(diskNames(), made);
                }
            }
        }
    }
}

TEST_P(NewFileSave, AFileMadeUnderTheNameMeanwhileIsKept) {
    for (bool copy : {false, true}) {
        // Made before the temporary copy goes up, or right before it is to take the name.
        for (const char* step : {"writeCopy", "placeNew"}) {
            SCOPED_TRACE(std::string(copy ? "a copy" : "a new file") + ", made before " + step);
            fs::remove(disk_ / "page.html");
            at(step, SaveMoment::before, [&] {
                writeDiskFile(disk_ / "page.html", "theirs");
                return false;
            });
            auto error = make(copy);
            files::detail::setSaveCutHook(nullptr);
            ASSERT_TRUE(fired_);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
            EXPECT_TRUE(error->targetUnchanged);
            EXPECT_EQ(readDiskFile(disk_ / "page.html"), "theirs");
            EXPECT_EQ(diskNames(), (std::set<std::string>{"from", "page.html"}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, NewFileSave, ::testing::Values("pyftpd", "pureftpd", "proftpd", "vsftpd", "sshd"),
                         [](const auto& info) { return info.param; });

}  // namespace
