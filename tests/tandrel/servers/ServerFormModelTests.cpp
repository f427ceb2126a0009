// The server form's model without a window: the checks of the typed fields, the record and its
// id, the password in the test keyring, and the writes to the saved-servers store.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QTest>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/keychain/KeyringTestSupport.h"
#include "support/TempHome.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/servers/ServerFormModel.h"

namespace {

using Problem = ServerFormModel::Problem;
using Type = EnumManager::VornConnectionType;

// Computed here on its own: Base64 of the UTF-8 of url + "-" + user.
std::string idFor(const std::string& url, const std::string& user) {
    return QByteArray::fromStdString(url + "-" + user).toBase64().toStdString();
}

ServerFormModel::Fields fields(const std::string& url, const std::string& password, const std::string& port,
                               int segment = 0, const std::string& user = "ann") {
    ServerFormModel::Fields f;
    f.nickname = "Site";
    f.server_url = url;
    f.username = user;
    f.password = password;
    f.port = port;
    f.type_segment = segment;
    return f;
}

// The preview's site fields: blank is unset (older builds' records stay as they were); the web
// root is stored as a folder path; a Site URL that is no web address is refused, saying so.
TEST(ServerFormModelCheck, TheWebRootAndSiteUrlAreStoredOnlyWhenSetAndTheSiteUrlIsAWebAddress) {
    struct Row {
        const char* web_root;
        const char* site_url;
        std::optional<Problem> problem;
        std::optional<std::string> stored_root;
        std::optional<std::string> stored_url;
    };
    const Row rows[] = {
        {"", "", std::nullopt, std::nullopt, std::nullopt},
        {"  ", " ", std::nullopt, std::nullopt, std::nullopt},
        {"/", "", std::nullopt, std::nullopt, std::nullopt},
        {"www", "", std::nullopt, "/www", std::nullopt},
        {" /public_html/ ", "https://example.com/", std::nullopt, "/public_html", "https://example.com/"},
        {"/a//b/", " http://127.0.0.1:8080/site/ ", std::nullopt, "/a/b", "http://127.0.0.1:8080/site/"},
        {"", "example.com", Problem::invalid_address, std::nullopt, std::nullopt},
        {"", "ftp://example.com/", Problem::invalid_address, std::nullopt, std::nullopt},
        {"", "file:///var/www/", Problem::invalid_address, std::nullopt, std::nullopt},
        {"", "https://", Problem::invalid_address, std::nullopt, std::nullopt},
        {"", "https://user:pw@example.com/", Problem::invalid_address, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        auto f = fields("ftp://h", "pw", "21");
        f.web_root = row.web_root;
        f.site_url = row.site_url;
        const auto checked = ServerFormModel::check(f);
        EXPECT_EQ(checked.problem, row.problem) << row.web_root << " " << row.site_url;
        if (row.problem) {
            ASSERT_TRUE(checked.address_error);
            EXPECT_EQ(checked.address_error->message, ServerFormModel::kInvalidSiteUrlMessage);
            continue;
        }
        ASSERT_TRUE(checked.info) << row.site_url;
        EXPECT_EQ(checked.info->web_root, row.stored_root) << row.web_root;
        EXPECT_EQ(checked.info->site_url, row.stored_url) << row.site_url;
        VornSingleServiceDataModel record;
        record.web_root = "/old";
        record.site_url = "https://old.example/";
        ServerFormModel::copy_into(record, *checked.info, Type::ftp);
        EXPECT_EQ(record.web_root, row.stored_root);
        EXPECT_EQ(record.site_url, row.stored_url);
    }
}

TEST(ServerFormModelCheck, PortFirstThenRequiredFieldsThenThePortGoesIntoTheURL) {
    struct Row {
        const char* what;
        ServerFormModel::Fields fields;
        std::optional<Problem> problem;
        const char* stored_url;  // when accepted
        int64_t port;
    };
    const Row rows[] = {
        {"letters", fields("ftp://h", "pw", "abc"), Problem::invalid_port, "", 0},
        {"zero", fields("ftp://h", "pw", "0"), Problem::invalid_port, "", 0},
        {"too big", fields("ftp://h", "pw", "65536"), Problem::invalid_port, "", 0},
        {"negative", fields("ftp://h", "pw", "-21"), Problem::invalid_port, "", 0},
        {"port before missing password", fields("ftp://h", "", "99999"), Problem::invalid_port, "", 0},
        {"no password", fields("ftp://h", "", "21"), Problem::missing_information, "", 0},
        {"no WebDAV password", fields("http://h/dav", "", "80", 1), Problem::missing_information, "", 0},
        // SFTP logs in with the user's keys without one; a name from ~/.ssh/config is a host.
        {"no SFTP password", fields("sftp://h", "", "22", 2), std::nullopt, "sftp://h", 22},
        {"SFTP config name, no user", fields("sftp://web1/", "", "22", 2, ""), std::nullopt, "sftp://web1/", 22},
        {"no URL", fields("", "pw", "21"), Problem::missing_information, "", 0},
        {"URL that does not parse", fields("ftp://[bad", "pw", "21"), Problem::missing_information, "", 0},
        {"blanks around the URL", fields(" ftp://h/ ", "pw", "21"), Problem::invalid_address, "", 0},
        {"no scheme", fields("h/www", "pw", "21"), Problem::invalid_address, "", 0},
        {"WebDAV scheme on the FTP form", fields("http://h/", "pw", "21"), Problem::invalid_address, "", 0},
        {"blank port", fields("ftp://h", "pw", "  "), std::nullopt, "ftp://h", 0},
        {"FTP form default", fields("ftp://h", "pw", "21"), std::nullopt, "ftp://h", 21},
        {"other FTP port", fields("ftp://h/www", "pw", "2121"), std::nullopt, "ftp://h:2121/www", 2121},
        {"URL names its port", fields("ftp://h:2100", "pw", "2121"), std::nullopt, "ftp://h:2100", 2121},
        {"WebDAV form default", fields("http://h/dav", "pw", "80", 1), std::nullopt, "http://h/dav", 80},
        {"other WebDAV port", fields("http://h/dav", "pw", "8080", 1), std::nullopt, "http://h:8080/dav", 8080},
        {"no user name", fields("ftp://h", "pw", "21", 0, ""), std::nullopt, "ftp://h", 21},
        // A URL as a browser takes it, stored as the app connects to it.
        {"blank in the path", fields("http://h/web files/", "pw", "80", 1), std::nullopt, "http://h/web%20files/", 80},
        {"blank and a port", fields("ftp://h/web files", "pw", "2121"), std::nullopt, "ftp://h:2121/web%20files", 2121},
        {"accented folder", fields("http://h/caf\xC3\xA9/", "pw", "80", 1), std::nullopt, "http://h/caf%C3%A9/", 80},
        {"escaped already", fields("ftp://h/web%20files/", "pw", "21"), std::nullopt, "ftp://h/web%20files/", 21},
    };
    for (const Row& row : rows) {
        const auto checked = ServerFormModel::check(row.fields);
        EXPECT_EQ(checked.problem, row.problem) << row.what;
        EXPECT_EQ(checked.info.has_value(), !row.problem.has_value()) << row.what;
        if (!checked.info) continue;
        EXPECT_EQ(checked.info->server_url, row.stored_url) << row.what;
        EXPECT_EQ(checked.info->port, row.port) << row.what;
        EXPECT_EQ(checked.info->password, row.fields.password) << row.what;
        EXPECT_EQ(checked.info->username, row.fields.username) << row.what;
        EXPECT_EQ(checked.info->nickname, "Site") << row.what;
    }
    // The port alert names the field.
    EXPECT_NE(std::string(ServerFormModel::kInvalidPortMessage).find("Port"), std::string::npos);
}

// The alert of missing information says which field, before the general request.
TEST(ServerFormModelCheck, MissingInformationNamesTheField) {
    const std::pair<ServerFormModel::Fields, const char*> rows[] = {
        {fields("ftp://h", "", "21"), "The Password field is empty."},
        {fields("", "pw", "21"), "The Service URL field is empty."},
        {fields("", "", "21"), "The Service URL field is empty."},
        {fields("ftp://[bad", "pw", "21"), "The Service URL field holds no server address."},
    };
    for (const auto& [f, named] : rows) {
        const auto checked = ServerFormModel::check(f);
        EXPECT_EQ(checked.problem, Problem::missing_information) << named;
        EXPECT_EQ(checked.missing_field, named);
        EXPECT_EQ(ServerFormModel::missing_information_message(checked.missing_field),
                  std::string(named) + " Please check you have supplied the required information, and try again");
    }
    EXPECT_EQ(ServerFormModel::missing_information_message(""),
              "Please check you have supplied the required information, and try again");
}

// Typed text to the address the app stores and connects to, for the type the form picked.
TEST(ServerAddressFromTyped, EscapesWhatAUrlCannotHoldAndSaysWhatIsWrongOtherwise) {
    using server_address::Problem;
    struct Row {
        const char* typed;
        Type type;
        std::optional<std::string> address;  // or the problem
        std::optional<Problem> problem;
        const char* message_part;
    };
    const Row rows[] = {
        {"ftp://host/web files/", Type::ftp, "ftp://host/web%20files/", {}, ""},
        {"http://host/web files/", Type::webDav, "http://host/web%20files/", {}, ""},
        {"ftp://host/web%20files/", Type::ftp, "ftp://host/web%20files/", {}, ""},
        {"ftp://host/100% sure/", Type::ftp, "ftp://host/100%25%20sure/", {}, ""},
        {"FTPS://host:990/", Type::ftp, "FTPS://host:990/", {}, ""},
        {"webdavs://me@host/dav/", Type::webDav, "webdavs://me@host/dav/", {}, ""},
        {"sftp://host/", Type::sftp, "sftp://host/", {}, ""},  // no connector yet: the connect says so
        {"", Type::ftp, {}, Problem::empty, "empty"},
        {"   ", Type::ftp, {}, Problem::empty, "empty"},
        {" ftp://host/", Type::ftp, {}, Problem::blanks_around, "spaces before or after"},
        {"ftp://host/\t", Type::ftp, {}, Problem::blanks_around, "spaces before or after"},
        {"host/www/", Type::ftp, {}, Problem::no_scheme, "ftp:// or ftps://"},
        {"127.0.0.1:2121", Type::ftp, {}, Problem::no_scheme, "no scheme"},
        {"host/dav/", Type::webDav, {}, Problem::no_scheme, "http://, https://, webdav:// or webdavs://"},
        {"gopher://host/", Type::ftp, {}, Problem::unknown_scheme, "\u201Cgopher://\u201D"},
        {"http://host/", Type::ftp, {}, Problem::scheme_of_other_type, "An FTP server's address starts with ftp://"},
        {"ftp://host/", Type::webDav, {}, Problem::scheme_of_other_type, "A WebDAV server's address"},
        {"ftp:///www/", Type::ftp, {}, Problem::no_host, "names no server"},
        {"ftp://[bad/", Type::ftp, {}, Problem::not_a_url, "not a valid URL"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        const auto address = server_address::from_typed(row.typed, row.type);
        ASSERT_EQ(address.ok(), row.address.has_value()) << (address ? *address : address.error().message);
        if (address) {
            EXPECT_EQ(*address, *row.address);
            // Read again, an address gives itself.
            EXPECT_EQ(*server_address::from_typed(*address, row.type), *address);
            continue;
        }
        EXPECT_EQ(server_address::problem_of(address.error()), row.problem);
        EXPECT_NE(address.error().message.find(row.message_part), std::string::npos) << address.error().message;
        EXPECT_EQ(address.error().message.find("could not be connected"), std::string::npos);
    }
}

TEST(ServerFormModelCheck, RequiringEncryptionIsKeptForFtpOnlyAndGoesIntoTheRecord) {
    struct Row {
        int segment;
        bool box;
        bool required;
    };
    for (const Row& row : {Row{0, true, true}, Row{0, false, false}, Row{1, true, false}, Row{1, false, false}}) {
        auto f = fields(row.segment == 0 ? "ftp://example.test" : "https://example.test", "pw", "", row.segment);
        f.require_encryption = row.box;
        const auto checked = ServerFormModel::check(f);
        ASSERT_TRUE(checked.info) << row.segment;
        EXPECT_EQ(checked.info->require_encryption, row.required) << row.segment << " " << row.box;
        VornSingleServiceDataModel record;
        record.require_encryption = !row.required;
        ServerFormModel::copy_into(record, *checked.info, ServerFormModel::connection_type_for_segment(row.segment));
        EXPECT_EQ(record.require_encryption, row.required);
    }
}

TEST(ServerFormModelCheck, SegmentsGiveTheTypeAndTheFormDefault) {
    struct Row {
        int segment;
        Type type;
        int64_t form_default;
    };
    for (const Row& row : {Row{0, Type::ftp, 21}, Row{1, Type::webDav, 80}, Row{2, Type::sftp, 22},
                           Row{-1, Type::unKnown, 21}, Row{3, Type::unKnown, 21}}) {
        EXPECT_EQ(ServerFormModel::connection_type_for_segment(row.segment), row.type) << row.segment;
        EXPECT_EQ(ServerFormModel::form_default_port(row.segment), row.form_default) << row.segment;
    }
}

// The shared saved-servers store on a file of its own, and the keyring items a test made.
class ServerFormModelStore : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<testsupport::TempHome>();
        folder_ = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-form-model");
        std::filesystem::create_directories(folder_);
        app_services_manager().appServicesModel = std::make_shared<VornServicesDataModel>();
        app_services_manager().url = folder_ / "app_services.json";
    }
    void TearDown() override {
        app_services_manager().url.reset();
        app_services_manager().appServicesModel = std::make_shared<VornServicesDataModel>();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        home_.reset();
    }

    static ServerFormModel::ServiceInfo accepted(const std::string& url, const std::string& user,
                                                 const std::string& password, const std::string& port = "") {
        auto checked = ServerFormModel::check(fields(url, password, port, 0, user));
        EXPECT_TRUE(checked.info) << url;
        return checked.info.value_or(ServerFormModel::ServiceInfo{});
    }
    static std::shared_ptr<VornSingleServiceDataModel> saved(const std::string& url, const std::string& user) {
        auto s = std::make_shared<VornSingleServiceDataModel>();
        s->id = idFor(url, user);
        s->url = url;
        s->username = user;
        app_services_manager().appServicesModel->saved_services.push_back(s);
        return s;
    }
    static size_t savedCount() { return app_services_manager().appServicesModel->saved_services.size(); }
    // Runs a store write and waits for its completion, which must come on the main queue.
    static std::optional<bool> awaitSaved(const std::function<void(std::function<void(bool)>)>& write) {
        std::optional<bool> result;
        bool on_main = false;
        write([&](bool ok) {
            on_main = keyringtest::onGuiThread();
            result = ok;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
        EXPECT_TRUE(on_main);
        return result;
    }
    std::optional<std::string> password(const std::string& url, const std::string& user) {
        auto o = keyringtest::readNow(url, idFor(url, user));
        if (o.failure && o.failure->kind != keychain::Failure::Kind::itemNotFound)
            ADD_FAILURE() << "keyring: " << o.failure->text();
        return o.secret;
    }
    void storePassword(const std::string& url, const std::string& user, const std::string& secret) {
        keys.add(url, idFor(url, user));
        auto o = keyringtest::runNow(
            [&](keychain::Completion c) { keychain::writePassword(url, idFor(url, user), secret, std::move(c)); });
        EXPECT_FALSE(o.failure) << o.failure->text();
    }

    keyringtest::Cleanup keys;

private:
    std::unique_ptr<testsupport::TempHome> home_;
    std::filesystem::path folder_;
};

TEST_F(ServerFormModelStore, NewRecordsTakeTheFormIdAndNeverATakenOne) {
    const auto info = accepted("ftp://h/www", "ann", "pw", "2121");
    auto first = ServerFormModel::make_new_record(info, Type::webDav);
    EXPECT_EQ(first->id, idFor("ftp://h:2121/www", "ann"));
    EXPECT_EQ(first->url, "ftp://h:2121/www");
    EXPECT_EQ(first->username, "ann");
    EXPECT_EQ(first->nickname, "Site");
    EXPECT_EQ(first->port, 2121);
    EXPECT_EQ(first->connection_type, Type::webDav);

    // A server edited to another address keeps its first id: a new one gets a suffix.
    struct Row {
        int taken;
        std::string expected;
    };
    const std::string base = idFor("ftp://h:2121/www", "ann");
    for (const Row& row : {Row{1, base + "-2"}, Row{2, base + "-3"}}) {
        app_services_manager().appServicesModel->saved_services.clear();
        for (int i = 0; i < row.taken; ++i) {
            auto s = std::make_shared<VornSingleServiceDataModel>();
            s->id = i == 0 ? base : base + "-" + std::to_string(i + 1);
            s->url = "ftp://elsewhere";
            app_services_manager().appServicesModel->saved_services.push_back(s);
        }
        EXPECT_EQ(ServerFormModel::make_new_record(info, Type::ftp)->id, row.expected) << row.taken;
    }
}

TEST_F(ServerFormModelStore, AddUpdateAndDeleteWriteTheStoreAndTakeUnusedPasswordsAlong) {
    SKIP_WITHOUT_KEYRING();
    const std::string url = "ftp://" + keyringtest::unique("form-model") + ".invalid";
    const std::string moved = url + "/moved";

    // Add: the record is in the store and its file, the completion has its id.
    auto record = ServerFormModel::make_new_record(accepted(url, "ann", "pw"), Type::ftp);
    std::optional<std::optional<std::string>> added;
    ServerFormModel::add_service(record, [&](std::optional<std::string> id) { added = id; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return added.has_value(); }, 10000));
    EXPECT_EQ(*added, idFor(url, "ann"));
    EXPECT_EQ(savedCount(), 1u);
    EXPECT_EQ(ServerFormModel::saved_service_with_id(idFor(url, "ann")), record);
    EXPECT_EQ(ServerFormModel::saved_service_with_login(url, "ann"), record);

    // Update to another URL: the record keeps its id, the old password goes.
    storePassword(url, "ann", "old secret");
    keys.add(moved, idFor(moved, "ann"));
    auto result = awaitSaved([&](auto done) {
        ServerFormModel::update_service(record, accepted(moved, "ann", "pw"), Type::webDav, done);
    });
    EXPECT_EQ(result, true);
    EXPECT_EQ(record->id, idFor(url, "ann"));
    EXPECT_EQ(record->url, moved);
    EXPECT_EQ(record->connection_type, Type::webDav);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !password(url, "ann"); }, 10000));

    // The existing login: updated in place, stored once.
    result = awaitSaved([&](auto done) {
        auto info = accepted(moved, "ann", "pw", "2121");
        info.nickname = "Renamed";
        ServerFormModel::update_existing_login(record, info, Type::ftp, done);
    });
    EXPECT_EQ(result, true);
    EXPECT_EQ(savedCount(), 1u);
    EXPECT_EQ(record->nickname, "Renamed");
    EXPECT_EQ(record->port, 2121);

    // Delete while another saved server logs in the same way: that password stays.
    storePassword(moved, "ann", "shared");
    auto twin = saved(moved, "ann");
    twin->id = "twin";
    result = awaitSaved([&](auto done) { ServerFormModel::delete_service(record, done); });
    EXPECT_EQ(result, true);
    EXPECT_EQ(savedCount(), 1u);
    EXPECT_EQ(password(moved, "ann"), "shared");
    // The last one that uses it: the password goes with it.
    result = awaitSaved([&](auto done) { ServerFormModel::delete_service(twin, done); });
    EXPECT_EQ(result, true);
    EXPECT_EQ(savedCount(), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !password(moved, "ann"); }, 10000));

    // Nothing to write: answered once, false.
    EXPECT_EQ(awaitSaved([&](auto done) { ServerFormModel::delete_service(nullptr, done); }), false);
    EXPECT_EQ(awaitSaved([&](auto done) { ServerFormModel::update_service(nullptr, {}, Type::ftp, done); }), false);
}

