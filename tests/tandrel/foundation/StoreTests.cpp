#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <future>
#include <thread>

#include "FoundationTestSupport.h"
#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornLeftoverCopies.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
std::vector<fs::path> keptCopies(const fs::path& file) {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(file.parent_path()))
        if (e.path().filename().string().rfind(file.filename().string() + ".bad-", 0) == 0) out.push_back(e.path());
    return out;
}

std::shared_ptr<VornSingleServiceDataModel> server(const std::string& name) {
    auto s = std::make_shared<VornSingleServiceDataModel>();
    s->nickname = name;
    s->url = "ftp://" + name + ".test";
    s->connection_type = EnumManager::VornConnectionType::ftp;
    return s;
}

// A sessions store in a folder of its own, and the (unsaved) record of the server "server".
struct ServerSessions {
    AppHome home;
    fs::path folder = home.data() / "Sessions";
    VornSessionsManager store;
    std::shared_ptr<VornAppMultipleSessionsDataModel> record = std::make_shared<VornAppMultipleSessionsDataModel>();

    ServerSessions() {
        fs::create_directories(folder);
        store.url = folder;
        record->service_id = "server";
    }
};

// Waits (pumping the main queue) for a value delivered on another queue.
template <class T>
T await(std::future<T>& f) {
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return f.wait_for(0ms) == std::future_status::ready; }, 5s));
    return f.get();
}
}  // namespace

TEST(ServicesStore, ACorruptFileGivesAnEmptyListALogLineAndAKeptCopy) {
    AppHome home;
    CapturedLog log;
    const auto file = home.data() / "app_services.json";
    const std::string corrupt = R"({"saved_services":[{"id":"1","url":"ftp://a","username":"u"}]})";  // no nickname...
    testsupport::writeFile(file, corrupt);

    auto& store = app_services_manager();
    store.appServicesModel = std::make_shared<VornServicesDataModel>();
    store.load_services(file);
    EXPECT_TRUE(store.appServicesModel->saved_services.empty());
    EXPECT_TRUE(log.contains("appServices deserialize error: "));
    auto copies = keptCopies(file);
    ASSERT_EQ(copies.size(), 1u);

    // A later save writes the file but never the kept copy.
    std::promise<std::optional<std::string>> added;
    auto f = added.get_future();
    store.appServicesModel->add_service(server("one"), [&](auto id) { added.set_value(id); });
    EXPECT_TRUE(await(f).has_value());
    EXPECT_EQ(testsupport::readFile(copies[0]), corrupt);
    EXPECT_NE(testsupport::readFile(file).find("\"one\""), std::string::npos);
}

TEST(ServicesStore, LenientAboutAbsenceStrictAboutContent) {
    AppHome home;
    CapturedLog log;
    VornServicesManager store;
    store.load_services(std::nullopt);
    store.load_services(home.data() / "missing.json");
    testsupport::writeFile(home.data() / "empty.json", "");
    store.load_services(home.data() / "empty.json");
    EXPECT_TRUE(log.lines().empty());

    testsupport::writeFile(home.data() / "ok.json",
                           R"({"saved_services":[{"id":"A","connection_type":{"webDav":{}},"url":"webdav://h","username":"u",)"
                           R"("nickname":"n","created_date":1,"last_connected":2,"unknown":true}]})");
    store.load_services(home.data() / "ok.json");
    ASSERT_EQ(store.appServicesModel->saved_services.size(), 1u);
    EXPECT_FALSE(store.appServicesModel->saved_services[0]->port);
    // A re-read of a broken file keeps the last good model.
    testsupport::writeFile(home.data() / "ok.json", "{");
    store.deserialize_services();
    EXPECT_EQ(store.appServicesModel->saved_services.size(), 1u);
}

