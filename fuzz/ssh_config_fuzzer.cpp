// ~/.ssh/config text as the mending around libssh takes it: Host lines (negations put first),
// Include (resolved from the .ssh folder, here a folder of a few files made for the run), paths
// with "~" and "%d", and what is read beside libssh for one host (IdentityFile, ServerAlive*,
// Match, a Match exec refused for a name the shell would read as more than a name). The first
// line of the input is the name the host is asked for by (it may come from a link).
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "platform/files/SshSetup.h"

namespace {

using namespace files::ssh;

// A home with a .ssh folder whose files the input's Includes may name.
const std::string& home() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/dravix-ssh-config-fuzz.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        FUZZ_CHECK(made != nullptr);
        const std::filesystem::path ssh = std::filesystem::path(made) / ".ssh";
        std::filesystem::create_directories(ssh / "conf.d");
        std::ofstream(ssh / "extra.conf") << "Host extra !bad\n  User extrauser\n  IdentityFile ~/.ssh/extra_key\n";
        std::ofstream(ssh / "self.conf") << "Include self.conf\nPort 2200\n";
        std::ofstream(ssh / "conf.d" / "web.conf") << "Host web\n  HostName web.example.com\n  IdentityFile %d/.ssh/web\n";
        std::ofstream(ssh / "conf.d" / "match.conf") << "Match host web exec \"true %h\"\n  User matched\n";
        return std::string(made);
    }();
    return folder;
}

// The lines of a text as std::getline splits them.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A line's keyword in lower case ("" for blank and comment lines), read here apart from the code
// under test: the first word, up to a blank or "=".
std::string keywordOf(const std::string& line) {
    const std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] == '#') return {};
    std::string word = line.substr(at, line.find_first_of(" \t=", at) - at);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
}

std::multiset<std::string> wordsAfterKeyword(const std::string& line) {
    std::string value = line.substr(std::min(line.size(), line.find_first_not_of(" \t") + keywordOf(line).size()));
    for (char& c : value)
        if (c == '=' || c == '"' || c == '\r') c = ' ';
    std::istringstream in(value);
    std::multiset<std::string> out;
    for (std::string w; in >> w;) out.insert(w);
    return out;
}

// Whether an Include in the input could name a file outside the made folder (an absolute or
// parent pattern): such inputs are left out, the run reads no file of the machine.
bool reachesOut(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("include") == std::string::npos) return false;
    if (lower.find("..") != std::string::npos) return true;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (lower[i] != '/') continue;
        const char before = i ? lower[i - 1] : ' ';
        if (!(std::isalnum(static_cast<unsigned char>(before)) || std::strchr("~._-*?", before))) return true;
    }
    return false;
}

bool shellSpecial(std::string_view name) {
    if (!name.empty() && name.front() == '-') return true;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ' ' || std::strchr("'\"`$\\;&|<>(){}[]*?~#!", c)) return true;
    }
    return false;
}

// A line's tokens as libssh 0.10's configuration parser takes them (lower case): a token in
// double quotes runs to the closing quote (or the line's end), any other ends at a blank or "=".
std::vector<std::string> libsshTokens(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    auto isBlank = [&](std::size_t at) { return line[at] == ' ' || line[at] == '\t'; };
    while (true) {
        while (i < line.size() && isBlank(i)) ++i;
        if (i >= line.size()) break;
        std::string token;
        bool hadEqual = false;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') token += line[i++];
            if (i < line.size()) ++i;
        } else {
            while (i < line.size() && !isBlank(i) && line[i] != '=') token += line[i++];
            if (i < line.size()) {
                hadEqual = line[i] == '=';
                ++i;
            }
        }
        while (i < line.size() && (isBlank(i) || (!hadEqual && line[i] == '='))) ++i;
        for (char& c : token) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.push_back(token);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = fuzzText(data, size);
    if (reachesOut(input)) return 0;
    const std::size_t newline = input.find('\n');
    const std::string alias(newline == std::string_view::npos ? std::string_view() : input.substr(0, newline));
    const std::string text(newline == std::string_view::npos ? input : input.substr(newline + 1));
    const std::string folder = home() + "/.ssh";

    const std::string mended = mendedConfig(text, folder, home());
    const std::vector<std::string> in = linesOf(text), out = linesOf(mended);
    bool includes = false;
    for (const std::string& line : in) includes = includes || keywordOf(line) == "include";
    if (!includes) {
        // Line for line, each keeping its keyword; a Host line its patterns, negations first;
        // a path its value with the home put in; and mending again changes nothing.
        FUZZ_CHECK(in.size() == out.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::string keyword = keywordOf(in[i]);
            FUZZ_CHECK(keywordOf(out[i]) == keyword);
            if (keyword == "host") {
                FUZZ_CHECK(wordsAfterKeyword(in[i]) == wordsAfterKeyword(out[i]));
                bool plainSeen = false;
                std::istringstream words(out[i].substr(4));
                for (std::string w; words >> w;) {
                    if (w.front() != '!') plainSeen = true;
                    else FUZZ_CHECK(!plainSeen);
                }
            } else if (keyword != "identityfile" && keyword != "identityagent" && keyword != "userknownhostsfile" &&
                       keyword != "certificatefile" && keyword != "controlpath") {
                FUZZ_CHECK(out[i] == in[i]);
            }
        }
        // (The mending is done once, and two things in it are not for a second pass: a path
        // "~%d..." becomes "~/...", the home again; a value in quotes loses one pair each time.)
        if (text.find("~%") == std::string::npos && text.find('"') == std::string::npos)
            FUZZ_CHECK(mendedConfig(mended, folder, home()) == mended);
    } else {
        // The file's own lines stay, in their order, among those the Includes brought.
        std::size_t at = 0;
        for (const std::string& line : in) {
            const std::string keyword = keywordOf(line);
            if (keyword == "include") continue;
            while (at < out.size() && keywordOf(out[at]) != keyword) ++at;
            FUZZ_CHECK(at < out.size());
            ++at;
        }
    }

    // What libssh parses for the host: the same lines but the IdentityFiles, a Match exec never
    // handed over with a name the shell would read as more than a name.
    HostValues values;
    const std::string forLibssh = readHostValues(mended, alias, size % 2 ? "deploy" : "", values);
    const std::vector<std::string> parsed = linesOf(forLibssh);
    std::size_t identityLines = 0;
    for (const std::string& line : out) identityLines += keywordOf(line) == "identityfile";
    FUZZ_CHECK(parsed.size() == out.size() - identityLines);
    for (const std::string& line : parsed) {
        FUZZ_CHECK(keywordOf(line) != "identityfile");
        // As libssh's parser reads the line: quoted tokens, others ended by blanks or "=".
        const std::vector<std::string> tokens = libsshTokens(line);
        if (!tokens.empty() && tokens[0] == "match" && shellSpecial(alias))
            for (const std::string& token : tokens) FUZZ_CHECK(token != "exec" && token != "!exec");
    }
    std::set<std::string> files(values.identityFiles.begin(), values.identityFiles.end());
    FUZZ_CHECK(files.size() == values.identityFiles.size() && !files.count(""));
    std::set<std::string> keywords;
    for (const auto& [keyword, value] : values.first) FUZZ_CHECK(keywords.insert(keyword).second);
    return 0;
}
