#pragma once
// For tests that run the real app as a child process: a saved FTP (or SFTP) server in the test's home, as
// the server form leaves it, with its password in the session's keyring; and a command through
// the control channel of the program's test build (AppTestControl.h).
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/ProviderTestSupport.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "support/TempHome.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesDataModel.h"

namespace apptest {

// Saves the server (its id into `id`); fails the test when it cannot.
inline void save_ftp_server(const testsupport::TempHome& home, const filestest::Peer& peer, const std::string& nickname,
                            keyringtest::Cleanup& keys, std::string& id,
                            EnumManager::VornConnectionType type = EnumManager::VornConnectionType::ftp) {
    id = VornKeyChainUtilityClass::keychain_account(peer.url, peer.user);
    auto server = std::make_shared<VornSingleServiceDataModel>();
    server->id = id;
    server->url = peer.url;
    server->username = peer.user;
    server->nickname = nickname;
    server->connection_type = type;
    VornServicesDataModel services;
    services.saved_services.push_back(server);
    const auto text = services.toJsonString();
    ASSERT_TRUE(text);
    testsupport::writeFile(home.data() / "DravixFTPClient" / "Services" / "app_services.json", *text);
    keys.add(peer.url, id);
    const std::string url = peer.url, password = peer.password;
    auto stored = keyringtest::runNow(
        [&](keychain::Completion c) { keychain::writePassword(url, id, password, std::move(c)); });
    ASSERT_FALSE(stored.failure);
}

// Sends a command and waits for its answer: the expected line, or any "failed ..." line, among the
// lines the app writes from now on (`lines`, filled as they come). Empty when none came in time.
inline std::string command(QProcess& app, const std::vector<std::string>& lines, const std::string& line,
                           const std::string& expected, int ms) {
    const size_t from = lines.size();
    app.write((line + "\n").c_str());
    std::string answer;
    QTest::qWaitFor(
        [&] {
            for (size_t i = from; i < lines.size(); ++i) {
                if (lines[i] == expected || lines[i].rfind("failed", 0) == 0) {
                    answer = lines[i];
                    return true;
                }
            }
            return app.state() == QProcess::NotRunning;
        },
        ms);
    return answer;
}

}  // namespace apptest
