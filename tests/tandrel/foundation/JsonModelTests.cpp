#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/ForkedNext.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/Jsonable.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornCurrentServiceStateInfo.h"
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

namespace {
std::vector<std::string> keysOf(const OrderedJson& j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}
OrderedJson parsed(const Jsonable& record) {
    auto text = record.toJsonString();
    EXPECT_TRUE(text.ok());
    return OrderedJson::parse(*text);
}
using Keys = std::vector<std::string>;
}  // namespace

// Every record round-trips through its own JSON text with the field names as keys.
TEST(JsonModels, EveryRecordRoundTripsWithItsFieldNames) {
    auto server = std::make_shared<VornSingleServiceDataModel>();
    server->connection_type = EnumManager::VornConnectionType::webDav;
    server->url = "webdav://example.test/dav";
    server->username = "ana";
    server->port = 8080;
    server->nickname = "Shop";
    server->created_date = Date{100.5};
    VornServicesDataModel services;
    services.saved_services = {server};

    auto file = std::make_shared<VornACEFileSessionsDataModel>();
    file->session_id = "L2luZGV4Lmh0bWw=";
    file->file_path = "/index.html";
    file->mime_type = "text/html";
    file->json = R"({"value":"<p>\"hi\"</p>"})";
    file->ace_language = "html";
    file->undo_count = 7;
    VornAppMultipleSessionsDataModel sessions;
    sessions.service_id = "abc";
    sessions.ace_file_sessions = {file};

    VornEditorPreferencesDataModel prefs;
    prefs.theme_id = EnumManager::ace_editor_theme::matrix;
    prefs.soft_wrap = EnumManager::soft_wrap::custom;
    prefs.soft_wrap_custom_value = 120;

    auto entry = VornServerFileDataModel::up_one_level();
    entry->modifiedDate = Date{86400};
    VornServerFilesDataModel listing;
    listing.fileSections = std::vector{entry};

    VornCurrentServiceStateInfo state;
    state.current_dir = "/www";
    state.connected = true;
    VornCurrentEditorStateInfo editor;
    editor.file_bucket_id = "L2E=";
    editor.preview_supported = true;

    struct Case {
        const Jsonable* record;
        Keys keys;
        std::function<std::string(const OrderedJson&)> reencode;
    };
    const std::vector<Case> cases = {
        {&services, {"saved_services"}, [](auto& j) { return *VornServicesDataModel::from_json(j)->toJsonString(); }},
        {server.get(), {"id", "connection_type", "url", "username", "port", "nickname", "created_date", "last_connected"},
         [](auto& j) { return *VornSingleServiceDataModel::from_json(j)->toJsonString(); }},
        {&sessions, {"service_id", "ace_file_sessions"},
         [](auto& j) { return *VornAppMultipleSessionsDataModel::from_json(j)->toJsonString(); }},
        {file.get(), {"session_id", "file_path", "mime_type", "json", "ace_language", "undo_count", "opened"},
         [](auto& j) { return *VornACEFileSessionsDataModel::from_json(j)->toJsonString(); }},
        {&prefs, {"gutter_visible", "auto_suggest_enabled", "invisibles_visible", "theme_id", "soft_wrap", "soft_wrap_custom_value"},
         [](auto& j) { return *VornEditorPreferencesDataModel::from_json(j)->toJsonString(); }},
        {&listing, {"id", "fileSections"}, [](auto& j) { return *VornServerFilesDataModel::from_json(j)->toJsonString(); }},
        {entry.get(), {"path", "name", "kind", "size", "modifiedDate", "special_assignment"},
         [](auto& j) { return *VornServerFileDataModel::from_json(j)->toJsonString(); }},
        {&state, {"static_window_file_id", "current_dir", "connected"},
         [](auto& j) { return *VornCurrentServiceStateInfo::from_json(j)->toJsonString(); }},
        {&editor, {"file_bucket_id", "has_changes", "preview_supported"},
         [](auto& j) { return *VornCurrentEditorStateInfo::from_json(j)->toJsonString(); }},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        auto j = parsed(*cases[i].record);
        EXPECT_EQ(keysOf(j), cases[i].keys) << "case " << i;
        EXPECT_EQ(cases[i].reencode(j), *cases[i].record->toJsonString()) << "case " << i;
        EXPECT_EQ(cases[i].record->description(), *cases[i].record->toJsonString());
    }
    // Values as written.
    auto s = parsed(*server);
    EXPECT_EQ(s["connection_type"], OrderedJson::parse(R"({"webDav":{}})"));
    EXPECT_EQ(s["created_date"], 100.5);
    EXPECT_EQ(parsed(prefs)["theme_id"], 22);
    auto e = parsed(*entry);
    EXPECT_EQ(e["kind"], "NSFileTypeDirectory");
    EXPECT_EQ(e["special_assignment"], 1);
    EXPECT_EQ(e["modifiedDate"], 86400);
    EXPECT_EQ(e["name"], "[UP ONE LEVEL] ..");
}

