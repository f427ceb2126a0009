// The launch sequence: its steps in order, the secret by idiom, the run counter, a failed folder
// creation that does not stop it, the configuration of connecting windows, and the first window.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <fstream>
#include <mutex>

#include "app/AppDelegate.h"
#include "app/AppScenes.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/ui/Responder.h"
#include "platform/ui/scenes/UserActivity.h"
#include "support/LogCapture.h"
#include "support/TempHome.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {


// What the stores were given, seen from a step of the launch.
struct StoreUrls {
    std::optional<std::filesystem::path> sessions, services, editor;
    static StoreUrls now() {
        return {app_sessions_manager().url, app_services_manager().url, app_editor_preferences_manager().url};
    }
};

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<testsupport::TempHome>();
        defaults::UserDefaults::resetStandardForTesting();
        VornAppUrlUtility::reset_for_testing();
        capture_ = std::make_unique<testlog::LogCapture>();
        qunsetenv("DRAVIX_IDIOM");
    }
    void TearDown() override {
        capture_.reset();
        ui::Application::shared().resetForTesting();
        QTest::qWait(0);
        qunsetenv("DRAVIX_IDIOM");
        home_.reset();
        defaults::UserDefaults::resetStandardForTesting();
    }

    // Launch services that write down each call and what the launch had done by then.
    AppLaunchServices recording() {
        AppLaunchServices s;
        s.start_telemetry = [this](const std::string& secret, const std::vector<std::string>& services) {
            steps_.push_back("start_telemetry");
            secret_ = secret;
            services_ = services;
            runAtTelemetry_ = UserPrefs::user_defaults().integerForKey("xlog_run");
            defaultsAtTelemetry_ = UserPrefs::user_defaults().objectForKey("EDITOR_FONT_SIZE").has_value();
            baseAtTelemetry_ = VornAppUrlUtility::base_url();
            storesAtTelemetry_ = StoreUrls::now();
        };
        s.track_event = [this](const std::string& name) { steps_.push_back("track_event:" + name); };
        s.send_usage_metric = [this] { steps_.push_back("send_usage_metric"); };
        s.start_document_manager = [this] {
            steps_.push_back("start_document_manager");
            storesAtDocuments_ = StoreUrls::now();
        };
        return s;
    }

    std::unique_ptr<testlog::LogCapture> capture_;
    std::vector<std::string> steps_;
    std::string secret_;
    std::vector<std::string> services_;
    int64_t runAtTelemetry_ = -1;
    bool defaultsAtTelemetry_ = false;
    std::optional<std::filesystem::path> baseAtTelemetry_;
    StoreUrls storesAtTelemetry_, storesAtDocuments_;
    std::unique_ptr<testsupport::TempHome> home_;
};

}  // namespace

