// A program that keeps a connected file provider in a global until it ends, as a tool or a test
// program that holds its provider for its whole life does. The provider lists its root folder
// (so its connection is open, logged in and, where the server speaks it, encrypted) and main
// returns: the provider then goes with the program's other globals, in whatever order the exit
// clean-ups of the process and of its libraries run.
//
//   provider_exit_probe <peer kind>   the local server of that kind (tests/peers), with its
//                                     certificate or host key trusted; status 0 when the listing
//                                     worked and the program ended well, 3 when it did not list
//   provider_exit_probe sshd silent   the SSH server through a relay that, once the first listing
//                                     went through, stops passing the server's bytes on; a second
//                                     listing is on its way (waiting for an answer as long as an
//                                     hour) when main returns
//
// The peers' .env files are read from DRAVIX_PEERS_DIR, as the tests read them.
#include <iostream>

#include "platform/files/ProviderTestSupport.h"
#include "platform/files/SshRelay.h"

namespace {

// Made before main, empty: the provider put in it later goes at exit after anything that was
// set up meanwhile (the transfer and crypto libraries among them).
std::shared_ptr<files::FileProvider> g_provider;

}  // namespace

int main(int argc, char** argv) {
    const bool silent = argc == 3 && std::string(argv[2]) == "silent";
    if (argc != 2 && !silent) {
        std::cerr << "usage: provider_exit_probe <peer kind> [silent]\n";
        return 2;
    }
    filestest::Peer peer = filestest::loadPeer(argv[1]);
    if (!peer.skipReason.empty()) {
        std::cerr << peer.skipReason << "\n";
        return 4;
    }
    files::ProviderOptions options;
    options.trust = filestest::peerTrust(peer);
    if (peer.values.count("CERT")) {
        // The peer's own certificate, trusted for its host and port in a trust store of this run.
        const auto folder = filestest::fs::temp_directory_path() / ("dravix-exit-probe-" + std::to_string(::getpid()));
        filestest::fs::remove_all(folder);
        options.trust = std::make_shared<files::Trust>(folder, folder / "known_hosts");
        files::Certificate certificate;
        certificate.der = filestest::derOfPem(peer.values["CERT"]);
        if (!options.trust->addCertificate("127.0.0.1", peer.port, certificate)) {
            std::cerr << "the peer's certificate could not be trusted\n";
            return 3;
        }
    }
    std::string url = peer.url;
    // Never destroyed: it carries the connection until the process ends.
    sshtest::Relay* relay = silent ? new sshtest::Relay(peer.port) : nullptr;
    if (relay) {
        url = "sftp://127.0.0.1:" + std::to_string(relay->port());
        options.workers = 1;
        options.timeouts.reply = std::chrono::hours(1);
    }
    g_provider = files::makeProvider(url, {peer.user, peer.password}, options);
    if (!g_provider) {
        std::cerr << "no provider for " << peer.url << "\n";
        return 3;
    }
    auto [entries, error] = filestest::Sync{*g_provider}.list("/");
    if (error) {
        std::cerr << "the listing failed: " << filestest::describe(error) << "\n";
        return 3;
    }
    if (relay) {
        relay->freeze();
        g_provider->contentsOfDirectory("/", [](auto&&...) {});
    }
    std::cout << "listed " << entries.size() << " entries, encrypted: "
              << (g_provider->connectionEncrypted().value_or(false) ? "yes" : "no") << std::endl;
    return 0;
}