TEST(JsonModels, OptionalFieldsAndDatesAsWritten) {
    VornSingleServiceDataModel server;
    server.created_date = Date{0};
    server.last_connected = Date{86400};
    auto j = parsed(server);
    EXPECT_FALSE(j.contains("port"));
    EXPECT_EQ(j["created_date"], 0);
    EXPECT_EQ(j["last_connected"], 86400);
    EXPECT_EQ(server.id.size(), 36u);
    for (char c : server.id) EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F'));

    VornServerFileDataModel only_name;
    only_name.name = "a.txt";
    EXPECT_EQ(keysOf(parsed(only_name)), Keys{"name"});

    auto listing = VornServerFilesDataModel::from_json(OrderedJson::parse(R"({"id":"X"})"));
    EXPECT_EQ(listing->id, "X");
    EXPECT_FALSE(listing->fileSections);
    EXPECT_FALSE(listing->fileCount);

    VornCurrentServiceStateInfo a, b;
    EXPECT_NE(a.static_window_file_id, b.static_window_file_id);
    EXPECT_EQ(keysOf(parsed(a)), (Keys{"static_window_file_id", "connected"}));
}

// The temporary copies a broken save left are kept with the file's session, under a key written
// only when there are any: a sessions file without it (an older build's) reads as none.
TEST(JsonModels, LeftoverCopiesOfASessionAreOptional) {
    VornACEFileSessionsDataModel session;
    session.file_path = "/www/page.php";
    EXPECT_FALSE(parsed(session).contains("leftover_copies"));
    session.leftover_copies = {"/www/.page.dravix-1a2b3c4d.php", "/www/page.dravix-5e6f7a8b.php"};
    auto j = parsed(session);
    ASSERT_TRUE(j.contains("leftover_copies"));
    EXPECT_EQ(VornACEFileSessionsDataModel::from_json(j)->leftover_copies, session.leftover_copies);

    const std::string older =
        R"({"session_id":"","file_path":"/a","mime_type":"","json":"","ace_language":"","undo_count":0,"opened":0)";
    EXPECT_TRUE(VornACEFileSessionsDataModel::from_json(OrderedJson::parse(older + "}"))->leftover_copies.empty());
    // What is no text is skipped, not taken for a name.
    EXPECT_EQ(VornACEFileSessionsDataModel::from_json(OrderedJson::parse(older + R"(,"leftover_copies":["/a.x",3,null]})"))
                  ->leftover_copies,
              std::vector<std::string>{"/a.x"});
    EXPECT_TRUE(VornACEFileSessionsDataModel::from_json(OrderedJson::parse(older + R"(,"leftover_copies":"/a.x"})"))
                    ->leftover_copies.empty());
}

