#pragma once
// The file-viewer window against the local servers: a window opened through the scene layer,
// saved servers with their passwords in the test keyring, waits on the event loop (which runs
// the main queue), and the servers' folders on disk.
#include <QPointer>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/ProviderTestSupport.h"
#include "platform/files/Trust.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "platform/ui/AlertController.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/SceneTestSupport.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornTrust.h"
#include "tandrel/servers/VornFileViewController.h"
#include "support/MainQueueSettle.h"

namespace opstest {

using filestest::Peer;
using Type = EnumManager::VornConnectionType;

inline Type typeOf(const Peer& peer) {
    return peer.url.rfind("http", 0) == 0 ? Type::webDav : peer.kind == "sshd" ? Type::sftp : Type::ftp;
}

// A port of 127.0.0.1 on which nothing listens.
inline int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// The outcome of one connect.
struct Connect {
    int calls = 0;
    std::shared_ptr<VornProviderBucket> bucket;
    std::optional<VornError> error;
};

class OpsTest : public scenetest::SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        app_services_manager().appServicesModel = std::make_shared<VornServicesDataModel>();
        app_sessions_manager().service_sessions.clear();
        sessions_ = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-ops-sessions");
        std::filesystem::create_directories(sessions_);
        app_sessions_manager().url = sessions_;
        declare<FileViewerScene, FileViewerSceneDelegate>(SceneKind::server_viewer);
        ui::Scene* scene = open(SceneKind::server_viewer);
        ASSERT_TRUE(scene);
        window = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
        ASSERT_TRUE(window);
        window->explorer_reload_hook = [this](bool) { ++reloads; };
        settle();
    }
    void TearDown() override {
        dismissAlerts();
        set_app_trust(nullptr);
        keys_.reset();
        SceneTest::TearDown();
        app_sessions_manager().url.reset();
        std::error_code ec;
        std::filesystem::remove_all(sessions_, ec);
        if (!trust_.empty()) std::filesystem::remove_all(trust_, ec);
    }

    // The peer's data (or a skip reason), narrowed to a folder of its own: tests run side by
    // side against the same servers, and each saved server (and so its keychain item) is its own.
    static Peer peer(const std::string& kind) {
        Peer p = filestest::loadPeer(kind);
        if (!p.skipReason.empty()) return p;
        if (auto trust = filestest::peerTrust(p)) set_app_trust(std::move(trust));  // sshd's host key
        const std::string folder = keyringtest::unique("t");
        p.root = p.root / folder;
        filestest::makeDiskFolder(p.root);
        p.url += "/" + folder + "/";
        return p;
    }

    // A saved server as the server form makes it (its id the keychain account), with the
    // password in the keyring unless `password` is empty.
    std::shared_ptr<VornSingleServiceDataModel> saveServer(const std::string& url, const std::string& user,
                                                           Type type, const std::string& password) {
        auto s = std::make_shared<VornSingleServiceDataModel>();
        s->url = url;
        s->username = user;
        s->connection_type = type;
        s->nickname = "test " + url;
        s->id = VornKeyChainUtilityClass::keychain_account(url, user);
        app_services_manager().appServicesModel->saved_services.push_back(s);
        if (!password.empty()) {
            keys_->add(url, s->id);
            auto o = keyringtest::runNow([&](keychain::Completion c) { keychain::writePassword(url, s->id, password, std::move(c)); });
            EXPECT_FALSE(o.failure) << o.failure->text();
        }
        return s;
    }
    std::shared_ptr<VornSingleServiceDataModel> saveServer(const Peer& p) {
        return saveServer(p.url, p.user, typeOf(p), p.password);
    }
    // The FTP-over-TLS peer's folder saved as reached through a relay on `relayPort` in front of
    // it, whose certificate the app trusts there (in a trust store of the test's own).
    std::shared_ptr<VornSingleServiceDataModel> saveServerBehindRelay(const Peer& p, int relayPort) {
        trust_ = std::filesystem::temp_directory_path() / keyringtest::unique("dravix-relay-trust");
        auto trust = std::make_shared<files::Trust>(trust_, trust_ / "none");
        files::Certificate certificate;
        certificate.der = filestest::derOfPem(p.values.at("CERT"));
        EXPECT_TRUE(trust->addCertificate("127.0.0.1", relayPort, certificate));
        set_app_trust(trust);
        const std::string path = p.url.substr(p.url.find('/', std::string("ftp://").size()));
        return saveServer("ftp://127.0.0.1:" + std::to_string(relayPort) + path, p.user, Type::ftp, p.password);
    }

    // Connects through the reset, as the screens do; waits for the completion and a little
    // longer, to see whether it comes a second time.
    Connect connect(const std::string& id) {
        auto out = std::make_shared<Connect>();
        window->reset_service_connection([this, out, id](std::optional<VornError> error) {
            window->connect_after_reset(error, [out](std::shared_ptr<VornProviderBucket> b, std::optional<VornError> e) {
                ++out->calls;
                out->bucket = std::move(b);
                out->error = std::move(e);
            }, id);
        });
        EXPECT_TRUE(waitFor([&] { return out->calls > 0; }, 30000)) << "the connect never completed";
        EXPECT_TRUE(testsupport::settleMainQueue(3));  // a second call would have come by now
        return *out;
    }

    std::optional<VornError> await(const std::function<void(FileViewerSceneDelegate::ErrorCompletion)>& start) {
        auto done = std::make_shared<std::optional<std::optional<VornError>>>();
        start([done](std::optional<VornError> e) { *done = e; });
        EXPECT_TRUE(waitFor([&] { return done->has_value(); }, 30000));
        return done->value_or(std::nullopt);
    }

    // The alert the explorer shows now, if any.
    ui::AlertController* shownAlert() const {
        // The window goes with its scene (the app's exit deletes every scene).
        if (!window || !window->fileView_controller) return nullptr;
        return dynamic_cast<ui::AlertController*>(window->fileView_controller->presentedViewController());
    }
    ui::AlertController* awaitAlert() {
        waitFor([&] { return shownAlert() != nullptr; }, 30000);
        return shownAlert();
    }
    void dismissAlerts() {
        for (int i = 0; i < 5 && window && shownAlert(); ++i) {
            shownAlert()->performAction(0);
            waitFor([&] { return shownAlert() == nullptr; }, 3000);
            settle();
        }
    }

    // Whether the explorer's listing on screen has an entry of that name.
    bool listed(const std::string& name) const {
        auto listing = window->explorer_listing();
        if (!listing || !listing->fileSections) return false;
        for (const auto& e : *listing->fileSections) {
            if (e && e->name == name) return true;
        }
        return false;
    }

    // Weak: the scene owns its delegate, and a test that ends the app sees both go.
    QPointer<FileViewerSceneDelegate> window;
    int reloads = 0;

private:
    std::filesystem::path sessions_;
    std::filesystem::path trust_;
    std::unique_ptr<keyringtest::Cleanup> keys_ = std::make_unique<keyringtest::Cleanup>();
};

#define SKIP_WITHOUT_PEER(p) \
    do {                     \
        if (!(p).skipReason.empty()) GTEST_SKIP() << (p).skipReason; \
    } while (0)

}  // namespace opstest