TEST(ServicesStore, SavesLandInRequestOrderFromSnapshotsOnTheStoreQueue) {
    AppHome home;
    CapturedLog log;
    auto& store = app_services_manager();
    const auto file = home.data() / "app_services.json";
    store.url = file;
    store.appServicesModel = std::make_shared<VornServicesDataModel>();

    std::vector<size_t> written;
    std::atomic<int> onQueue{0};
    std::promise<void> done;
    for (int i = 0; i < 5; ++i) {
        store.appServicesModel->saved_services.push_back(server("s" + std::to_string(i)));
        store.request_save_services([&, i](bool ok) {
            EXPECT_TRUE(ok);
            if (store.save_queue.isCurrent()) ++onQueue;
            // What is on disk now is the snapshot of request i.
            auto model = VornServicesDataModel::from_json(OrderedJson::parse(testsupport::readFile(file)));
            written.push_back(model->saved_services.size());
            if (i == 4) done.set_value();
        });
    }
    // Changed after the last request: not part of any save.
    store.appServicesModel->saved_services.clear();
    auto f = done.get_future();
    await(f);
    EXPECT_EQ(written, (std::vector<size_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(onQueue, 5);
}

TEST(ServicesStore, AddUpdateAndAMissingUrl) {
    AppHome home;
    CapturedLog log;
    auto& store = app_services_manager();
    store.url = home.data() / "app_services.json";
    store.appServicesModel = std::make_shared<VornServicesDataModel>();
    auto a = server("a"), b = server("b"), c = server("c");
    store.appServicesModel->saved_services = {a, b, c};
    auto edited = server("a2");
    edited->id = a->id;
    std::promise<bool> updated;
    store.appServicesModel->update_service(a->id, edited, [&](bool ok) { updated.set_value(ok); });
    auto f = updated.get_future();
    EXPECT_TRUE(await(f));
    std::vector<std::string> names;
    for (auto& s : store.appServicesModel->saved_services) names.push_back(s->nickname);
    EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "a2"}));

    store.url.reset();
    std::promise<bool> saved;
    store.request_save_services([&](bool ok) { saved.set_value(ok); });
    auto g = saved.get_future();
    EXPECT_FALSE(await(g));
    EXPECT_TRUE(log.contains("appServices settings_serialize_error: url_missing"));
}