TEST(JsonModels, TheDeletedMarkOfASessionIsWrittenOnlyWhenSetAndOptionalToRead) {
    const char* older = R"({"session_id":"s","file_path":"/a.css","mime_type":"text/css","json":"{}",)"
                        R"("ace_language":"css","undo_count":0,"opened":0})";
    struct Row {
        std::string text;
        bool mark;
    };
    const Row rows[] = {
        {older, false},  // a file written before the mark existed
        {std::string(older).insert(1, R"("removed_from_server":true,)"), true},
        {std::string(older).insert(1, R"("removed_from_server":false,)"), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        auto session = VornACEFileSessionsDataModel::from_json(OrderedJson::parse(row.text));
        EXPECT_EQ(session->removed_from_server, row.mark);
        const auto written = parsed(*session);
        EXPECT_EQ(written.contains("removed_from_server"), row.mark);
        EXPECT_EQ(VornACEFileSessionsDataModel::from_json(written)->removed_from_server, row.mark);
    }
}

TEST(JsonModels, RequiringEncryptionIsAnOptionalFieldWrittenOnlyWhenSet) {
    struct Field {
        const char* key;
        bool VornSingleServiceDataModel::*member;
    };
    for (const Field& field : {Field{"require_encryption", &VornSingleServiceDataModel::require_encryption},
                               Field{"tls_seen", &VornSingleServiceDataModel::tls_seen}}) {
        SCOPED_TRACE(field.key);
        VornSingleServiceDataModel server;
        server.connection_type = EnumManager::VornConnectionType::ftp;
        EXPECT_FALSE(parsed(server).contains(field.key)) << "a file without it reads as before";
        server.*field.member = true;
        auto j = parsed(server);
        EXPECT_EQ(j[field.key], true);
        EXPECT_TRUE(VornSingleServiceDataModel::from_json(j).get()->*field.member);
        // A record written before the field existed, and one that names it null.
        j.erase(field.key);
        EXPECT_FALSE(VornSingleServiceDataModel::from_json(j).get()->*field.member);
        j[field.key] = nullptr;
        EXPECT_FALSE(VornSingleServiceDataModel::from_json(j).get()->*field.member);
        j[field.key] = "yes";
        EXPECT_THROW(VornSingleServiceDataModel::from_json(j), DecodingError);
    }
}

TEST(JsonModels, TheWebRootAndSiteUrlAreOptionalFieldsWrittenOnlyWhenSet) {
    for (const char* key : {"web_root", "site_url"}) {
        VornSingleServiceDataModel server;
        auto field = std::string(key) == "web_root" ? &VornSingleServiceDataModel::web_root
                                                    : &VornSingleServiceDataModel::site_url;
        EXPECT_FALSE(parsed(server).contains(key)) << "a file without it reads as before";
        server.*field = "/var/www";
        auto j = parsed(server);
        EXPECT_EQ(j[key], "/var/www");
        EXPECT_EQ(VornSingleServiceDataModel::from_json(j).get()->*field, "/var/www");
        j.erase(key);
        EXPECT_FALSE(VornSingleServiceDataModel::from_json(j).get()->*field);
        j[key] = nullptr;
        EXPECT_FALSE(VornSingleServiceDataModel::from_json(j).get()->*field);
        j[key] = 3;
        EXPECT_THROW(VornSingleServiceDataModel::from_json(j), DecodingError) << key;
    }
}

TEST(JsonModels, WhatCannotBeEncodedIsAnErrorNotText) {
    VornServerFilesDataModel listing;
    listing.filePacketSize = std::nanf("");
    EXPECT_FALSE(listing.toJsonString().ok());
    EXPECT_EQ(listing.description(), "not convertible");

    VornSingleServiceDataModel server;
    server.nickname = std::string("bad \xff\xfe bytes");
    auto text = server.toJsonString();
    ASSERT_FALSE(text.ok());
    EXPECT_EQ(text.error().domain, "EncodingError");
}

TEST(JsonModels, DecodingIsStrictWhereTheRecordsSaySo) {
    struct Case {
        const char* what;
        std::function<void()> decode;
        bool ok;
    };
    auto server = [](const char* text) { return [text] { VornSingleServiceDataModel::from_json(OrderedJson::parse(text)); }; };
    const std::string base = R"("id":"1","connection_type":{"ftp":{}},"url":"u","username":"n","created_date":0,"last_connected":1)";
    const std::string noNick = "{" + base + "}";
    const std::string full = "{" + base + R"(,"nickname":"x","port":null})";
    const std::string prefsNoWidth = R"({"gutter_visible":true,"auto_suggest_enabled":true,"invisibles_visible":false,"theme_id":12,"soft_wrap":2})";
    const std::string prefsTheme40 = R"({"gutter_visible":true,"auto_suggest_enabled":true,"invisibles_visible":false,"theme_id":40,"soft_wrap":2,"soft_wrap_custom_value":80})";
    const std::vector<Case> cases = {
        {"server without nickname", server(noNick.c_str()), false},
        {"server with null port", server(full.c_str()), true},
        {"file session without ace_language",
         [] { VornACEFileSessionsDataModel::from_json(OrderedJson::parse(R"({"session_id":"","file_path":"","mime_type":"","json":"","undo_count":0,"opened":0})")); }, false},
        {"prefs without soft_wrap_custom_value", [&] { VornEditorPreferencesDataModel::from_json(OrderedJson::parse(prefsNoWidth)); }, false},
        {"prefs with theme 40", [&] { VornEditorPreferencesDataModel::from_json(OrderedJson::parse(prefsTheme40)); }, false},
        {"editor state with only has_changes", [] { VornCurrentEditorStateInfo::from_json(OrderedJson::parse(R"({"has_changes":true,"preview_supported":false})")); }, true},
        {"editor state without has_changes", [] { VornCurrentEditorStateInfo::from_json(OrderedJson::parse(R"({"file_path":"a"})")); }, false},
        {"service state without window id", [] { VornCurrentServiceStateInfo::from_json(OrderedJson::parse(R"({"connected":false})")); }, false},
    };
    for (const auto& c : cases) {
        bool ok = true;
        try {
            c.decode();
        } catch (const DecodingError&) {
            ok = false;
        }
        EXPECT_EQ(ok, c.ok) << c.what;
    }
}

TEST(EnumManagerTable, ConnectionTypeShapes) {
    struct Case {
        const char* json;
        std::optional<EnumManager::VornConnectionType> expected;
        bool keyCountError;
    };
    using T = EnumManager::VornConnectionType;
    const std::vector<Case> cases = {
        {R"({"ftp":{}})", T::ftp, false},
        {R"({"webDav":{"x":1}})", T::webDav, false},
        {R"({})", std::nullopt, true},
        {R"({"ftp":{},"sftp":{}})", std::nullopt, true},
        {R"({"ftp":{},"extra":1})", T::ftp, false},
        {R"({"ftp":1})", std::nullopt, false},
        {R"("ftp")", std::nullopt, false},
    };
    for (const auto& c : cases) {
        std::optional<T> got;
        std::string message;
        try {
            got = EnumManager::connection_type_from_json(OrderedJson::parse(c.json));
        } catch (const DecodingError& e) {
            message = e.what();
        }
        EXPECT_EQ(got, c.expected) << c.json;
        EXPECT_EQ(message == "Invalid number of keys found, expected one.", c.keyCountError) << c.json << " " << message;
    }
    EXPECT_EQ(EnumManager::connection_type_to_json(T::notConnected).dump(), R"({"notConnected":{}})");
    EXPECT_EQ(EnumManager::connection_type_description(T::ftp), "{\n  \"ftp\": {}\n}");
    EXPECT_EQ(*enum_json_string(to_json_value(EnumManager::soft_wrap::print_sw)), "3");
}

TEST(EnumManagerTable, RawValuesNamesAndMessages) {
    EXPECT_FALSE(EnumManager::ace_editor_theme_from_raw(0));
    EXPECT_FALSE(EnumManager::ace_editor_theme_from_raw(40));
    EXPECT_EQ(EnumManager::ace_editor_theme_from_raw(22), EnumManager::ace_editor_theme::matrix);
    EXPECT_EQ(EnumManager::ace_path(EnumManager::ace_editor_theme::matrix), "ace/theme/gob");
    EXPECT_EQ(EnumManager::display_name(EnumManager::ace_editor_theme::vibrant_ink), "Vibrant InK");
    EXPECT_EQ(EnumManager::light_themes().size(), 15u);
    EXPECT_EQ(EnumManager::light_themes().back(), EnumManager::ace_editor_theme::sql_server);
    EXPECT_EQ(EnumManager::dark_themes().front(), EnumManager::ace_editor_theme::ambiance);
    EXPECT_FALSE(EnumManager::editor_file_types_from_raw("Html"));
    EXPECT_FALSE(EnumManager::editor_file_types_from_raw(" css"));
    EXPECT_EQ(EnumManager::editor_file_types_from_raw("scss"), EnumManager::editor_file_types::scss);
    EXPECT_FALSE(EnumManager::soft_wrap_from_raw(5));
    EXPECT_FALSE(EnumManager::file_explorer_sorting_from_raw(4));
    EXPECT_EQ(EnumManager::symbol_name(EnumManager::file_icon_kind::archive), "speedometer");
    EXPECT_EQ(EnumManager::sort_symbol_name(EnumManager::file_explorer_sorting::size), "textformat.size");

    using E = EnumManager::vorn_error_throws;
    EXPECT_EQ(E::invalid_character("/").errorDescription(), "Your username can't contain the character '/'");
    VornError err = E(E::no_permission_no_data);
    EXPECT_EQ(err.localizedDescription(), "No data was returned. Please check your login credentials...");
    EXPECT_TRUE(EnumManager::is_error(err, E::no_permission_no_data));
    EXPECT_EQ(VornError(E(E::not_utf8_text)).message, "This file is not UTF-8 text.");
    VornError dup = EnumManager::KeychainError(EnumManager::KeychainError::duplicateItem);
    EXPECT_EQ(dup.name, "duplicateItem");
}

TEST(ServerFileRecords, ContentRecordsFromDownloads) {
    struct Result {
        std::shared_ptr<VornServerFileContentModel> record;
        std::optional<VornError> error;
    };
    auto build = [](std::optional<std::string> data, std::optional<VornError> error, std::string type, std::string path) {
        Result r;
        build_file_content_model(data, error, type, path, [&](auto rec, auto err) {
            r.record = rec;
            r.error = err;
        });
        return r;
    };
    auto a = build(std::string("<p>é</p>"), std::nullopt, "html", "/www/index.html");
    ASSERT_TRUE(a.record);
    EXPECT_EQ(a.record->id, "L3d3dy9pbmRleC5odG1s");
    EXPECT_EQ(a.record->contents, "<p>é</p>");
    EXPECT_EQ(a.record->file_type, EnumManager::editor_file_types::html);
    EXPECT_EQ(build(std::string(), std::nullopt, "md", "/www/index.html").record->id, a.record->id);
    EXPECT_EQ(build(std::string(), std::nullopt, "md", "/a").record->file_type, EnumManager::editor_file_types::txt);
    EXPECT_NE(build(std::string(), std::nullopt, "html", "/www/other.html").record->id, a.record->id);

    auto none = build(std::nullopt, std::nullopt, "html", "/a");
    EXPECT_TRUE(EnumManager::is_error(*none.error, EnumManager::vorn_error_throws::no_data));
    auto binary = build(std::string("\x89PNG\r\n\x1a\n\0\xff", 10), std::nullopt, "txt", "/a.png");
    EXPECT_FALSE(binary.record);
    EXPECT_TRUE(EnumManager::is_error(*binary.error, EnumManager::vorn_error_throws::not_text));
    EXPECT_EQ(binary.error->message, "This file is not text.");
    // Text in another encoding is read as such, with its format.
    auto latin = build(std::string("caf\xe9\r\n"), std::nullopt, "txt", "/cafe.txt");
    ASSERT_TRUE(latin.record);
    EXPECT_EQ(latin.record->contents, "caf\u00e9\r\n");
    EXPECT_EQ(latin.record->text_format.encoding, "windows-1252");
    EXPECT_EQ(latin.record->text_format.lineEnding, textcodec::TextFormat::LineEnding::crlf);
    EXPECT_TRUE(latin.record->lossless);
    auto passed = build(std::string("x"), VornError{"Provider", 5, "gone", "notFound"}, "txt", "/a");
    EXPECT_EQ(passed.error->domain, "Provider");
}

// The stores' pretty writer gives the JSON library's own dump(2), byte for byte, for every shape a
// record holds: nesting, empty containers, numbers, and strings with every byte that needs an
// escape (control characters, quotes, backslashes), with the ones that do not (DEL, slash,
// U+2028, characters beyond the BMP) and with JSON text inside a string, as a sessions file has it.
TEST(JsonModels, ThePrettyWriterGivesTheLibrarysBytes) {
    std::string controls;
    for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
    const std::string session_state =
        OrderedJson{{"value", "<p class=\"a\">\\ \t\r\n</p>\u2028\U0001F600"}, {"cursor", {{"row", 0}}}}.dump();
    const std::vector<std::pair<const char*, OrderedJson>> cases{
        {"null", nullptr},
        {"booleans", OrderedJson::array({true, false})},
        {"numbers", OrderedJson::array({0, -7, int64_t(1) << 53, 1.5, 100.25, -0.0, 1e-7, 12345678.9})},
        {"empty object", OrderedJson::object()},
        {"empty array", OrderedJson::array()},
        {"empty string", ""},
        {"control characters", controls},
        {"quotes and backslashes", "\"\\\"\\\\"},
        {"left as they are", "/ \x7f \u00e9 \u2028 \u2029 \U0001F600"},
        {"JSON inside a string", session_state},
        {"keys that need escapes", OrderedJson{{"a\"b", 1}, {"c\\d\n", OrderedJson::object()}, {"", OrderedJson::array()}}},
        {"nesting", OrderedJson{{"service_id", "s"},
                                {"ace_file_sessions",
                                 OrderedJson::array({OrderedJson{{"json", session_state}, {"undo_count", 3}, {"opened", 1.25}},
                                                     OrderedJson::array({OrderedJson::array(), OrderedJson::object(), 1})})}}},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(jsonable::pretty(value), value.dump(2));
    }
    // A large document: the same bytes too.
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "<div id=\"n" + std::to_string(i) + "\">\\\t</div>\r\n";
    const OrderedJson record{{"json", OrderedJson{{"value", big}}.dump()}};
    EXPECT_EQ(jsonable::pretty(record), record.dump(2));
}

// A snapshot about to be written gives its texts up to the file's JSON instead of copying them:
// the JSON is the record's own, and the record it was taken from keeps its texts.
TEST(JsonModels, ASnapshotGivesTheSameJsonItsRecordGives) {
    VornAppMultipleSessionsDataModel record;
    record.service_id = "s/1";
    for (const char* path : {"/a.html", "/b \"q\".css"}) {
        auto session = std::make_shared<VornACEFileSessionsDataModel>();
        session->session_id = std::string("id") + path;
        session->file_path = path;
        session->mime_type = "text/html";
        session->json = OrderedJson{{"state_id", "0123456789abcdef"}, {"value", std::string(100000, 'v') + "\xC3\xA9\n"}}.dump();
        session->ace_language = "html";
        session->undo_count = 7;
        record.ace_file_sessions.push_back(session);
    }
    const OrderedJson expected = record.to_json();
    auto snapshot = record.clone();
    EXPECT_EQ(snapshot->take_json(), expected);
    EXPECT_EQ(record.to_json(), expected);
}

// ---- a session record following a rename on the server -------------------------------------------

TEST(SessionRecordMove, FollowsTheFileOrAFolderAboveItAndNothingElse) {
    struct Case {
        std::string path, from, to;
        std::optional<std::string> moved;
    };
    const std::vector<Case> cases{
        {"/a.html", "/a.html", "/b.html", "/b.html"},
        {"/site/css/x.css", "/site", "/www", "/www/css/x.css"},
        {"/site/css/x.css", "/site/", "/www/", "/www/css/x.css"},
        {"/site2/x.css", "/site", "/www", std::nullopt},
        {"/other.html", "/a.html", "/b.html", std::nullopt},
        {"/x.css", "/", "/y", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(moved_remote_path(c.path, c.from, c.to), c.moved) << c.path << " " << c.from;
    }

    VornACEFileSessionsDataModel record;
    record.file_path = "/site/a.txt";
    record.session_id = file_bucket_id_for_path(record.file_path);
    record.json = R"({"state_id":"0123456789abcdef0123","session_id":")" + record.session_id +
                  R"(","file_path":"/site/a.txt","value":"text","undo_count":3})";
    EXPECT_FALSE(record.follow_move("/other", "/else"));
    ASSERT_TRUE(record.follow_move("/site", "/www"));
    EXPECT_EQ(record.file_path, "/www/a.txt");
    EXPECT_EQ(record.session_id, file_bucket_id_for_path("/www/a.txt"));
    const auto state = nlohmann::json::parse(record.json);
    EXPECT_EQ(state["session_id"], record.session_id);
    EXPECT_EQ(state["file_path"], "/www/a.txt");
    EXPECT_EQ(state["value"], "text");
    EXPECT_EQ(record.json.rfind(R"({"state_id":)", 0), 0u) << "the state's head moved";
}

