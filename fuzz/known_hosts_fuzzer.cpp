// known_hosts lines as OpenSSH and users write them (markers, plain and hashed host patterns,
// negations, "[host]:port"), and the matching of a server's name against their patterns. The
// file is the user's, but its lines are written by whatever edited it and by servers' names.
#include <string>

#include "FuzzCheck.h"
#include "platform/defaults/Base64.h"
#include "platform/files/TrustHostKeys.h"

namespace {

using namespace files::knownhosts;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A name with none of the characters a pattern list reads specially.
bool plainName(std::string_view name) {
    if (name.empty() || name.rfind("|1|", 0) == 0) return false;
    for (const char c : name)
        if (c == ',' || c == '*' || c == '?' || c == '!' || (c >= 'A' && c <= 'Z')) return false;
    return true;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzzText(data, size);

    // The whole input as one line.
    if (const auto entry = parseLine(text)) {
        FUZZ_CHECK(!entry->hosts.empty() && !entry->type.empty());
        for (const char c : entry->hosts + entry->type) FUZZ_CHECK(!blank(c));
        FUZZ_CHECK(text.find(entry->hosts) != std::string_view::npos);
        if (entry->marker == Marker::none) FUZZ_CHECK(entry->hosts[0] != '#' && entry->hosts[0] != '@');
        // The key read back is the key written: encoding the blob gives a text that decodes to it.
        FUZZ_CHECK(::defaults::base64Decode(::defaults::base64Encode(entry->blob)) == entry->blob);
        const std::size_t first = text.find_first_not_of(" \t\r\n");
        FUZZ_CHECK((entry->marker != Marker::none) == (text[first] == '@'));
    }

    // "patterns\nname": the name (lower case, as callers give it) against the patterns.
    const std::size_t newline = text.find('\n');
    if (newline == std::string_view::npos) return 0;
    const std::string_view patterns = text.substr(0, newline);
    std::string name(text.substr(newline + 1));
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const bool matched = matchesHost(patterns, name);
    (void)matched;

    FUZZ_CHECK(matchesHost("*", name));
    if (plainName(name)) {
        // A name names itself, in any case; a negation of it wins wherever it stands.
        FUZZ_CHECK(matchesHost(name, name));
        FUZZ_CHECK(matchesHost(upper(name), name));
        FUZZ_CHECK(!matchesHost("!" + name + ",*", name));
        FUZZ_CHECK(!matchesHost(std::string(patterns) + ",!" + name, name));
        if (patterns.rfind("|1|", 0) != 0) {
            // A pattern more never takes a match away (unless it is a negation).
            if (matched) FUZZ_CHECK(matchesHost(std::string(patterns) + ",zz-other", name));
            FUZZ_CHECK(matchesHost(std::string(patterns) + "," + name, name) ||
                       std::string_view(patterns).find('!') != std::string_view::npos);
        }
    }
    // A hashed name matches the name it was made from, and no other.
    if (name.size() <= 256) {
        const std::string hashed = hashedName(name);
        FUZZ_CHECK(matchesHost(hashed, name));
        FUZZ_CHECK(!matchesHost(hashed, name + "x"));
    }
    return 0;
}