TEST(SessionsStore, IdsWithSlashesSurviveSaveAndReload) {
    AppHome home;
    CapturedLog log;
    const auto folder = home.data() / "Sessions";
    fs::create_directories(folder);
    VornSessionsManager store;
    store.url = folder;
    // Base64 of "ftp://host/-ana" style ids carries "/" and "+"; a plain UUID carries neither.
    const std::vector<std::string> ids = {"ZnRwOi8vaG9zdC8/LWFuYQ==/x+y", "100%/sure", "3F2504E0-4F89-41D3-9A0C-0305E82C3301"};
    for (const auto& id : ids) {
        auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
        record->service_id = id;
        auto file = std::make_shared<VornACEFileSessionsDataModel>();
        file->session_id = "L2EuaHRtbA==";
        file->json = R"({"value":"x"})";
        record->ace_file_sessions = {file};
        std::promise<std::optional<VornError>> done;
        store.request_save_sessions(record, [&](auto e) { done.set_value(e); });
        EXPECT_FALSE(done.get_future().get());
    }
    EXPECT_TRUE(fs::exists(folder / "3F2504E0-4F89-41D3-9A0C-0305E82C3301" / "session.json"));
    // Sessions hold the text of remote files: owner only.
    struct stat st {};
    ASSERT_EQ(::stat((folder / "3F2504E0-4F89-41D3-9A0C-0305E82C3301").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((folder / "3F2504E0-4F89-41D3-9A0C-0305E82C3301" / "session.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(fs::exists(folder / "100%25%2Fsure" / "session.json"));

    VornSessionsManager reloaded;
    reloaded.setup_sessions(folder);
    ASSERT_EQ(reloaded.service_sessions.size(), ids.size());
    for (const auto& id : ids) {
        ASSERT_TRUE(reloaded.service_sessions.count(id)) << id;
        EXPECT_EQ(reloaded.service_sessions[id]->service_id, id);
        EXPECT_EQ(reloaded.service_sessions[id]->ace_file_sessions.at(0)->json, R"({"value":"x"})");
    }
}

TEST(SessionsStore, SavingAPageStateStoresItInTheSessionAndTheFileAndKeepsTheOtherSessions) {
    ServerSessions sessions;
    auto& [home, folder, store, record] = sessions;
    auto make = [](const std::string& id, const std::string& state) {
        auto s = std::make_shared<VornACEFileSessionsDataModel>();
        s->session_id = id;
        s->json = state;
        return s;
    };
    auto first = make("a", R"({"value":"first"})");
    auto edited = make("b", R"({"value":"old"})");
    auto stray = make("c", R"({"value":"stray"})");  // not one of the record's sessions
    record->ace_file_sessions = {first, edited};
    const std::string state = R"({"value":")" + std::string(300000, 'x') + R"("})";

    struct Row {
        std::shared_ptr<VornACEFileSessionsDataModel> session;
        std::string expected_b;  // the state of "b" in the file afterwards
    };
    for (const Row& row : {Row{edited, state}, Row{stray, state}}) {
        std::promise<std::optional<VornError>> done;
        store.request_save_sessions(record, row.session, state, [&](auto e) { done.set_value(e); });
        // The session holds its copy at once, whatever the write is doing.
        EXPECT_EQ(row.session->json, state);
        EXPECT_FALSE(done.get_future().get());
        VornSessionsManager reloaded;
        reloaded.setup_sessions(folder);
        const auto& saved = reloaded.service_sessions.at("server")->ace_file_sessions;
        ASSERT_EQ(saved.size(), 2u);
        EXPECT_EQ(saved[0]->json, R"({"value":"first"})");
        EXPECT_EQ(saved[1]->json, row.expected_b);
    }
    EXPECT_EQ(first->json, R"({"value":"first"})");
}

// What a provider remembers of a broken save's copy goes into the session of the file it saved
// and the sessions file; a set made after a restart holds it, and a removal clears it again.
TEST(SessionsStore, LeftoverCopiesAreKeptWithTheSessionOfTheirFile) {
    ServerSessions sessions;
    auto& [home, folder, store, record] = sessions;
    for (const std::string path : {"/www/page.php", "/www/other.html"}) {
        auto s = std::make_shared<VornACEFileSessionsDataModel>();
        s->session_id = path;
        s->file_path = path;
        record->ace_file_sessions.push_back(s);
    }
    store.service_sessions["server"] = record;
    auto onDisk = [&] {
        VornSessionsManager reloaded;
        reloaded.setup_sessions(folder);
        auto it = reloaded.service_sessions.find("server");
        std::vector<std::vector<std::string>> kept;
        if (it != reloaded.service_sessions.end())
            for (const auto& s : it->second->ace_file_sessions) kept.push_back(s->leftover_copies);
        return kept;
    };
    using Kept = std::vector<std::vector<std::string>>;
    const std::string copy = "/var/www/.page.dravix-1a2b3c4d.php";

    VornLeftoverCopies leftovers("server", store);
    EXPECT_TRUE(leftovers.copies().empty());
    // Told on a provider's worker thread.
    std::thread([&] { leftovers.remember("/www//page.php", copy); }).join();
    EXPECT_EQ(leftovers.copies(), std::vector<std::string>{copy});
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return onDisk() == Kept{{copy}, {}}; }, 5s));
    EXPECT_EQ(record->ace_file_sessions[0]->leftover_copies, std::vector<std::string>{copy});

    VornSessionsManager restarted;
    restarted.setup_sessions(folder);
    VornLeftoverCopies again("server", restarted);
    EXPECT_EQ(again.copies(), std::vector<std::string>{copy});
    std::thread([&] { again.forget(copy); }).join();
    EXPECT_TRUE(again.copies().empty());
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return onDisk() == Kept{{}, {}}; }, 5s));
    EXPECT_TRUE(restarted.service_sessions.at("server")->ace_file_sessions[0]->leftover_copies.empty());
}

