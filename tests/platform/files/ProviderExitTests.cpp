// A program that keeps a connected provider in a global until it ends must end well, whatever
// the order of the exit clean-ups of the process and of the transfer and crypto libraries: the
// probe (ProviderExitProbe.cpp) runs as a child process against each kind of local server.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/files/ProviderTestSupport.h"

namespace {

struct Ending {
    int status = -1;  // as waitpid gives it
    std::string output;
};

Ending runProbe(const std::string& kind, const std::string& mode = {}) {
    Ending ending;
    // A probe that has not ended after a minute never will (status 124).
    const std::string command = std::string("timeout 60 '") + DRAVIX_PROVIDER_EXIT_PROBE + "' '" + kind + "' " + mode + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return ending;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) ending.output.append(buffer, n);
    ending.status = ::pclose(pipe);
    return ending;
}

std::string describeStatus(int status) {
    if (status == -1) return "the probe could not be run";
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "status " + std::to_string(status);
}

class ProviderHeldUntilExit : public ::testing::TestWithParam<std::string> {};

TEST_P(ProviderHeldUntilExit, TheProgramEndsWithStatusZero) {
    const filestest::Peer peer = filestest::loadPeer(GetParam());
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const Ending ending = runProbe(GetParam());
    EXPECT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0)
        << describeStatus(ending.status) << "\n" << ending.output;
    // The TLS servers were spoken to over TLS, so the crypto library was in use.
    if (peer.values.count("CERT")) EXPECT_NE(ending.output.find("encrypted: yes"), std::string::npos) << ending.output;
}

// FTP, FTP over explicit and implicit TLS, SFTP, and WebDAV over HTTPS.
INSTANTIATE_TEST_SUITE_P(Servers, ProviderHeldUntilExit,
                         ::testing::Values("pyftpd", "vsftpd-tls", "proftpd-ftps", "sshd", "apache-tls"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

// A server that stops answering does not hold the exit: an SFTP listing still waits for its answer
// (for as long as an hour) when the program ends, and the program ends all the same, well.
TEST(ProviderExit, AServerThatFellSilentDoesNotHoldTheExit) {
    const filestest::Peer peer = filestest::loadPeer("sshd");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const Ending ending = runProbe("sshd", "silent");
    EXPECT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0)
        << describeStatus(ending.status) << "\n" << ending.output;
}

}  // namespace
