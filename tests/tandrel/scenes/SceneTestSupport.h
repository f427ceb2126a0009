#pragma once
// Shared pieces of the scene tests: a fresh home and application object per test, an
// application delegate that picks configurations as the app does, and waits that spin the
// event loop (which runs the main queue).
#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/ui/scenes/Application.h"
#include "support/TempHome.h"
#include "tandrel/scenes/SceneManager.h"

namespace scenetest {

class TestAppDelegate : public ui::ApplicationDelegate {
public:
    ui::SceneConfiguration configurationForConnectingSceneSession(ui::SceneSession*,
                                                                  const ui::ConnectionOptions& options) override {
        return SceneManager::configuration_for_connecting(options);
    }
    void buildMenu(ui::MenuBuilder& builder) override {
        (void)builder;
        ++menuBuilds;
    }
    int menuBuilds = 0;
};

// A scene delegate that writes down its callbacks and makes one window.
class RecordingSceneDelegate : public ui::SceneDelegate {
public:
    explicit RecordingSceneDelegate(std::vector<std::string>* log) : log_(log) {}
    void willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions& options) override {
        log_->push_back("willConnect");
        lastOptions = options;
        auto* w = new ui::Window(scene);
        setWindow(w);
        w->makeKeyAndVisible();
    }
    void sceneWillEnterForeground(ui::Scene*) override { log_->push_back("willEnterForeground"); }
    void sceneDidBecomeActive(ui::Scene*) override { log_->push_back("didBecomeActive"); }
    void sceneWillResignActive(ui::Scene*) override { log_->push_back("willResignActive"); }
    void sceneDidEnterBackground(ui::Scene*) override { log_->push_back("didEnterBackground"); }
    void sceneDidDisconnect(ui::Scene*) override { log_->push_back("didDisconnect"); }
    ui::ConnectionOptions lastOptions;

private:
    std::vector<std::string>* log_;
};

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<testsupport::TempHome>();
        defaults::UserDefaults::resetStandardForTesting();
        ui::Application& app = ui::Application::shared();
        app.resetForTesting();
        app.setDelegate(&delegate);
        SceneManager::install_scene_links();
        QObject::connect(&app, &ui::Application::sceneConnected, &counter, [this] { ++connected; });
        QObject::connect(&app, &ui::Application::sceneDisconnected, &counter, [this] { ++disconnected; });
    }
    void TearDown() override {
        ui::Application::shared().resetForTesting();
        QTest::qWait(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        home_.reset();
        defaults::UserDefaults::resetStandardForTesting();
    }

    static ui::Application& app() { return ui::Application::shared(); }
    static bool waitFor(const std::function<bool()>& done, int ms = 3000) { return QTest::qWaitFor(done, ms); }
    // Lets every queued request run.
    static void settle() {
        for (int i = 0; i < 5; ++i) QTest::qWait(10);
    }

    template <class S, class D>
    void declare(SceneKind kind) {
        app().manifest().declare(
            scene_kind_configuration_name(kind), [](ui::SceneSession* s) { return std::make_unique<S>(s); },
            [] { return std::make_unique<D>(); });
    }

    // Asks for a window of the kind and waits until it has connected.
    ui::Scene* open(SceneKind kind, std::optional<QVariantMap> info = std::nullopt) {
        const int before = connected;
        SceneManager::request_scene(kind, std::move(info), nullptr);
        if (!waitFor([&] { return connected > before; })) return nullptr;
        return app().connectedScenes().isEmpty() ? nullptr : app().connectedScenes().last();
    }

    TestAppDelegate delegate;
    QObject counter;
    int connected = 0;
    int disconnected = 0;

private:
    std::unique_ptr<testsupport::TempHome> home_;
};

}  // namespace scenetest
