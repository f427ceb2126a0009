#pragma once
// The host-key parts of the trust module that the SFTP provider needs beyond Trust.h: the
// question put to the user for a host key that is not trusted, and the reading of OpenSSH's
// known_hosts lines (host patterns, hashed names, markers), kept apart for its tests.

#include <optional>
#include <string>
#include <string_view>

#include "platform/files/Trust.h"

namespace files {

// "host" for port 22, "[host]:port" otherwise, as known_hosts names a server.
std::string knownHostsName(const std::string& host, int port);

// The question for a host key that is unknown (acceptable) or changed (a warning that says how
// to remove the old key; not acceptable). `trust` may be null: the file names are then left out.
// `jumpFor`: the server (as the user named it) that this host is the jump host in front of,
// which the question then names; empty for the server itself.
TrustQuestion hostKeyQuestion(const Trust* trust, const std::string& host, int port, const HostKey& key,
                              TrustVerdict verdict, const std::string& jumpFor = {});

namespace knownhosts {

enum class Marker { none, revoked, certAuthority, unknown };

// One line of a known_hosts file; nothing for comments, blank lines and lines it cannot read.
struct Entry {
    Marker marker = Marker::none;
    std::string hosts;  // the patterns field as written: "a,b,[c]:2222,!d", or "|1|salt|hash"
    std::string type;   // "ssh-ed25519"
    std::string blob;   // the key, decoded
};
std::optional<Entry> parseLine(std::string_view line);

// Whether the patterns field names the server: plain names and "*" / "?" patterns, "!" negation,
// and hashed names ("|1|" + Base64 salt + "|" + Base64 HMAC-SHA1 of the name keyed by the salt).
bool matchesHost(std::string_view patterns, const std::string& name);

// A hashed patterns field for the name, with a fresh random salt.
std::string hashedName(const std::string& name);

}  // namespace knownhosts

}  // namespace files