TEST_F(ServerFormModelStore, PasswordsGoToTheKeyringUnderTheServersAccount) {
    SKIP_WITHOUT_KEYRING();
    const std::string url = "ftp://" + keyringtest::unique("form-model-key") + ".invalid";
    keys.add(url, idFor(url, "ann"));
    const auto info = accepted(url, "ann", "first secret");

    struct Steps {
        int added = 0, edited = 0, replaced = 0;
        std::optional<VornError> failure;
    };
    auto stepsFor = [](Steps& s) {
        VornKeyChainFormSteps steps;
        steps.end_authenticating_on_main = [] {};
        steps.add_new_service = [&s] { ++s.added; };
        steps.update_editing_service = [&s] { ++s.edited; };
        steps.save_updated_service = [&s](std::function<void()> completion) {
            ++s.replaced;
            if (completion) completion();
        };
        steps.present_error = [](const VornError&) {};
        return steps;
    };

    // New: stored, then the add step.
    Steps s;
    ServerFormModel::store_password(info, false, stepsFor(s), [&](const VornError& e) { s.failure = e; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.added == 1 || s.failure; }, 15000));
    EXPECT_FALSE(s.failure);
    EXPECT_EQ(password(url, "ann"), "first secret");

    // Again, from the add form: a duplicate, nothing written, no step.
    Steps again;
    auto second = info;
    second.password = "second secret";
    ServerFormModel::store_password(second, false, stepsFor(again), [&](const VornError& e) { again.failure = e; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.failure.has_value(); }, 15000));
    EXPECT_TRUE(again.failure->is("KeychainError", EnumManager::KeychainError::duplicateItem)) << again.failure->text();
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(password(url, "ann"), "first secret");

    // The duplicate prompt's "Update": replaced, then the save step.
    ServerFormModel::replace_password(second, stepsFor(again));
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.replaced == 1; }, 15000));
    EXPECT_EQ(password(url, "ann"), "second secret");

    // From the edit form: the server's own entry is replaced (no duplicate), then the edit step;
    // a kept password (the field left blank) writes nothing.
    struct EditRow {
        const char* secret;
        bool kept;
        const char* stored;
    };
    for (const EditRow& row : {EditRow{"third secret", false, "third secret"}, EditRow{"", true, "third secret"},
                               EditRow{"ignored", true, "third secret"}}) {
        SCOPED_TRACE(row.secret);
        Steps edit;
        auto edited = info;
        edited.password = row.secret;
        edited.password_kept = row.kept;
        ServerFormModel::store_password(edited, true, stepsFor(edit), [&](const VornError& e) { edit.failure = e; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit.edited == 1 || edit.failure; }, 15000));
        EXPECT_FALSE(edit.failure);
        EXPECT_EQ(password(url, "ann"), row.stored);
    }

    // What the keyring keeps for a login, and nothing for one it does not know.
    std::optional<Expected<std::optional<std::string>>> kept;
    ServerFormModel::saved_password(url, "ann", [&](Expected<std::optional<std::string>> p) { kept = std::move(p); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept.has_value(); }, 15000));
    ASSERT_TRUE(*kept);
    EXPECT_EQ(**kept, std::optional<std::string>("third secret"));
    kept.reset();
    ServerFormModel::saved_password(url, "nobody", [&](Expected<std::optional<std::string>> p) { kept = std::move(p); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept.has_value(); }, 15000));
    ASSERT_TRUE(*kept);
    EXPECT_EQ(**kept, std::nullopt);

    // Forgotten only when no saved server uses it.
    saved(url, "ann");
    ServerFormModel::forget_password(url, "ann");  // decides at once: nothing is asked of the keyring
    EXPECT_EQ(password(url, "ann"), "third secret");
    app_services_manager().appServicesModel->saved_services.clear();
    ServerFormModel::forget_password(url, "ann");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !password(url, "ann"); }, 10000));
}

}  // namespace
