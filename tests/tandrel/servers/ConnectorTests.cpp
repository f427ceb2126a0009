// Server connectors and provider bucket: building buckets per connection type, the login check
// (once, on the main queue, FTP and WebDAV alike), and a provider listing turned into the
// explorer's sorted listing record.

#include <gtest/gtest.h>

#include <atomic>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/ProviderTestSupport.h"
#include "support/TempHome.h"
#include "platform/defaults/UserDefaults.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/foundation/UserPrefs.h"
#include "platform/files/ListingParsers.h"
#include "tandrel/servers/FileViewTableViewCell.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/servers/VornTrust.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"

using namespace std::chrono_literals;
using Sorting = EnumManager::file_explorer_sorting;
using Type = EnumManager::VornConnectionType;
using Err = EnumManager::vorn_error_throws;

namespace {

files::FileObject entry(std::string name, files::FileType type = files::FileType::regular, int64_t size = 1,
                        std::optional<int> modifiedDaysAgo = std::nullopt) {
    files::FileObject f;
    f.path = "/www/" + name;
    f.name = std::move(name);
    f.type = type;
    f.size = size;
    if (modifiedDaysAgo) f.modificationDate = std::chrono::system_clock::now() - std::chrono::hours(24 * *modifiedDaysAgo);
    f.isHidden = !f.name.empty() && f.name.front() == '.';
    return f;
}

// A throw-away home whose settings store is read afresh.
struct SettingsHome : testsupport::TempHome {
    SettingsHome() { defaults::UserDefaults::resetStandardForTesting(); }
    ~SettingsHome() { defaults::UserDefaults::resetStandardForTesting(); }
};

std::vector<std::string> paths(const std::shared_ptr<VornServerFilesDataModel>& listing) {
    std::vector<std::string> out;
    for (const auto& f : *listing->fileSections) out.push_back(f->path.value_or("?"));
    return out;
}

// ---- conversion ----------------------------------------------------------------------------

struct UpEntryCase {
    std::string path;
    bool upEntry;
    bool expectUp;
};

class UpEntryTest : public ::testing::TestWithParam<UpEntryCase> {};

TEST_P(UpEntryTest, UpOneLevelComesFirstExceptAtTheRoot) {
    const auto& c = GetParam();
    // Names that sort before "[UP ONE LEVEL] .." in every order still come after it.
    std::vector<files::FileObject> entries = {entry("Zeta.txt", files::FileType::regular, 500, 1), entry("0.txt"),
                                              entry("A", files::FileType::directory, 9999, -1)};
    for (Sorting order : EnumManager::file_explorer_sorting_all_cases()) {
        auto listing = VornConnectorUtilityClass::convert_listing(c.path, entries, order, c.upEntry);
        ASSERT_TRUE(listing->fileSections);
        EXPECT_EQ(listing->fileCount, 3);
        const auto& first = *listing->fileSections->front();
        const bool isUp = first.special_assignment == EnumManager::file_special_assignment::up_one_level;
        EXPECT_EQ(isUp, c.expectUp) << "path '" << c.path << "' order " << static_cast<int>(order);
        EXPECT_EQ(listing->fileSections->size(), c.expectUp ? 4u : 3u);
        if (isUp) {
            EXPECT_EQ(first.name, "[UP ONE LEVEL] ..");
            EXPECT_EQ(first.path, "../");
            EXPECT_EQ(first.kind, URLFileResourceType::directory);
            EXPECT_EQ(first.size, 0);
            EXPECT_FALSE(first.modifiedDate);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, UpEntryTest,
                         ::testing::Values(UpEntryCase{"/", true, false}, UpEntryCase{"", true, false},
                                           UpEntryCase{"/www", true, true}, UpEntryCase{"/a/b/c", true, true},
                                           UpEntryCase{"/www", false, false}));

TEST(ConvertListing, CopiesEveryFieldAndConvertsHiddenEntriesToo) {
    files::FileObject hidden = entry(".htaccess", files::FileType::regular, 42, 3);
    hidden.creationDate = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
    files::FileObject link = entry("current", files::FileType::symbolicLink, 7);
    files::FileObject odd = entry("fifo", files::FileType::unknown, -1);
    auto listing = VornConnectorUtilityClass::convert_listing("/www", {hidden, link, odd}, Sorting::name, false);
    ASSERT_EQ(listing->fileSections->size(), 3u);
    const auto& h = *listing->fileSections->at(0);
    EXPECT_EQ(h.name, ".htaccess");
    EXPECT_EQ(h.path, "/www/.htaccess");
    EXPECT_EQ(h.kind, URLFileResourceType::regular);
    EXPECT_EQ(h.size, 42);
    ASSERT_TRUE(h.creationDate);
    EXPECT_DOUBLE_EQ(h.creationDate->unixTime(), 1700000000.0);
    ASSERT_TRUE(h.modifiedDate);
    EXPECT_NEAR(h.modifiedDate->unixTime(),
                std::chrono::duration<double>((*hidden.modificationDate).time_since_epoch()).count(), 1e-3);
    EXPECT_EQ(h.special_assignment, EnumManager::file_special_assignment::no_assignment);
    EXPECT_EQ(listing->fileSections->at(1)->kind, URLFileResourceType::symbolicLink);
    EXPECT_EQ(listing->fileSections->at(2)->kind, URLFileResourceType::unknown);
}

// A size the server did not report (a WebDAV folder has none) stays unknown through the
// conversion and gets no size text in the cell; a reported size, zero included, gets one.
TEST(ConvertListing, UnreportedSizesGetNoSizeText) {
    struct Row {
        files::FileObject entry;
        int64_t size;
        QString text;
    };
    const std::vector<Row> rows = {
        {entry("unsized.txt", files::FileType::regular, -1), -1, ""},
        {entry("dav folder", files::FileType::directory, -1), -1, ""},
        {entry("empty.txt", files::FileType::regular, 0), 0, "Zero KB"},
        {entry("page.html", files::FileType::regular, 12000), 12000, "12 KB"},
        {entry("ftp folder", files::FileType::directory, 4096), 4096, "4 KB"},
    };
    for (const auto& row : rows) {
        auto listing = VornConnectorUtilityClass::convert_listing("/", {row.entry}, Sorting::name, true);
        ASSERT_EQ(listing->fileSections->size(), 1u);
        FileViewTableViewCell cell;
        cell.fileInfo = listing->fileSections->front();
        EXPECT_EQ(cell.fileInfo->size, row.size) << row.entry.name;
        cell.configure_size();
        EXPECT_EQ(cell.size_lbl, row.text) << row.entry.name;
    }
    // The WebDAV answer for a folder carries no length: the parsed entry has no size either.
    auto parsed = files::parse::propfind(R"(<D:multistatus xmlns:D="DAV:">
<D:response><D:href>/d/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
<D:response><D:href>/d/sub/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
</D:multistatus>)", "/", "/d");
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 1u);
    auto listing = VornConnectorUtilityClass::convert_listing("/d", *parsed, Sorting::name, false);
    FileViewTableViewCell cell;
    cell.fileInfo = listing->fileSections->front();
    cell.configure_size();
    EXPECT_TRUE(cell.size_lbl.isEmpty()) << cell.size_lbl.toStdString();
}

// ---- sorting -------------------------------------------------------------------------------

struct SortCase {
    std::string what;
    Sorting order;
    std::vector<files::FileObject> entries;
    std::vector<std::string> expectedNames;
};

class SortTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SortTest, OrdersStablyBySetting) {
    const auto& c = GetParam();
    auto listing = VornConnectorUtilityClass::convert_listing("/", c.entries, c.order, true);
    std::vector<std::string> names;
    for (const auto& f : *listing->fileSections) names.push_back(f->name.value_or("?") + (f->path->find("#2") != std::string::npos ? "#2" : ""));
    EXPECT_EQ(names, c.expectedNames) << c.what;
}

files::FileObject second(files::FileObject f) {
    f.path += "#2";  // the same name listed twice: the second one
    return f;
}

using FT = files::FileType;
INSTANTIATE_TEST_SUITE_P(
    Orders, SortTest,
    ::testing::Values(
        SortCase{"name: code points, upper case first, composed before comparing",
                 Sorting::name,
                 {entry("b"), entry("B"), entry("e\xCC\x81t\xC3\xA9"), entry("f"), entry("a"), entry("A"), entry("_x"),
                  entry("10"), entry("9")},
                 {"10", "9", "A", "B", "_x", "a", "b", "f", "e\xCC\x81t\xC3\xA9"}},
        SortCase{"name: equal names keep the server's order",
                 Sorting::name,
                 {entry("same"), entry("a"), second(entry("same"))},
                 {"a", "same", "same#2"}},
        SortCase{"kind: text values descending, regular files before folders",
                 Sorting::kind,
                 {entry("d1", FT::directory), entry("r1"), entry("l1", FT::symbolicLink), entry("r2"),
                  entry("d2", FT::directory), entry("u1", FT::unknown)},
                 {"l1", "r1", "r2", "d1", "d2", "u1"}},
        SortCase{"kind: entries without a kind go last, in the server's order",
                 Sorting::kind,
                 {entry("u1", FT::unknown), entry("d1", FT::directory), entry("u2", FT::unknown), entry("r1")},
                 {"r1", "d1", "u1", "u2"}},
        SortCase{"size: largest first, no size after every positive size, ties in order",
                 Sorting::size,
                 {entry("ten", FT::regular, 10), entry("none", FT::regular, -1), entry("thirty", FT::regular, 30),
                  entry("zero", FT::regular, 0), second(entry("thirty", FT::regular, 30))},
                 {"thirty", "thirty#2", "ten", "zero", "none"}},
        SortCase{"date: newest first; undated ones count as now, all the same now",
                 Sorting::dateModified,
                 {entry("old", FT::regular, 1, 30), entry("u1"), entry("future", FT::regular, 1, -2), entry("u2"),
                  entry("recent", FT::regular, 1, 1), entry("u3"), entry("u4"), entry("u5")},
                 {"future", "u1", "u2", "u3", "u4", "u5", "recent", "old"}}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(CompareFiles, MissingValuesCountAsEmptyZeroAndNow) {
    VornServerFileDataModel named, unnamed, big, sizeless, dated, undated;
    named.name = "a";
    big.size = 5;
    dated.modifiedDate = Date::fromUnix(1000);
    const Date now = Date::fromUnix(2000);
    EXPECT_TRUE(VornConnectorUtilityClass::compare_files(unnamed, named, Sorting::name, now));
    EXPECT_FALSE(VornConnectorUtilityClass::compare_files(named, unnamed, Sorting::name, now));
    EXPECT_TRUE(VornConnectorUtilityClass::compare_files(big, sizeless, Sorting::size, now));
    EXPECT_TRUE(VornConnectorUtilityClass::compare_files(undated, dated, Sorting::dateModified, now));
    EXPECT_FALSE(VornConnectorUtilityClass::compare_files(undated, dated, Sorting::dateModified, Date::fromUnix(500)));
    EXPECT_FALSE(VornConnectorUtilityClass::compare_files(undated, undated, Sorting::dateModified, now));
    unnamed.kind = URLFileResourceType::regular;
    EXPECT_TRUE(VornConnectorUtilityClass::compare_files(unnamed, named, Sorting::kind, now)) << "no kind goes last";
}

// ---- building buckets ----------------------------------------------------------------------

struct BuildCase {
    Type type;
    std::string url;
    bool built;
    // An address of the type's connector that is wrong: the error says what is wrong with it.
    std::optional<server_address::Problem> address_problem = std::nullopt;
};

class BuildBucketTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildBucketTest, HoldsOneConnectorOrSaysThereIsNoProvider) {
    const auto& c = GetParam();
    int calls = 0;
    std::shared_ptr<VornProviderBucket> bucket;
    std::optional<VornError> error;
    const files::Credential credential{"user", "secret"};
    VornConnectorBuilder::make_bucket_for_service(c.url, credential, c.type,
                                                  [&](std::shared_ptr<VornProviderBucket> b, std::optional<VornError> e) {
                                                      ++calls;
                                                      bucket = std::move(b);
                                                      error = std::move(e);
                                                  });
    ASSERT_EQ(calls, 1) << "the completion runs once, before the builder returns";
    if (!c.built && c.address_problem) {
        EXPECT_FALSE(bucket);
        ASSERT_TRUE(error);
        EXPECT_EQ(server_address::problem_of(*error), c.address_problem) << error->message;
        EXPECT_EQ(error->message.find("could not be connected"), std::string::npos) << error->message;
        return;
    }
    if (!c.built) {
        EXPECT_FALSE(bucket);
        ASSERT_TRUE(error);
        EXPECT_TRUE(EnumManager::is_error(*error, Err::guardReturnNoFileProvider));
        EXPECT_EQ(error->message, "The service provider could not be connected successfully");
        return;
    }
    ASSERT_FALSE(error);
    ASSERT_TRUE(bucket);
    EXPECT_EQ(bucket->provider_type, c.type);
    EXPECT_EQ(static_cast<bool>(bucket->ftp_provider), c.type == Type::ftp);
    EXPECT_EQ(static_cast<bool>(bucket->webdav_provider), c.type == Type::webDav);
    EXPECT_EQ(static_cast<bool>(bucket->sftp_provider), c.type == Type::sftp);
    ASSERT_TRUE(bucket->provider());
    EXPECT_EQ(bucket->provider()->kind(), c.type == Type::ftp      ? files::ProviderKind::ftp
                                          : c.type == Type::sftp ? files::ProviderKind::sftp
                                                                 : files::ProviderKind::webDav);
    ASSERT_TRUE(bucket->base);
    EXPECT_EQ(bucket->base->url, c.url);
    ASSERT_TRUE(bucket->base->credential);
    EXPECT_EQ(bucket->base->credential->user, "user");
    const VornConnectorBase& connector = c.type == Type::ftp    ? static_cast<const VornConnectorBase&>(*bucket->ftp_provider)
                                         : c.type == Type::sftp ? static_cast<const VornConnectorBase&>(*bucket->sftp_provider)
                                                                : static_cast<const VornConnectorBase&>(*bucket->webdav_provider);
    EXPECT_EQ(connector.type, c.type);
    EXPECT_EQ(connector.url, c.url);
    EXPECT_EQ(connector.file_provider(), bucket->provider());
}

INSTANTIATE_TEST_SUITE_P(
    Types, BuildBucketTest,
    ::testing::Values(BuildCase{Type::ftp, "ftp://127.0.0.1:2121/", true},
                      BuildCase{Type::webDav, "webdav://127.0.0.1:8080/dav/", true},
                      BuildCase{Type::webDav, "https://127.0.0.1/", true},
                      BuildCase{Type::sftp, "sftp://127.0.0.1/", true},
                      BuildCase{Type::sftp, "ftp://127.0.0.1/", false, server_address::Problem::scheme_of_other_type},
                      BuildCase{Type::unKnown, "ftp://127.0.0.1/", false},
                      BuildCase{Type::notConnected, "ftp://127.0.0.1/", false},
                      BuildCase{Type::ftp, "webdav://127.0.0.1/", false, server_address::Problem::scheme_of_other_type},
                      BuildCase{Type::webDav, "not a url", false, server_address::Problem::no_scheme},
                      BuildCase{Type::ftp, " ftp://127.0.0.1/", false, server_address::Problem::blanks_around}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(ProviderBucket, ANewBucketIsEmpty) {
    VornProviderBucket bucket;
    EXPECT_FALSE(bucket.ftp_provider);
    EXPECT_FALSE(bucket.webdav_provider);
    EXPECT_FALSE(bucket.sftp_provider);
    EXPECT_FALSE(bucket.provider_type);
    EXPECT_FALSE(bucket.base);
    EXPECT_FALSE(bucket.provider());
    VornConnectorFtp noProvider(nullptr);
    EXPECT_FALSE(noProvider.url);
    EXPECT_FALSE(noProvider.credential);
    EXPECT_EQ(noProvider.type, Type::ftp);
}

// ---- login checks --------------------------------------------------------------------------

// Waits, pumping the main queue, for a login completion; fails unless it came once, on the
// main thread.
std::optional<VornError> awaitLogin(const std::function<void(VornConnectorBuilder::LoginCompletion)>& start) {
    int calls = 0;
    bool onMain = true;
    std::optional<VornError> result;
    start([&](std::optional<VornError> e) {
        ++calls;
        onMain = onMain && dispatch::mainQueue().isCurrent();
        result = std::move(e);
    });
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return calls > 0; }, 30s)) << "no completion";
    dispatch::pumpMainQueueUntil([] { return false; }, 300ms);  // a second completion would come now
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(onMain) << "completion off the main queue";
    return result;
}

TEST(CheckLogin, PassesAGivenErrorOnAndNeedsABucket) {
    VornError given = Err(Err::no_url);
    auto error = awaitLogin([&](auto done) { VornConnectorUtilityClass::check_login(nullptr, given, done); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(EnumManager::is_error(*error, Err::no_url));
    error = awaitLogin([&](auto done) { VornConnectorUtilityClass::check_login(nullptr, std::nullopt, done); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(EnumManager::is_error(*error, Err::guardReturnNoFileProvider));
    error = awaitLogin([&](auto done) {
        VornConnectorUtilityClass::check_login(std::make_shared<VornProviderBucket>(), std::nullopt, done);
    });
    ASSERT_TRUE(error);
    EXPECT_TRUE(EnumManager::is_error(*error, Err::guardReturnNoFileProvider));
}

TEST(CheckLogin, TypesWithoutAConnectorAnswerInsteadOfNever) {
    for (Type type : {Type::unKnown, Type::notConnected}) {
        auto error = awaitLogin([&](auto done) {
            VornConnectorBuilder::make_bucket_for_form("sftp://127.0.0.1/", files::Credential{"u", "p"}, type, done);
        });
        ASSERT_TRUE(error);
        EXPECT_TRUE(EnumManager::is_error(*error, Err::guardReturnNoFileProvider));
    }
}

// Lets the bucket go on a background queue, as a window does, and waits until it has gone: the
// program must not end while the bucket's connections are still being closed (its exit would free
// what the closing still uses).
void releaseOffMain(std::shared_ptr<VornProviderBucket> bucket) {
    auto gone = std::make_shared<std::atomic<bool>>(false);
    dispatch::globalQueue(dispatch::QoS::background).async([b = std::move(bucket), gone]() mutable {
        b.reset();
        gone->store(true);
    });
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return gone->load(); }, 30s)) << "the bucket never went";
}

class FormLoginTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        peer_ = filestest::loadPeer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        set_app_trust(filestest::peerTrust(peer_));  // sshd's host key
    }
    void TearDown() override { set_app_trust(nullptr); }
    Type type() const {
        return GetParam() == "apache" ? Type::webDav : GetParam() == "sshd" ? Type::sftp : Type::ftp;
    }
    filestest::Peer peer_;
};