TEST(AppDelegateTest, SecretIsChosenByIdiom) {
    struct Row {
        ui::Idiom idiom;
        std::string secret;
    };
    const Row rows[] = {
        {ui::Idiom::mac, "c83f0d47-2a9e-4b15-8e6c-f41a07d95b28"},
        {ui::Idiom::pad, "5e2a91c0-7b3d-4f68-a1c4-9d0e6b2f7a13"},
        {ui::Idiom::phone, "5e2a91c0-7b3d-4f68-a1c4-9d0e6b2f7a13"},
        {ui::Idiom::unspecified, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(ui::idiomName(row.idiom).toStdString());
        EXPECT_EQ(AppDelegate::telemetry_secret_for_idiom(row.idiom), row.secret);
    }
    EXPECT_EQ(std::string(AppDelegate::kDesktopSecret).size(), 36u);
    EXPECT_EQ(std::string(AppDelegate::kTouchSecret).size(), 36u);
}

TEST(AppDelegateTest, ConfigurationOfConnectingWindows) {
    AppDelegate delegate(AppLaunchServices{});
    struct Row {
        std::optional<QString> type;
        const char* expected;
    };
    const Row rows[] = {
        {QStringLiteral("main_editor"), "Main Configuration"},
        {QStringLiteral("server_viewer"), "Default Configuration"},
        {QStringLiteral("preferences"), "New Document Configuration"},
        {QStringLiteral("alert_window"), "Alert Configuration"},
        {QStringLiteral("manage_services"), "Manage Services Configuration"},
        {QStringLiteral("single_service"), "Single Service Configuration"},
        {QStringLiteral("Main_Editor"), "Default Configuration"},
        {QStringLiteral("unknown"), "Default Configuration"},
        {std::nullopt, "Default Configuration"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type.value_or(QStringLiteral("<none>")).toStdString());
        ui::ConnectionOptions options;
        if (row.type) options.userActivities.append(ui::UserActivity(*row.type));
        const auto c = delegate.configurationForConnectingSceneSession(nullptr, options);
        EXPECT_EQ(c.name, QString::fromLatin1(row.expected));
        EXPECT_EQ(c.role, ui::SceneSessionRole::windowApplication);
    }
}

TEST_F(LaunchTest, StepsRunInOrder) {
    qputenv("DRAVIX_IDIOM", "mac");
    AppDelegate delegate(recording());
    EXPECT_TRUE(delegate.TELLIUM_KEY.empty());
    EXPECT_TRUE(delegate.didFinishLaunching({}));

    EXPECT_EQ(steps_, (std::vector<std::string>{"start_telemetry", "track_event:Started", "send_usage_metric",
                                                "start_document_manager"}));
    // Before telemetry: the log (run counter), the defaults, the secret and the folders.
    EXPECT_EQ(runAtTelemetry_, 1);
    EXPECT_TRUE(defaultsAtTelemetry_);
    EXPECT_EQ(secret_, AppDelegate::kDesktopSecret);
    EXPECT_EQ(delegate.TELLIUM_KEY, AppDelegate::kDesktopSecret);
    EXPECT_EQ(services_, (std::vector<std::string>{"TLMAnalytics", "TLMCrashes"}));
    ASSERT_TRUE(baseAtTelemetry_);
    EXPECT_TRUE(std::filesystem::is_directory(*baseAtTelemetry_));
    // The stores come after the metric and before the document tracker.
    EXPECT_FALSE(storesAtTelemetry_.sessions || storesAtTelemetry_.services || storesAtTelemetry_.editor);
    EXPECT_EQ(storesAtDocuments_.sessions, VornAppUrlUtility::sessions_folder_url());
    EXPECT_EQ(storesAtDocuments_.services, VornAppUrlUtility::services_file_url());
    EXPECT_EQ(storesAtDocuments_.editor, VornAppUrlUtility::editor_pref_file_url());
    ASSERT_TRUE(storesAtDocuments_.services);
    EXPECT_TRUE(std::filesystem::exists(*storesAtDocuments_.services));
}

TEST_F(LaunchTest, SecretFollowsTheIdiomAndReachesTheSdk) {
    const std::pair<const char*, const char*> rows[] = {{"mac", AppDelegate::kDesktopSecret},
                                                        {"pad", AppDelegate::kTouchSecret},
                                                        {"phone", AppDelegate::kTouchSecret}};
    for (const auto& [idiom, secret] : rows) {
        SCOPED_TRACE(idiom);
        qputenv("DRAVIX_IDIOM", idiom);
        AppDelegate delegate(recording());
        delegate.didFinishLaunching({});
        EXPECT_EQ(delegate.TELLIUM_KEY, secret);
        EXPECT_EQ(secret_, secret);
    }
}

TEST_F(LaunchTest, EachLaunchRaisesTheRunCounterByOne) {
    UserPrefs::user_defaults().setInteger("xlog_run", 41);
    AppDelegate first(recording());
    first.didFinishLaunching({});
    EXPECT_EQ(UserPrefs::user_defaults().integerForKey("xlog_run"), 42);
    EXPECT_EQ(AMZLogger::shared().log_run, 42);
    AppDelegate second(recording());
    second.didFinishLaunching({});
    EXPECT_EQ(UserPrefs::user_defaults().integerForKey("xlog_run"), 43);
}

TEST_F(LaunchTest, AFailedFolderCreationIsLoggedAndTheStoresGetUnsetUrls) {
    // The data home is a file, so no folder can be made under it.
    const auto blocker = home_->root() / "blocker";
    testsupport::writeFile(blocker, "not a folder");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(blocker.string()));

    AppDelegate delegate(recording());
    EXPECT_TRUE(delegate.didFinishLaunching({}));
    xlog::Log::sharedInstance().flush();

    // The launch went on to its end.
    EXPECT_EQ(steps_.back(), "start_document_manager");
    EXPECT_FALSE(baseAtTelemetry_);
    EXPECT_FALSE(storesAtDocuments_.sessions);
    EXPECT_FALSE(storesAtDocuments_.services);
    EXPECT_FALSE(storesAtDocuments_.editor);
    const auto lines = capture_->lines();
    const auto it = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("VornAppUrlUtility.create_urls() error: ", 0) == 0;
    });
    ASSERT_NE(it, lines.end());
    EXPECT_GT(it->size(), std::string("VornAppUrlUtility.create_urls() error: ").size());
    // The line carries no password or URL credentials; it names the folder that failed.
    EXPECT_NE(it->find("DravixFTPClient"), std::string::npos);
}