// Record ids come from the one generator the telemetry ids come from: a forked child (a helper
// program the app starts) never makes the id its parent makes next.
TEST(RecordIds, AForkedChildMakesOtherIdsThanItsParent) {
    const auto next = dravix_test::nextInChildAndParent(new_uuid_string);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->first.size(), 36u);
    EXPECT_EQ(next->first[14], '4');
    EXPECT_NE(next->first, next->second);
}

namespace {
TEST(JsonModels, AFileSessionKeepsTheServersVersionAsAnOptionalKey) {
    const std::string base =
        R"("session_id":"L2E=","file_path":"/a","mime_type":"text/plain","json":"{}","ace_language":"","undo_count":0,"opened":0)";
    VornACEFileSessionsDataModel record;
    record.session_id = "L2E=";
    record.file_path = "/a";
    EXPECT_FALSE(parsed(record).contains("server_version")) << "written when not known";

    record.server_version.etag = "\"5-abc\"";
    record.server_version.lastModified = "Tue, 08 Dec 2026 11:51:46 GMT";
    record.server_version.modificationDate = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    record.server_version.size = 5;
    record.server_version.sha256 = std::string(64, 'f');
    auto j = parsed(record);
    EXPECT_EQ(keysOf(j["server_version"]), (Keys{"etag", "last_modified", "modified_ms", "size", "sha256"}));
    EXPECT_EQ(j["server_version"]["modified_ms"], 1700000000000LL);
    EXPECT_EQ(VornACEFileSessionsDataModel::from_json(j)->server_version, record.server_version);

    struct Case {
        const char* what;
        std::string text;
        bool known;
    };
    const std::vector<Case> cases = {
        // What the records of older builds hold, and what they meet in a newer one's file: a
        // key they do not know is passed over, as the decoders do with every key.
        {"no version", "{" + base + "}", false},
        {"a key the record does not know", "{" + base + R"(,"later":{"x":1}})", false},
        {"a version", "{" + base + R"(,"server_version":{"size":3,"modified_ms":5}})", true},
        {"a version that is no object", "{" + base + R"(,"server_version":7})", false},
        {"a version with a wrong type", "{" + base + R"(,"server_version":{"size":"3"}})", false},
    };
    for (const auto& c : cases) {
        std::shared_ptr<VornACEFileSessionsDataModel> decoded;
        EXPECT_NO_THROW(decoded = VornACEFileSessionsDataModel::from_json(OrderedJson::parse(c.text))) << c.what;
        if (decoded) EXPECT_EQ(!decoded->server_version.empty(), c.known) << c.what;
    }
}

// The file's encoding is an optional key: written when known, read back as it was; an older
// build's record (none) and one naming an encoding this build cannot write read as none.
TEST(JsonModels, AFileSessionKeepsItsTextFormatAsAnOptionalKey) {
    const std::string base =
        R"("session_id":"L2E=","file_path":"/a","mime_type":"text/plain","json":"{}","ace_language":"","undo_count":0,"opened":0)";
    VornACEFileSessionsDataModel record;
    EXPECT_FALSE(parsed(record).contains("text_format")) << "written when not known";
    textcodec::TextFormat format;
    format.encoding = "Shift_JIS";
    format.lineEnding = textcodec::TextFormat::LineEnding::crlf;
    format.declared = "sjis";
    format.source = textcodec::TextFormat::Source::declaration;
    record.text_format = format;
    auto j = parsed(record);
    EXPECT_EQ(j["text_format"].dump(),
              R"({"encoding":"Shift_JIS","bom":false,"line_ending":"crlf","declared":"sjis","source":"declaration"})");
    EXPECT_EQ(VornACEFileSessionsDataModel::from_json(j)->text_format, format);

    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> encoding;
    };
    const std::vector<Case> cases = {
        {"none", "{" + base + "}", std::nullopt},
        {"a label", "{" + base + R"(,"text_format":{"encoding":"latin1","bom":true}})", "windows-1252"},
        {"an encoding unknown here", "{" + base + R"(,"text_format":{"encoding":"x-other"}})", std::nullopt},
        {"no object", "{" + base + R"(,"text_format":"UTF-8"})", std::nullopt},
    };
    for (const auto& c : cases) {
        std::shared_ptr<VornACEFileSessionsDataModel> decoded;
        EXPECT_NO_THROW(decoded = VornACEFileSessionsDataModel::from_json(OrderedJson::parse(c.text))) << c.what;
        if (!decoded) continue;
        EXPECT_EQ(decoded->text_format ? std::optional<std::string>(decoded->text_format->encoding) : std::nullopt, c.encoding)
            << c.what;
    }
}
}  // namespace