TEST_P(FormLoginTest, RightPasswordPassesOnce) {
    auto error = awaitLogin([&](auto done) {
        VornConnectorBuilder::make_bucket_for_form(peer_.url, files::Credential{peer_.user, peer_.password}, type(), done);
    });
    EXPECT_FALSE(error) << (error ? error->text() : "");
}

TEST_P(FormLoginTest, WrongPasswordIsExactlyOneError) {
    auto error = awaitLogin([&](auto done) {
        VornConnectorBuilder::make_bucket_for_form(peer_.url, files::Credential{peer_.user, "wrong"}, type(), done);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->name, "loginRejected") << error->text();
}

TEST_P(FormLoginTest, ListingCompletionGivesTheSortedListingOnTheMainQueue) {
    SettingsHome home;
    UserPrefs::setPreference("FILEEXPLORER_SORTING", defaults::Value("2"));  // size

    const std::string folder = "/t_listing_" + GetParam();
    const auto disk = peer_.root / folder.substr(1);
    std::filesystem::remove_all(disk);
    filestest::makeDiskFolder(disk);
    filestest::writeDiskFile(disk / "small.txt", "1");
    filestest::writeDiskFile(disk / "large.txt", std::string(300, 'x'));
    filestest::writeDiskFile(disk / "medium.txt", std::string(20, 'x'));

    std::shared_ptr<VornProviderBucket> bucket;
    VornConnectorBuilder::make_bucket_for_service(peer_.url, files::Credential{peer_.user, peer_.password}, type(),
                                                  [&](auto b, auto) { bucket = b; });
    ASSERT_TRUE(bucket);
    int calls = 0;
    bool onMain = false;
    std::shared_ptr<VornServerFilesDataModel> listing;
    std::optional<VornError> error;
    bucket->provider()->contentsOfDirectory(folder, VornConnectorUtilityClass::listing_completion(folder, [&](auto l, auto e) {
        ++calls;
        onMain = dispatch::mainQueue().isCurrent();
        listing = l;
        error = e;
    }));
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return calls > 0; }, 30s));
    EXPECT_TRUE(onMain);
    ASSERT_FALSE(error) << error->text();
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->fileCount, 3);
    EXPECT_EQ(paths(listing), (std::vector<std::string>{"../", folder + "/large.txt", folder + "/medium.txt", folder + "/small.txt"}));

    calls = 0;
    bucket->provider()->contentsOfDirectory(folder + "/missing", VornConnectorUtilityClass::listing_completion(folder, [&](auto l, auto e) {
        ++calls;
        listing = l;
        error = e;
    }));
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return calls > 0; }, 30s));
    EXPECT_FALSE(listing);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->name, "notFound");

    std::filesystem::remove_all(disk);
    releaseOffMain(std::move(bucket));
}

