// A program that keeps a connected file provider in a global until it ends, as a tool or a test
// program that holds its provider for its whole life does. The provider lists its root folder
// (so its connection is open, logged in and, where the server speaks it, encrypted) and main
// returns: the provider then goes with the program's other globals, in whatever order the exit
// clean-ups of the process and of its libraries run.
//
//   provider_exit_probe <peer kind>   the local server of that kind (tests/peers), with its
//                                     certificate or host key trusted; status 0 when the listing
//                                     worked and the program ended well, 3 when it did not list
//
// The peers' .env files are read from DRAVIX_PEERS_DIR, as the tests read them.
#include <iostream>

#include "platform/files/ProviderTestSupport.h"

namespace {

// Made before main, empty: the provider put in it later goes at exit after anything that was
// set up meanwhile (the transfer and crypto libraries among them).
std::shared_ptr<files::FileProvider> g_provider;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: provider_exit_probe <peer kind>\n";
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
    g_provider = files::makeProvider(peer.url, {peer.user, peer.password}, options);
    if (!g_provider) {
        std::cerr << "no provider for " << peer.url << "\n";
        return 3;
    }
    auto [entries, error] = filestest::Sync{*g_provider}.list("/");
    if (error) {
        std::cerr << "the listing failed: " << filestest::describe(error) << "\n";
        return 3;
    }
    std::cout << "listed " << entries.size() << " entries, encrypted: "
              << (g_provider->connectionEncrypted().value_or(false) ? "yes" : "no") << std::endl;
    return 0;
}