TEST(SessionsStore, LoadingTakesFolderNamesSkipsStrayEntriesAndIsolatesBadFiles) {
    AppHome home;
    CapturedLog log;
    const auto folder = home.data() / "Sessions";
    const std::string good = R"({"service_id":"other","ace_file_sessions":[{"session_id":"s","file_path":"/a","mime_type":"text/plain","json":"{}","ace_language":"text","undo_count":3,"opened":12.5}]})";
    const std::string bad = R"({"service_id":"b","ace_file_sessions":[{"session_id":"s","file_path":"/a","mime_type":"text/plain","json":"{}","undo_count":3,"opened":12.5}]})";
    testsupport::writeFile(folder / "A" / "session.json", good);
    testsupport::writeFile(folder / "B" / "session.json", bad);
    testsupport::writeFile(folder / ".hidden" / "session.json", good);
    testsupport::writeFile(folder / "plain-file", good);
    fs::create_directories(folder / "C");  // no file

    VornSessionsManager store;
    store.setup_sessions(folder);
    ASSERT_EQ(store.service_sessions.size(), 1u);
    EXPECT_EQ(store.service_sessions["A"]->service_id, "A");
    EXPECT_EQ(store.service_sessions["A"]->ace_file_sessions[0]->undo_count, 3);
    EXPECT_EQ(store.service_sessions["A"]->ace_file_sessions[0]->opened.sinceReferenceDate, 12.5);
    EXPECT_TRUE(log.contains("cannot session file://" + (folder / "B").string() + " "));
    EXPECT_TRUE(log.contains("cannot session file://" + (folder / "C").string() + " "));
    EXPECT_EQ(keptCopies(folder / "B" / "session.json").size(), 1u);

    // new_service_session replaces an entry and its file with an empty record.
    store.new_service_session("A");
    store.save_queue.sync([] {});
    auto reread = VornAppMultipleSessionsDataModel::from_json(OrderedJson::parse(testsupport::readFile(folder / "A" / "session.json")));
    EXPECT_TRUE(reread->ace_file_sessions.empty());

    VornSessionsManager noUrl;
    std::promise<std::optional<VornError>> done;
    noUrl.request_save_sessions(store.service_sessions["A"], [&](auto e) { done.set_value(e); });
    auto err = done.get_future().get();
    ASSERT_TRUE(err);
    EXPECT_TRUE(EnumManager::is_error(*err, EnumManager::vorn_error_throws::no_url));
    // A missing sessions folder logs and leaves the map empty.
    VornSessionsManager missing;
    missing.setup_sessions(home.data() / "nope");
    EXPECT_TRUE(missing.service_sessions.empty());
    EXPECT_TRUE(log.contains("load_sessions "));
}

TEST(EditorPreferencesStore, DefaultsFailuresAndRoundTrip) {
    AppHome home;
    CapturedLog log;
    const auto file = home.data() / "editor_preferences.json";
    VornEditorPreferencesManager store;
    EXPECT_EQ(*store.theModel, VornEditorPreferencesDataModel());
    EXPECT_EQ(store.theModel->theme_id, EnumManager::ace_editor_theme::xcode);

    testsupport::writeFile(file, "");
    store.load_editor_preferences(file);
    EXPECT_TRUE(log.lines().empty());

    auto defaultsJson = OrderedJson::parse(VornEditorPreferencesManager::default_editor_preferences_json());
    EXPECT_EQ(*VornEditorPreferencesDataModel::from_json(defaultsJson), VornEditorPreferencesDataModel());

    for (int theme : {0, 40}) {
        auto j = defaultsJson;
        j["theme_id"] = theme;
        testsupport::writeFile(file, j.dump());
        store.deserialize_editor_preferences();
        EXPECT_EQ(*store.theModel, VornEditorPreferencesDataModel()) << theme;
    }
    EXPECT_EQ(log.lines().size(), 4u);  // each failure: the error and the kept copy

    store.theModel->invisibles_visible = true;
    store.theModel->soft_wrap = EnumManager::soft_wrap::off_sw;
    std::promise<bool> saved;
    store.request_save_editor_preferences([&](bool ok) { saved.set_value(ok); });
    store.theModel->invisibles_visible = false;  // after the request: not in that save
    EXPECT_TRUE(saved.get_future().get());
    VornEditorPreferencesManager again;
    again.load_editor_preferences(file);
    EXPECT_TRUE(again.theModel->invisibles_visible);
    EXPECT_EQ(again.theModel->soft_wrap, EnumManager::soft_wrap::off_sw);

    VornEditorPreferencesManager noUrl;
    std::promise<bool> failed;
    noUrl.request_save_editor_preferences([&](bool ok) { failed.set_value(ok); });
    EXPECT_FALSE(failed.get_future().get());
    EXPECT_TRUE(log.contains("theModel EditorPref settings_serialize_error: "));
}