// A saved server whose URL points into a folder with a blank in its name, typed as it reads.
TEST_P(FormLoginTest, AUrlTypedWithABlankReachesItsFolder) {
    const auto disk = peer_.root / "web files";
    std::filesystem::remove_all(disk);
    filestest::makeDiskFolder(disk);
    filestest::writeDiskFile(disk / "index.html", "<p>hi</p>");
    std::string typed = peer_.url;
    if (typed.back() != '/') typed += '/';
    typed += "web files/";

    auto error = awaitLogin([&](auto done) {
        VornConnectorBuilder::make_bucket_for_form(typed, files::Credential{peer_.user, peer_.password}, type(), done);
    });
    EXPECT_FALSE(error) << (error ? error->text() : "");

    std::shared_ptr<VornProviderBucket> bucket;
    VornConnectorBuilder::make_bucket_for_service(typed, files::Credential{peer_.user, peer_.password}, type(),
                                                  [&](auto b, auto e) {
                                                      bucket = b;
                                                      EXPECT_FALSE(e);
                                                  });
    ASSERT_TRUE(bucket);
    EXPECT_EQ(bucket->base->url, typed) << "the connectors keep the typed text";
    int calls = 0;
    std::shared_ptr<VornServerFilesDataModel> listing;
    bucket->provider()->contentsOfDirectory("/", VornConnectorUtilityClass::listing_completion("/", [&](auto l, auto e) {
        ++calls;
        listing = l;
        EXPECT_FALSE(e) << e->text();
    }));
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return calls > 0; }, 30s));
    ASSERT_TRUE(listing);
    EXPECT_EQ(paths(listing), (std::vector<std::string>{"/index.html"}));

    std::filesystem::remove_all(disk);
    releaseOffMain(std::move(bucket));
}

