// A program that logs in to an SFTP server the way the app does, as whatever user runs it, and
// lists its root folder: the SSH tests run it as a user of their own (the user database's home
// is then the test's), with HOME naming another folder, to see which files the app reads.
//
//   ssh_home_probe <url> <known_hosts>   no user and no password: the configuration's and the
//                                        keys'; host keys trusted as known_hosts has them
//
// Status 0 when the listing worked, 3 when it did not (with why on stderr), 2 for bad use.
#include <iostream>

#include "platform/files/ProviderTestSupport.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: ssh_home_probe <url> <known_hosts>\n";
        return 2;
    }
    const filestest::fs::path known = argv[2];
    files::ProviderOptions options;
    options.trust = std::make_shared<files::Trust>(known.parent_path() / "app", known);
    auto provider = files::makeProvider(argv[1], {"", ""}, options);
    if (!provider) {
        std::cerr << "no provider for " << argv[1] << "\n";
        return 3;
    }
    auto [entries, error] = filestest::Sync{*provider}.list("/");
    if (error) {
        std::cerr << "the listing failed: " << filestest::describe(error) << "\n";
        return 3;
    }
    std::cout << "listed " << entries.size() << " entries" << std::endl;
    return 0;
}
