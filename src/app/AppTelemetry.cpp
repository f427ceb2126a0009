#include "app/AppTelemetry.h"

#include "app/AppLifecycleMapper.h"

#include <openssl/rand.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>

#include "platform/dispatch/Dispatch.h"
#include "platform/keychain/Keychain.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tellium/TLMTellium.h"
#include "tellium/util/TLMApplicationLifecycle.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium_analytics/TLMAnalytics.h"
#include "tellium_crashes/TLMCrashes.h"

namespace {

constexpr const char* kKeyringService = "DravixFTPClient Telemetry";
constexpr const char* kKeyringAccount = "target-token-key";
constexpr auto kKeyringWait = std::chrono::seconds(10);

std::optional<std::string> info_text(const char* key) {
    const auto& info = app_bundle_info();
    auto it = info.find(key);
    if (it == info.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// The key travels through the keyring as hex text; only text that is exactly a key's hex form
// (fromHex skips whatever is not a digit) reads back as a key.
std::optional<std::string> key_from_hex(const std::string& text) {
    const QByteArray hex = QByteArray::fromStdString(text);
    const QByteArray key = QByteArray::fromHex(hex);
    if (key.toHex() != hex.toLower()) return std::nullopt;
    return key.toStdString();
}

// The key of the stored target tokens from the keyring, made and stored the first time. The SDK
// asks on its log queue; the keyring answers on the main queue, so the wait is bounded and the
// main thread never waits here.
std::optional<std::string> keyring_key() {
    if (dispatch::mainQueue().isCurrent()) return std::nullopt;
    auto read = std::make_shared<std::promise<std::pair<std::optional<std::string>, bool>>>();
    auto answer = read->get_future();
    keychain::readPassword(kKeyringService, kKeyringAccount,
                           [read](std::optional<std::string> secret, std::optional<keychain::Failure> failure) {
                               const bool missing = failure && failure->kind == keychain::Failure::Kind::itemNotFound;
                               read->set_value({std::move(secret), missing});
                           });
    if (answer.wait_for(kKeyringWait) != std::future_status::ready) return std::nullopt;
    auto [secret, missing] = answer.get();
    if (secret) return key_from_hex(*secret);
    if (!missing) return std::nullopt;
    std::string fresh(32, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(fresh.data()), static_cast<int>(fresh.size())) != 1) {
        return std::nullopt;
    }
    auto written = std::make_shared<std::promise<bool>>();
    auto done = written->get_future();
    keychain::addPassword(kKeyringService, kKeyringAccount, QByteArray::fromStdString(fresh).toHex().toStdString(),
                          [written](std::optional<keychain::Failure> failure) { written->set_value(!failure); });
    if (done.wait_for(kKeyringWait) != std::future_status::ready || !done.get()) return std::nullopt;
    return fresh;
}

void install_hooks() {
    TLMPlatformHooks hooks;
    hooks.runOnMainThread = [](std::function<void()> task) { dispatch::mainQueue().async(std::move(task)); };
    hooks.isMainThread = [] { return dispatch::mainQueue().isCurrent(); };
    // Read now, on the GUI thread; the SDK may ask from any thread.
    std::optional<TLMScreenSize> screen;
    if (auto* primary = QGuiApplication::primaryScreen()) {
        const qreal ratio = primary->devicePixelRatio();
        const QSize size = primary->size();
        screen = TLMScreenSize{static_cast<int>(size.width() * ratio), static_cast<int>(size.height() * ratio)};
    }
    hooks.screenSize = [screen] { return screen; };
    TLMAppInfo info{info_text("CFBundleShortVersionString"), info_text("CFBundleVersion"),
                    info_text("CFBundleIdentifier")};
    hooks.appInfo = [info] { return info; };
    const nlohmann::json bundle = app_bundle_info();
    hooks.infoDictionary = [bundle] { return bundle; };
    hooks.targetTokenKey = keyring_key;
    TLMPlatform::setHooks(std::move(hooks));
}

// The application's states as the SDK's life-cycle moments.
void observe_application_states() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return;
    auto mapper = std::make_shared<AppLifecycleMapper>();
    QObject::connect(app, &QGuiApplication::applicationStateChanged, app,
                     [mapper](Qt::ApplicationState state) { mapper->applicationStateChanged(state); });
    QObject::connect(app, &QCoreApplication::aboutToQuit, app,
                     [] { TLMApplicationLifecycle::shared().post(TLMApplicationEvent::willTerminate); });
}

const TLMServiceClass* service_class_named(const std::string& name) {
    if (name == TLMAnalytics::kClassName) return TLMAnalytics::serviceClassObject();
    if (name == TLMCrashes::kClassName) return TLMCrashes::serviceClassObject();
    return nullptr;  // the SDK logs the unknown service
}

}  // namespace

bool app_telemetry_skipped() {
    const char* skip = std::getenv("DRAVIX_SKIP_TELEMETRY");
    return skip && std::string(skip) == "1";
}

void start_app_telemetry(const std::string& app_secret, const std::vector<std::string>& service_class_names) {
    if (app_telemetry_skipped()) return;
    install_hooks();
    observe_application_states();
    if (const char* level = std::getenv("DRAVIX_TELEMETRY_LOG_LEVEL"); level && *level) {
        const int value = std::atoi(level);
        if (value >= TLMLogLevelVerbose && value <= TLMLogLevelNone) TLMTellium::setLogLevel(static_cast<TLMLogLevel>(value));
    }
    if (const char* url = std::getenv("DRAVIX_TELEMETRY_URL"); url && *url) TLMTellium::setLogUrl(url);
    TLMServiceClasses classes;
    for (const auto& name : service_class_names) classes.push_back(service_class_named(name));
    TLMTellium::start(app_secret, classes);
}

void track_app_event(const std::string& event_name) {
    if (app_telemetry_skipped()) return;
    TLMAnalytics::trackEvent(event_name);
}
