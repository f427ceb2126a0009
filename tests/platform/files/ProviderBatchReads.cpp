// Several files read in one call (FileProvider::contentsOfFiles), for each kind of server the
// tests run: every path answered once, with the bytes or the error a read of that file alone gives.
#include <fstream>
#include <map>
#include <random>

#include "ProviderTestSupport.h"

namespace filestest {

void readsSeveralFilesInOneCall(std::shared_ptr<files::FileProvider>& provider, const fs::path& disk,
                                const std::string& folder) {
    std::mt19937 random(7);
    auto bytesOf = [&](std::size_t n) {
        std::string b(n, '\0');
        for (auto& c : b) c = static_cast<char>(random());
        return b;
    };
    struct Case {
        std::string name;
        std::optional<std::string> bytes;        // a file with these bytes; nothing: no file
        std::optional<files::ErrorKind> error;  // what reading it gives (a folder: as contents says)
    };
    std::vector<Case> cases = {
        {"empty.txt", std::string(), std::nullopt},
        {"ten.txt", std::string("0123456789"), std::nullopt},
        {"hundred.bin", bytesOf(100 * 1024), std::nullopt},
        {"big.bin", bytesOf(1536 * 1024), std::nullopt},
        {"missing.css", std::nullopt, files::ErrorKind::notFound},
        {"folder.js", std::nullopt, std::nullopt},
        {"../escape.txt", std::nullopt, files::ErrorKind::invalidPath},
    };
    // More files than go in one flight of requests: the others go in the next.
    for (int i = 0; i < 40; ++i) cases.push_back({"more" + std::to_string(i) + ".css", "p" + std::to_string(i), std::nullopt});
    for (const Case& c : cases) {
        if (c.bytes) writeDiskFile(disk / c.name, *c.bytes);
    }
    makeDiskFolder(disk / "folder.js");
    // A folder named as a file: whatever this server's read of it alone says, but an error.
    auto [folderData, folderError] = Sync{*provider}.read(folder + "/folder.js");
    ASSERT_TRUE(folderError) << "a folder read as a file";

    struct Got {
        int calls = 0;
        std::optional<files::Bytes> data;
        std::optional<files::FileError> error;
        std::thread::id thread;
    };
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::map<std::string, Got> got;
        int calls = 0;
    };
    auto record = [](std::shared_ptr<State> state) {
        return [state](std::string path, std::optional<files::Bytes> data, std::optional<files::FileError> error) {
            std::lock_guard lock(state->mutex);
            Got& got = state->got[path];
            ++got.calls;
            got.data = std::move(data);
            got.error = std::move(error);
            got.thread = std::this_thread::get_id();
            ++state->calls;
            state->changed.notify_all();
        };
    };
    auto awaitCalls = [](State& state, int n) {
        std::unique_lock lock(state.mutex);
        return state.changed.wait_for(lock, 60s, [&] { return state.calls >= n; });
    };

    // Cancelled while a large (sparse) file is read: every path still answered once, that one cancelled.
    auto cancelled = std::make_shared<State>();
    {
        const fs::path huge = disk / "huge.bin";
        std::ofstream(huge, std::ios::binary).close();
        fs::resize_file(huge, 2ULL << 30);
        ::chmod(huge.c_str(), 0666);
        auto op = provider->contentsOfFiles({folder + "/huge.bin", folder + "/ten.txt"}, record(cancelled));
        std::this_thread::sleep_for(100ms);
        op->cancel();
        ASSERT_TRUE(awaitCalls(*cancelled, 2)) << cancelled->calls << " of 2 files answered";
        std::lock_guard lock(cancelled->mutex);
        const Got& got = cancelled->got[folder + "/huge.bin"];
        ASSERT_TRUE(got.error);
        EXPECT_EQ(got.error->kind, files::ErrorKind::cancelled) << describe(got.error);
        EXPECT_EQ(cancelled->got[folder + "/ten.txt"].calls, 1);  // read or cancelled, as it went
        fs::remove(huge);
    }

    auto state = std::make_shared<State>();
    std::vector<std::string> paths;
    for (const Case& c : cases) paths.push_back(folder + "/" + c.name);
    auto op = provider->contentsOfFiles(paths, record(state));
    ASSERT_TRUE(awaitCalls(*state, static_cast<int>(cases.size()))) << state->calls << " of " << cases.size() << " files answered";
    provider.reset();  // its workers are joined: no completion can come after this
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(cancelled->calls, 2);
    std::lock_guard lock(state->mutex);
    EXPECT_EQ(state->calls, static_cast<int>(cases.size()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Got& got = state->got[folder + "/" + c.name];
        EXPECT_EQ(got.calls, 1);
        EXPECT_NE(got.thread, std::this_thread::get_id()) << "completion ran on the calling thread";
        if (c.bytes) {
            ASSERT_FALSE(got.error) << describe(got.error);
            ASSERT_TRUE(got.data);
            EXPECT_EQ(got.data->size(), c.bytes->size());
            EXPECT_TRUE(*got.data == *c.bytes) << "the bytes differ";
        } else {
            ASSERT_TRUE(got.error);
            EXPECT_FALSE(got.data);
            EXPECT_EQ(got.error->kind, c.error ? *c.error : folderError->kind) << describe(got.error);
        }
    }
}

}  // namespace filestest