// The window that connects to a server right after the form checked its login takes over the
// form's connection (a login asks once): its provider is connected before it did anything. Taken
// once, and only for the same credential: another bucket for the server starts unconnected.
TEST(SftpFormLogin, TheNextBucketForTheServerTakesOverTheCheckedLogin) {
    auto peer = filestest::loadPeer("sshd");
    ASSERT_TRUE(peer.skipReason.empty()) << peer.skipReason;
    set_app_trust(filestest::peerTrust(peer));
    const files::Credential credential{peer.user, peer.password};
    const struct {
        const char* what;
        files::Credential credential;
        bool connected;
    } rows[] = {
        {"another password", {peer.user, "other"}, false},
        {"the checked credential", credential, true},
        {"taken already", credential, false},
    };
    EXPECT_FALSE(awaitLogin([&](auto done) { VornConnectorBuilder::make_bucket_for_form(peer.url, credential, Type::sftp, done); }));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::shared_ptr<VornProviderBucket> bucket;
        VornConnectorBuilder::make_bucket_for_service(peer.url, row.credential, Type::sftp, [&](auto b, auto) { bucket = b; });
        ASSERT_TRUE(bucket);
        EXPECT_EQ(bucket->provider()->connectionEncrypted().has_value(), row.connected);
        releaseOffMain(std::move(bucket));
    }
    set_app_trust(nullptr);
}

// An SFTP server's host key that nothing trusts yet: the app's own trust has no window to ask
// in here, so the login is refused before any password goes out.
TEST(SftpFormLogin, AnUnknownHostKeyWithNoWindowToAskInIsNotTrusted) {
    auto peer = filestest::loadPeer("sshd");
    ASSERT_TRUE(peer.skipReason.empty()) << peer.skipReason;
    SettingsHome home;
    set_app_trust(nullptr);
    auto error = awaitLogin([&](auto done) {
        VornConnectorBuilder::make_bucket_for_form(peer.url, files::Credential{peer.user, peer.password}, Type::sftp, done);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->name, "notTrusted") << error->text();
    EXPECT_FALSE(std::filesystem::exists(VornAppUrlUtility::application_folder() / "known_hosts"));
    set_app_trust(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Servers, FormLoginTest, ::testing::Values("pyftpd", "vsftpd", "apache", "sshd"),
                         [](const auto& info) { return info.param; });

}  // namespace