TEST_F(LaunchTest, TheMenuHookActsOnTheDesktopsMainMenuOnly) {
    struct Row {
        const char* idiom;
        ui::MenuSystem system;
        bool made;
    };
    const Row rows[] = {{"mac", ui::MenuSystem::main, true},
                        {"mac", ui::MenuSystem::context, false},
                        {"pad", ui::MenuSystem::main, false},
                        {"phone", ui::MenuSystem::main, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.idiom) + (row.system == ui::MenuSystem::main ? " main" : " context"));
        qputenv("DRAVIX_IDIOM", row.idiom);
        AppDelegate delegate(recording());
        ui::MenuBuilder builder(row.system, nullptr);
        delegate.buildMenu(builder);
        EXPECT_EQ(delegate.menuController != nullptr, row.made);
    }
}

TEST_F(LaunchTest, TheFirstWindowIsAFileViewer) {
    AppDelegate delegate(recording());
    prepare_application(delegate);
    ui::Application& app = ui::Application::shared();
    EXPECT_TRUE(app.finishLaunching());
    open_first_window();
    EXPECT_TRUE(app.connectedScenes().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.connectedScenes().size() == 1; }, 3000));
    auto* scene = qobject_cast<FileViewerScene*>(app.connectedScenes().first());
    ASSERT_TRUE(scene);
    EXPECT_EQ(scene->session()->configuration().name, QStringLiteral("Default Configuration"));
    ASSERT_EQ(scene->windows().size(), 1);
    ui::Window* w = scene->windows().first();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DravixFTPClient"));
    EXPECT_EQ(w->size(), QSize(300, 770));
    EXPECT_TRUE(w->isKeyWindow());

    // The new-window command opens another file viewer each time.
    EXPECT_TRUE(ui::sendAction(QStringLiteral("new_scene"), {}, w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.connectedScenes().size() == 2; }, 3000));
    EXPECT_TRUE(qobject_cast<FileViewerScene*>(app.connectedScenes().last()));

    // "preferences" has no window.
    std::optional<ui::SceneError> error;
    app.requestSceneSessionActivation(nullptr, ui::UserActivity(QStringLiteral("preferences")), {},
                                      [&](const ui::SceneError& e) { error = e; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return error.has_value(); }, 3000));
    EXPECT_EQ(error->code, ui::SceneError::Code::configurationUnavailable);
}

// A later launch that asks this copy to come forward before its first window exists: that
// window comes forward once it opens, and no second window opens.
TEST_F(LaunchTest, AskedForwardBeforeTheFirstWindowExistsBringsThatWindowForwardOnce) {
    AppDelegate delegate(recording());
    prepare_application(delegate);
    ui::Application& app = ui::Application::shared();
    EXPECT_TRUE(app.finishLaunching());
    // The window is minimised as it opens (as if the user put it away at once).
    QObject context;
    QObject::connect(&app, &ui::Application::sceneConnected, &context, [](ui::Scene* scene) {
        for (ui::Window* w : scene->windows()) w->setWindowState(w->windowState() | Qt::WindowMinimized);
    });
    open_first_window();
    bring_server_window_forward();
    EXPECT_TRUE(app.connectedScenes().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.connectedScenes().size() >= 1; }, 3000));
    // Past what the requests queued (each hops on the main queue).
    bool past = false;
    dispatch::mainQueue().async([&] { dispatch::mainQueue().async([&] { dispatch::mainQueue().async([&] { past = true; }); }); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return past; }, 3000));
    ASSERT_EQ(app.connectedScenes().size(), 1) << "a second server window opened";
    auto* scene = qobject_cast<FileViewerScene*>(app.connectedScenes().first());
    ASSERT_TRUE(scene);
    ASSERT_EQ(scene->windows().size(), 1);
    EXPECT_FALSE(scene->windows().first()->isMinimized()) << "the window was not brought forward";
}
