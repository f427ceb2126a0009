// Loading and saving the app's JSON stores at sizes a heavy user reaches: 1,000 saved servers,
// the editing sessions of 100 servers with 20 open files each, and one 5 MB session record.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/Jsonable.h"
#include "tandrel/foundation/VornSessionsManager.h"

namespace fs = std::filesystem;

namespace {
fs::path scratch(const std::string& name) {
    auto dir = fs::temp_directory_path() / ("dravix-bench-" + name + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir;
}

std::shared_ptr<VornServicesDataModel> manyServers(int count) {
    auto model = std::make_shared<VornServicesDataModel>();
    for (int i = 0; i < count; ++i) {
        auto s = std::make_shared<VornSingleServiceDataModel>();
        s->connection_type = i % 2 ? EnumManager::VornConnectionType::ftp : EnumManager::VornConnectionType::webDav;
        s->url = "ftp://server" + std::to_string(i) + ".example.test/public_html";
        s->username = "user" + std::to_string(i);
        s->nickname = "Server number " + std::to_string(i);
        if (i % 3 == 0) s->port = 2121;
        model->saved_services.push_back(s);
    }
    return model;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> sessionsOf(int server, int files) {
    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = "c2VydmVy" + std::to_string(server) + "/LXVzZXI=";
    for (int f = 0; f < files; ++f) {
        auto s = std::make_shared<VornACEFileSessionsDataModel>();
        s->file_path = "/public_html/pages/page" + std::to_string(f) + ".html";
        s->session_id = "L3B1YmxpY19odG1s" + std::to_string(f);
        s->mime_type = "text/html";
        s->ace_language = "html";
        s->undo_count = f;
        // A page's serialised session: the text (a few KB) plus its editor state.
        s->json = R"({"value":")" + std::string(3000, 'x') + R"(","file_path":")" + s->file_path + R"(","undo_count":3})";
        record->ace_file_sessions.push_back(s);
    }
    return record;
}
}  // namespace

static void BM_SaveServices1000(benchmark::State& state) {
    auto dir = scratch("services");
    VornServicesManager store;
    store.url = dir / "app_services.json";
    store.appServicesModel = manyServers(1000);
    for (auto _ : state) {
        bool ok = false;
        store.save_services([&](bool saved) { ok = saved; });
        if (!ok) state.SkipWithError("save failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_SaveServices1000)->Unit(benchmark::kMillisecond);

static void BM_LoadServices1000(benchmark::State& state) {
    auto dir = scratch("services");
    VornServicesManager writer;
    writer.url = dir / "app_services.json";
    writer.appServicesModel = manyServers(1000);
    writer.save_services(nullptr);
    for (auto _ : state) {
        VornServicesManager store;
        store.load_services(dir / "app_services.json");
        if (store.appServicesModel->saved_services.size() != 1000) state.SkipWithError("load failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_LoadServices1000)->Unit(benchmark::kMillisecond);

static void BM_SaveSessions100x20(benchmark::State& state) {
    auto dir = scratch("sessions");
    VornSessionsManager store;
    store.url = dir;
    std::vector<std::shared_ptr<VornAppMultipleSessionsDataModel>> records;
    for (int i = 0; i < 100; ++i) records.push_back(sessionsOf(i, 20));
    for (auto _ : state) {
        for (auto& r : records)
            if (store.save_service_session(*r)) state.SkipWithError("save failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_SaveSessions100x20)->Unit(benchmark::kMillisecond);

static void BM_LoadSessions100x20(benchmark::State& state) {
    auto dir = scratch("sessions");
    VornSessionsManager writer;
    writer.url = dir;
    for (int i = 0; i < 100; ++i) writer.save_service_session(*sessionsOf(i, 20));
    for (auto _ : state) {
        VornSessionsManager store;
        store.setup_sessions(dir);
        if (store.service_sessions.size() != 100) state.SkipWithError("load failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_LoadSessions100x20)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Keep the settings store and logs out of the user's home.
    auto home = scratch("home");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(home);
    return 0;
}

// A 5 MB file's session record: what the save path reads back ("value" and "file_path") before
// every upload, and what the sessions store writes after it.
namespace {
const std::string& fiveMegabyteSession() {
    static const std::string text = [] {
        std::mt19937 rng(5);
        const char* pieces[] = {"<div class=\"a\">", "hello ", "w\xC3\xB6rld ", "\n", "\t", "\\", "caf\xC3\xA9 ", "</div>"};
        std::string value;
        value.reserve(5u << 20);
        while (value.size() < (5u << 20)) value += pieces[rng() % 8];
        return OrderedJson{{"file_path", "/public_html/big.html"}, {"value", value}, {"undo_count", 3}}.dump();
    }();
    return text;
}
}  // namespace

namespace {
// The same reading through the JSON library's own SAX parser, kept here as the yardstick for the
// hand-written scanner: the app keeps the scanner only while it saves a 5 MB save tens of
// milliseconds (the save path reads a session's members twice).
using Json = nlohmann::json;
class SaxTopLevelStrings : public nlohmann::json_sax<Json> {
public:
    SaxTopLevelStrings(const std::vector<std::string_view>& keys, json_scan::Members& out) : keys_(keys), out_(out) {}

    bool null() override { return scalar(); }
    bool boolean(bool) override { return scalar(); }
    bool number_integer(number_integer_t) override { return scalar(); }
    bool number_unsigned(number_unsigned_t) override { return scalar(); }
    bool number_float(number_float_t, const string_t&) override { return scalar(); }
    bool binary(binary_t&) override { return scalar(); }

    bool string(string_t& value) override {
        if (depth_ == 1 && current_ >= 0) out_.strings[static_cast<size_t>(current_)] = std::move(value);
        return scalar();
    }

    bool start_object(std::size_t) override {
        if (depth_ == 0) top_is_object_ = true;
        ++depth_;
        current_ = -1;
        return true;
    }
    bool key(string_t& name) override {
        if (depth_ != 1) return true;
        current_ = -1;
        for (size_t k = 0; k < keys_.size(); ++k) {
            if (keys_[k] == name) {
                // A repeated key replaces what came before, as the parser's object keeps the last.
                out_.strings[k].reset();
                current_ = static_cast<int>(k);
                break;
            }
        }
        return true;
    }
    bool end_object() override {
        --depth_;
        current_ = -1;
        return true;
    }
    bool start_array(std::size_t) override {
        ++depth_;
        current_ = -1;
        return true;
    }
    bool end_array() override {
        --depth_;
        current_ = -1;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool top_is_object() const { return top_is_object_; }

private:
    bool scalar() {
        current_ = -1;
        return true;
    }

    const std::vector<std::string_view>& keys_;
    json_scan::Members& out_;
    int depth_ = 0;
    int current_ = -1;
    bool top_is_object_ = false;
};

json_scan::Members saxObjectStrings(std::string_view text, const std::vector<std::string_view>& keys) {
    json_scan::Members out;
    out.strings.assign(keys.size(), std::nullopt);
    SaxTopLevelStrings reader(keys, out);
    bool ok = false;
    try {
        ok = Json::sax_parse(text.begin(), text.end(), &reader);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok) {
        out.strings.assign(keys.size(), std::nullopt);
        out.shape = json_scan::Shape::invalid;
        return out;
    }
    if (!reader.top_is_object()) {
        out.strings.assign(keys.size(), std::nullopt);
        out.shape = json_scan::Shape::not_object;
        return out;
    }
    out.shape = json_scan::Shape::object;
    return out;
}

}  // namespace

static void BM_SessionMembers5MB(benchmark::State& state) {
    const auto& text = fiveMegabyteSession();
    for (auto _ : state) {
        auto members = json_scan::object_strings(text, {"value", "file_path"});
        benchmark::DoNotOptimize(members);
    }
}
BENCHMARK(BM_SessionMembers5MB)->Unit(benchmark::kMillisecond);

static void BM_SessionMembersSax5MB(benchmark::State& state) {
    const auto& text = fiveMegabyteSession();
    for (auto _ : state) {
        auto members = saxObjectStrings(text, {"value", "file_path"});
        benchmark::DoNotOptimize(members);
    }
}
BENCHMARK(BM_SessionMembersSax5MB)->Unit(benchmark::kMillisecond);

// The same text through a full parse into a document, for comparison.
static void BM_SessionParse5MB(benchmark::State& state) {
    const auto& text = fiveMegabyteSession();
    for (auto _ : state) {
        auto parsed = jsonable::parse(text);
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(BM_SessionParse5MB)->Unit(benchmark::kMillisecond);

static void BM_SessionWrite5MB(benchmark::State& state) {
    const auto parsed = jsonable::parse(fiveMegabyteSession());
    for (auto _ : state) {
        auto text = jsonable::toJsonString(*parsed);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(BM_SessionWrite5MB)->Unit(benchmark::kMillisecond);
