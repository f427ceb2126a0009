// The SSH set-up of SshSetup.h, over libssh's options and configuration parser.

#include "platform/files/SshSetup.h"

#include <glob.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <libssh/callbacks.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <unistd.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/defaults/Base64.h"
#include "platform/files/Trust.h"
#include "platform/files/TrustHostKeys.h"

namespace files::ssh {

namespace {

// The algorithms that show a host key of a known_hosts type.
std::vector<std::string> algorithmsOf(const std::string& type) {
    if (type == "ssh-rsa") return {"rsa-sha2-512", "rsa-sha2-256", "ssh-rsa"};
    return {type};
}

// libssh 0.10's own list, strongest first (those it cannot use are dropped when it is set).
const char* const kUsual[] = {"ssh-ed25519",
                              "ecdsa-sha2-nistp521",
                              "ecdsa-sha2-nistp384",
                              "ecdsa-sha2-nistp256",
                              "sk-ssh-ed25519@openssh.com",
                              "sk-ecdsa-sha2-nistp256@openssh.com",
                              "rsa-sha2-512",
                              "rsa-sha2-256"};

// The keywords libssh's parser passes over, as its log lines on this thread tell them while a
// LogWatch is alive. libssh's log level is the process's: it is raised while any thread watches.
struct LogWatch {
    std::vector<std::string> unsupported;  // keywords passed over

    LogWatch() {
        previous_ = current();
        current() = this;
        std::lock_guard lock(levelMutex());
        if (watching()++ == 0) {
            ssh_set_log_callback(&LogWatch::line);
            ssh_set_log_level(SSH_LOG_DEBUG);
        }
    }
    ~LogWatch() {
        current() = previous_;
        std::lock_guard lock(levelMutex());
        if (--watching() == 0) ssh_set_log_level(SSH_LOG_NOLOG);
    }
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    static LogWatch*& current() {
        thread_local LogWatch* watch = nullptr;
        return watch;
    }
    // Only the lines below are looked at; the others (and their contents) are dropped.
    static void line(int, const char*, const char* text, void*) {
        LogWatch* watch = current();
        if (!watch || !text) return;
        const std::string_view t(text);
        const std::string_view marker = "Unsupported option: ";
        const auto at = t.find(marker);
        if (at == std::string_view::npos) return;
        const std::string_view option = t.substr(at + marker.size());
        std::string keyword(option.substr(0, option.find(',')));
        if (std::find(watch->unsupported.begin(), watch->unsupported.end(), keyword) == watch->unsupported.end())
            watch->unsupported.push_back(std::move(keyword));
    }

private:
    static std::mutex& levelMutex() {
        static std::mutex m;
        return m;
    }
    static int& watching() {
        static int n = 0;
        return n;
    }
    LogWatch* previous_ = nullptr;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The characters of a name that a shell would read as more than the name: quoting, expansions
// ("$", "`", "~", globs, braces), command separators and redirections, comments, history,
// blanks and control characters. Empty: none.
std::string shellCharacters(const std::string& name) {
    std::string found;
    auto note = [&](char c) {
        if (found.find(c) == std::string::npos) found += c;
    };
    if (!name.empty() && name.front() == '-') note('-');  // read as an option
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ' ' || std::strchr("'\"`$\\;&|<>(){}[]*?~#!", c)) note(c);
    }
    return found;
}

// The characters as a message shows them: "$", "(" and a blank.
std::string shownCharacters(const std::string& characters) {
    std::string out;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const auto u = static_cast<unsigned char>(characters[i]);
        const std::string one = characters[i] == ' '  ? "a blank"
                                : u < 0x20 || u == 0x7f ? "a control character"
                                                        : "\"" + std::string(1, characters[i]) + "\"";
        if (out.find(one) != std::string::npos) continue;
        out += (out.empty() ? "" : i + 1 == characters.size() ? " and " : ", ") + one;
    }
    return out;
}

std::string optionText(ssh_session session, ssh_options_e option) {
    char* value = nullptr;
    if (ssh_options_get(session, option, &value) != SSH_OK || !value) return {};
    std::string out = value;
    ssh_string_free_char(value);
    return out;
}

// A configuration line's keyword (lower case) and value ("Key value", "Key=value", "Key = value";
// quotes around the value dropped).
std::pair<std::string, std::string> keywordAndValue(const std::string& line) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] == '#') return {};
    const std::size_t end = line.find_first_of(" \t=", at);
    std::string keyword = lower(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    std::string value;
    if (end != std::string::npos) {
        at = line.find_first_not_of(" \t", end);
        if (at != std::string::npos && line[at] == '=') at = line.find_first_not_of(" \t", at + 1);
        if (at != std::string::npos) value = line.substr(at);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return {keyword, value};
}

// A path as OpenSSH writes it with the home put in: "~" or "~/..." at the start and every "%d"
// ("%%" stays, for libssh's own tokens). libssh 0.10 takes "%d" for the .ssh folder, and "~" for
// the user's home without a way to name another.
std::string withHome(const std::string& path, const std::string& home) {
    std::string out;
    std::size_t i = 0;
    if (path == "~" || path.rfind("~/", 0) == 0) {
        out = home;
        i = 1;
    }
    for (; i < path.size(); ++i) {
        if (path[i] == '%' && i + 1 < path.size()) {
            if (path[i + 1] == 'd') out += home;
            else out += path.substr(i, 2);
            ++i;
        } else {
            out += path[i];
        }
    }
    return out;
}

// Keywords whose value is a path of the user's: "~" and "%d" are the home (see withHome).
bool takesPath(const std::string& keyword) {
    return keyword == "identityfile" || keyword == "identityagent" || keyword == "userknownhostsfile" ||
           keyword == "certificatefile" || keyword == "controlpath";
}

std::string configText(const std::string& file, const std::string& includeFolder, const std::string& home, int depth);

// The mending of one file's text (see mendedConfig), `depth` files deep in Includes.
std::string mendedText(const std::string& text, const std::string& includeFolder, const std::string& home, int depth) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto [name, value] = keywordAndValue(line);
        std::istringstream words(value);
        if (name == "host") {
            std::vector<std::string> negated, plain;
            for (std::string pattern; words >> pattern;) (pattern.front() == '!' ? negated : plain).push_back(pattern);
            out += "Host";
            for (const auto* list : {&negated, &plain})
                for (const std::string& pattern : *list) out += " " + pattern;
            out += "\n";
        } else if (name == "include") {
            for (std::string pattern; words >> pattern;) {
                if (pattern == "~" || pattern.rfind("~/", 0) == 0) pattern = withHome(pattern, home);
                else if (pattern.front() != '/') pattern = includeFolder + "/" + pattern;
                glob_t found{};
                if (::glob(pattern.c_str(), 0, nullptr, &found) == 0) {
                    for (std::size_t i = 0; i < found.gl_pathc; ++i)
                        out += configText(found.gl_pathv[i], includeFolder, home, depth + 1);
                }
                ::globfree(&found);
            }
        } else if (takesPath(name)) {
            out += name + " \"" + withHome(value, home) + "\"\n";
        } else {
            out += line + "\n";
        }
    }
    return out;
}

// One file's mended text (see mendedConfig); nothing for a file that cannot be read, or past
// 16 Includes deep (a file that includes itself).
std::string configText(const std::string& file, const std::string& includeFolder, const std::string& home, int depth) {
    std::ifstream in(file);
    if (!in || depth > 16) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return mendedText(text.str(), includeFolder, home, depth);
}

// A field of the user database's entry for the real user id; the environment's `variable` when
// there is no entry (a container run under a bare user id).
std::string fromUserDatabase(char* passwd::*field, const char* variable) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found && found->*field && *(found->*field)) return found->*field;
    const char* value = std::getenv(variable);
    return value ? value : "";
}

// The local user's name (%u, and Match localuser).
std::string localUser() { return fromUserDatabase(&passwd::pw_name, "USER"); }

// Whether every criterion of a Match line holds for the host, as OpenSSH reads them: "all";
// "host" (the HostName so far, else the name as written), "originalhost" (the name as written),
// "user" (the user the app was given, else the User so far, else the local user), "localuser",
// each of these with a pattern list and each may be negated with "!"; "final" holds (OpenSSH's
// last pass). "canonical" does not (no name is canonicalised here), nor "exec" (its command is
// not run here) nor any other.
bool matchHolds(const std::string& criteria, const std::string& alias, const std::string& requestUser,
                const HostValues& soFar) {
    std::istringstream read(criteria);
    std::vector<std::string> words;
    for (std::string word; read >> word;) words.push_back(word);
    if (words.empty()) return false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string name = lower(words[i]);
        const bool negated = name.front() == '!';
        if (negated) name.erase(0, 1);
        bool holds = false;
        if (name == "all" || name == "final") {
            holds = true;
        } else if (name != "canonical") {
            if (i + 1 >= words.size()) return false;
            const std::string patterns = lower(words[++i]);
            std::string subject;
            if (name == "host") {
                subject = soFar.value("hostname").value_or(alias);
                if (const auto token = subject.find("%h"); token != std::string::npos) subject.replace(token, 2, alias);
            } else if (name == "originalhost") {
                subject = alias;
            } else if (name == "user") {
                subject = !requestUser.empty() ? requestUser : soFar.value("user").value_or(localUser());
            } else if (name == "localuser") {
                subject = localUser();
            } else {
                return false;
            }
            holds = knownhosts::matchesHost(patterns, lower(subject));
        }
        if (holds == negated) return false;
    }
    return true;
}

// Has libssh parse the text. libssh 0.10 parses configuration only from a file it opens by name:
// the text goes into an anonymous in-memory file of this process (memfd), which libssh opens by
// its /proc/self/fd path. It is never on a disk, no other user may open it, and it goes when it
// is closed, whatever becomes of the process.
void parseText(ssh_session session, const std::string& text) {
    const int fd = ::memfd_create("ssh_config", MFD_CLOEXEC);
    if (fd < 0) return;
    bool written = true;
    for (std::size_t at = 0; written && at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) at += static_cast<std::size_t>(n);
    }
    if (written) ssh_options_parse_config(session, ("/proc/self/fd/" + std::to_string(fd)).c_str());
    ::close(fd);
}

// The SHA-1 of the text in hexadecimal (OpenSSH's %C).
std::string sha1Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr) != 1) return {};
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

// An IdentityFile or IdentityAgent path with OpenSSH's tokens put in: %%, %C, %h, %i, %k, %L,
// %l, %n, %p, %r, %u ("~" and %d are in already, see withHome). With a token OpenSSH does not
// take there, the path stays as written (and names no file).
std::string withTokens(const std::string& path, const HostConfig& host) {
    if (path.find('%') == std::string::npos) return path;
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    const std::string local = name;
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%' || i + 1 == path.size()) {
            out += path[i];
            continue;
        }
        switch (path[++i]) {
            case '%': out += '%'; break;
            case 'C': out += sha1Hex(local + host.host + std::to_string(host.port) + host.user); break;
            case 'h': out += host.host; break;
            case 'i': out += std::to_string(::getuid()); break;
            case 'k':
            case 'n': out += host.alias; break;
            case 'L': out += local.substr(0, local.find('.')); break;
            case 'l': out += local; break;
            case 'p': out += std::to_string(host.port); break;
            case 'r': out += host.user; break;
            case 'u': out += localUser(); break;
            default: return path;
        }
    }
    return out;
}

std::mutex homeMutex;
std::optional<std::string> homeForTests;

}  // namespace

std::string mendedConfig(const std::string& text, const std::string& includeFolder, const std::string& home) {
    return mendedText(text, includeFolder, home, 0);
}

std::string readHostValues(const std::string& text, const std::string& alias, const std::string& requestUser,
                           HostValues& into) {
    static const char* const kRead[] = {"serveraliveinterval", "serveralivecountmax", "identitiesonly",
                                        "identityagent",       "hostname",            "user"};
    std::string forLibssh;
    std::istringstream lines(text);
    bool applies = true;
    const bool unsafeName = !shellCharacters(alias).empty();
    for (std::string line; std::getline(lines, line);) {
        // libssh reads a line's words otherwise than keywordAndValue (a quoted keyword or
        // criterion is one word, "=" ends a word anywhere, a line is cut every 1023 bytes), so
        // for such a name any line that could reach libssh as a Match exec is replaced whole.
        if (unsafeName) {
            const std::string folded = lower(line);
            if (folded.find("match") != std::string::npos && folded.find("exec") != std::string::npos) {
                forLibssh += "Match originalhost !*\n";
                applies = false;
                continue;
            }
        }
        const auto [keyword, value] = keywordAndValue(line);
        if (keyword == "host") {
            std::istringstream words(value);
            std::string patterns;
            for (std::string pattern; words >> pattern;) patterns += (patterns.empty() ? "" : ",") + lower(pattern);
            applies = knownhosts::matchesHost(patterns, lower(alias));
        } else if (keyword == "match") {
            applies = matchHolds(value, alias, requestUser, into);
        } else if (keyword == "identityfile") {
            if (applies && !value.empty() &&
                std::find(into.identityFiles.begin(), into.identityFiles.end(), value) == into.identityFiles.end())
                into.identityFiles.push_back(value);
            continue;
        } else if (applies && !into.value(keyword)) {
            for (const char* read : kRead)
                if (keyword == read) into.first.emplace_back(keyword, value);
        }
        forLibssh += line + "\n";
    }
    return forLibssh;
}

std::string userHome() {
    {
        std::lock_guard lock(homeMutex);
        if (homeForTests) return *homeForTests;
    }
    return fromUserDatabase(&passwd::pw_dir, "HOME");
}

std::optional<std::uint64_t> bytesReceived(int fd) {
    if (fd < 0) return std::nullopt;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return std::nullopt;
    return info.tcpi_bytes_received;
}

void setUserHomeForTests(std::optional<std::string> home) {
    std::lock_guard lock(homeMutex);
    homeForTests = std::move(home);
}

std::string hostKeyAlgorithms(const std::vector<std::string>& knownTypes) {
    std::vector<std::string> order;
    auto add = [&](const std::string& algorithm) {
        if (std::find(order.begin(), order.end(), algorithm) == order.end()) order.push_back(algorithm);
    };
    for (const std::string& type : knownTypes)
        for (const std::string& algorithm : algorithmsOf(type)) add(algorithm);
    for (const char* algorithm : kUsual) add(algorithm);
    std::string out;
    for (const std::string& algorithm : order) out += (out.empty() ? "" : ",") + algorithm;
    return out;
}

HostConfig configure(ssh_session session, const HostRequest& request) {
    ssh_options_set(session, SSH_OPTIONS_HOST, request.host.c_str());
    if (!request.sshFolder.empty()) ssh_options_set(session, SSH_OPTIONS_SSH_DIR, request.sshFolder.c_str());
    const std::string home = request.sshFolder.substr(0, request.sshFolder.rfind('/'));
    // The files are read here, once, and not again by ssh_connect: the user's, then the
    // system's (the first value that applies wins, across both).
    LogWatch watch;
    int no = 0;
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    HostValues values;
    auto read = [&](const std::string& file, const std::string& includeFolder) {
        if (::access(file.c_str(), R_OK) != 0) return;
        parseText(session, readHostValues(configText(file, includeFolder, home, 0), request.host, request.user, values));
    };
    if (!request.sshFolder.empty()) read(request.sshFolder + "/config", request.sshFolder);
    read("/etc/ssh/ssh_config", "/etc/ssh");
    // As on OpenSSH's command line, what the user wrote in the app wins over the files.
    if (request.port > 0 && request.port != 22) ssh_options_set(session, SSH_OPTIONS_PORT, &request.port);
    if (!request.user.empty()) ssh_options_set(session, SSH_OPTIONS_USER, request.user.c_str());

    HostConfig out;
    out.alias = request.host;
    out.host = optionText(session, SSH_OPTIONS_HOST);
    if (out.host.empty()) out.host = request.host;
    unsigned int port = 22;
    if (ssh_options_get_port(session, &port) == SSH_OK && port > 0 && port < 65536) out.port = static_cast<int>(port);
    out.user = optionText(session, SSH_OPTIONS_USER);
    if (out.user.empty()) out.user = localUser();
    out.proxyCommand = optionText(session, SSH_OPTIONS_PROXYCOMMAND);
    if (lower(out.proxyCommand) == "none") out.proxyCommand.clear();
    // The provider reaches the host itself (through the jump hosts or by running the command)
    // and hands libssh the socket; libssh would only stumble on tokens it does not know.
    ssh_options_set(session, SSH_OPTIONS_PROXYCOMMAND, "none");
    for (const std::string& file : values.identityFiles) out.identityFiles.push_back(withTokens(file, out));
    if (auto v = values.value("identityagent")) out.identityAgent = withTokens(*v, out);
    if (auto v = values.value("serveraliveinterval")) out.serverAliveInterval = std::max(0, std::atoi(v->c_str()));
    if (auto v = values.value("serveralivecountmax")) out.serverAliveCountMax = std::max(0, std::atoi(v->c_str()));
    if (auto v = values.value("identitiesonly")) out.identitiesOnly = lower(*v) == "yes";
    // Read here, not by libssh: not among the keywords passed over.
    for (const std::string& keyword : watch.unsupported) {
        const std::string name = lower(keyword);
        if (name != "serveraliveinterval" && name != "serveralivecountmax" && name != "identitiesonly")
            out.unsupported.push_back(keyword);
    }
    return out;
}

// ---- logging in ----------------------------------------------------------------------------

// The agent as the login may see it, the keys in OpenSSH's order: a relay between libssh and the
// user's agent that puts first, in the agent's list of keys (SSH2_AGENT_IDENTITIES_ANSWER), the
// keys of the host's key files, then the others, or, with IdentitiesOnly, leaves the others out;
// everything else passes unchanged. libssh 0.10 has no IdentitiesOnly and no way to choose among
// the agent's keys, but takes an agent connection from the caller.
class AgentFilter {
public:
    AgentFilter(const std::string& agentPath, std::vector<std::string> preferred, bool othersToo)
        : preferred_(std::move(preferred)), othersToo_(othersToo) {
        agent_ = connected(agentPath);
        int pair[2];
        if (agent_ < 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            close(agent_);
            return;
        }
        client_ = pair[0];
        own_ = pair[1];
        relay_ = std::thread([this] { relay(); });
    }
    ~AgentFilter() {
        if (own_ >= 0) ::shutdown(own_, SHUT_RDWR);
        if (relay_.joinable()) relay_.join();
        close(own_);
        close(agent_);
    }
    AgentFilter(const AgentFilter&) = delete;
    AgentFilter& operator=(const AgentFilter&) = delete;
    // For libssh, which closes it with the session; -1: no agent is reachable.
    int client() const { return client_; }
    // The keys (wire forms) handed to libssh the last time it asked for them, in that order.
    std::vector<std::string> offered() const {
        std::lock_guard lock(mutex_);
        return offered_;
    }

private:
    // A connection to the agent's socket; -1 for none.
    static int connected(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.empty() || path.size() >= sizeof address.sun_path) return -1;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        if (fd >= 0) ::close(fd);
        return -1;
    }
    static void close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    static bool readAll(int fd, char* to, std::size_t n) {
        while (n > 0) {
            const ssize_t r = ::recv(fd, to, n, 0);
            if (r <= 0) return false;
            to += r;
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }
    static bool writeAll(int fd, const std::string& data) {
        for (std::size_t at = 0; at < data.size();) {
            const ssize_t w = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (w <= 0) return false;
            at += static_cast<std::size_t>(w);
        }
        return true;
    }
    static std::uint32_t number(const std::string& data, std::size_t at) {
        const auto* b = reinterpret_cast<const unsigned char*>(data.data() + at);
        return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
    }
    static std::string packed(std::uint32_t n) {
        return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
    }
    // One message, its length first.
    static std::optional<std::string> message(int fd) {
        char length[4];
        if (!readAll(fd, length, 4)) return std::nullopt;
        const std::uint32_t n = number(std::string(length, 4), 0);
        if (n == 0 || n > 256 * 1024) return std::nullopt;
        std::string body(n, '\0');
        if (!readAll(fd, body.data(), n)) return std::nullopt;
        return body;
    }
    // The list of keys in the login's order; nothing when it cannot be read.
    std::optional<std::string> ordered(const std::string& answer) {
        if (answer.size() < 5) return std::nullopt;
        const std::uint32_t count = number(answer, 1);
        std::size_t at = 5;
        std::string first, others;
        std::vector<std::string> firstKeys, otherKeys;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t start = at;
            std::string blob;
            for (int field = 0; field < 2; ++field) {  // the key, then its comment
                if (at + 4 > answer.size()) return std::nullopt;
                const std::uint32_t n = number(answer, at);
                if (n > answer.size() - at - 4) return std::nullopt;
                if (field == 0) blob = answer.substr(at + 4, n);
                at += 4 + n;
            }
            const bool preferred = std::find(preferred_.begin(), preferred_.end(), blob) != preferred_.end();
            if (!preferred && !othersToo_) continue;
            (preferred ? first : others) += answer.substr(start, at - start);
            (preferred ? firstKeys : otherKeys).push_back(std::move(blob));
        }
        std::lock_guard lock(mutex_);
        offered_ = firstKeys;
        offered_.insert(offered_.end(), otherKeys.begin(), otherKeys.end());
        return std::string(1, answer[0]) + packed(static_cast<std::uint32_t>(offered_.size())) + first + others;
    }
    void relay() {
        constexpr char kRequestIdentities = 11, kIdentitiesAnswer = 12, kFailure = 5;
        while (auto request = message(own_)) {
            std::optional<std::string> answer;
            if (writeAll(agent_, packed(static_cast<std::uint32_t>(request->size())) + *request)) answer = message(agent_);
            if (answer && request->front() == kRequestIdentities && answer->front() == kIdentitiesAnswer)
                answer = ordered(*answer);
            if (!answer) {
                // The agent broke off: no keys, and nothing signed.
                answer = request->front() == kRequestIdentities ? std::string(1, kIdentitiesAnswer) + packed(0)
                                                                  : std::string(1, kFailure);
            }
            if (!writeAll(own_, packed(static_cast<std::uint32_t>(answer->size())) + *answer)) break;
        }
    }

    const std::vector<std::string> preferred_;  // the keys' wire forms
    const bool othersToo_;
    int agent_ = -1, client_ = -1, own_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::string> offered_;
    std::thread relay_;
};

namespace {

// The agent the configuration names (IdentityAgent: a path, "SSH_AUTH_SOCK", "$VARIABLE" or
// "none"), else SSH_AUTH_SOCK's; empty: none.
std::string agentPath(const std::string& identityAgent) {
    std::string name = identityAgent;
    if (name.empty() || name == "SSH_AUTH_SOCK") name = "$SSH_AUTH_SOCK";
    if (name == "none") return {};
    if (name.front() == '$') {
        const char* value = std::getenv(name.c_str() + 1);
        return value ? value : "";
    }
    return name;
}

struct KeyFree {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyFree>;

// A key's wire form; empty when it cannot be told.
std::string blobOf(ssh_key key) {
    char* base64 = nullptr;
    std::string out;
    if (key && ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK && base64)
        out = defaults::base64Decode(base64).value_or(std::string());
    ssh_string_free_char(base64);
    return out;
}

// One key file of the host: its path and, where it can be read without the passphrase, its
// public half (from the ".pub" beside it, or from an OpenSSH private key file, which holds it
// in clear).
struct KeyFile {
    std::string path;
    Key publicKey;
    std::string blob;
};

// The key files OpenSSH offers the host: those the configuration names, or, only when it names
// none, the default ones in OpenSSH's order (of the types libssh signs with).
std::vector<KeyFile> keyFiles(const HostConfig& host, const std::string& sshFolder) {
    std::vector<std::string> paths = host.identityFiles;
    if (paths.empty() && !sshFolder.empty())
        for (const char* name : {"id_rsa", "id_ecdsa", "id_ed25519"}) paths.push_back(sshFolder + "/" + name);
    std::vector<KeyFile> out;
    for (const std::string& path : paths) {
        KeyFile file{path, nullptr, {}};
        ssh_key key = nullptr;
        if (ssh_pki_import_pubkey_file((path + ".pub").c_str(), &key) == SSH_OK ||
            ssh_pki_import_pubkey_file(path.c_str(), &key) == SSH_OK)
            file.publicKey.reset(key);
        file.blob = blobOf(file.publicKey.get());
        out.push_back(std::move(file));
    }
    return out;
}

// The passphrase callback of a key read without one: libssh (and OpenSSL, for PEM files) calls
// it only for an encrypted key, which it then marks; nothing is given, so nothing is asked on a
// terminal.
int noPassphrase(const char*, char*, std::size_t, int, int, void* encrypted) {
    *static_cast<bool*>(encrypted) = true;
    return -1;
}

}  // namespace

Login::~Login() = default;

Login::Login(ssh_session session, Trust* trust, const Operation* op, const HostConfig& host, std::string password,
             std::string sshFolder)
    : session_(session), trust_(trust), op_(op), host_(host), password_(std::move(password)), sshFolder_(std::move(sshFolder)) {}

bool Login::asksForPassword(const std::string& prompt) {
    const std::string text = lower(prompt);
    if (text.find("password") == std::string::npos && text.find("passwort") == std::string::npos) return false;
    for (const char* other : {"one-time", "one time", "otp", "token", "code", "new ", "again", "retype", "confirm", "verif"})
        if (text.find(other) != std::string::npos) return false;
    return true;
}

std::string Login::shown(const std::string& file) const {
    const std::string home = sshFolder_.empty() ? std::string() : sshFolder_.substr(0, sshFolder_.rfind('/'));
    if (!home.empty() && file.rfind(home + "/", 0) == 0) return "~" + file.substr(home.size());
    return file;
}

Login::Result Login::run() {
    Result result;
    int rc = ssh_userauth_none(session_, nullptr);
    // Each way once; a partial success (a server that wants two) opens them all again.
    bool keysTried = false, promptsTried = false, passwordTried = false;
    int methods = 0;
    while (rc != SSH_AUTH_SUCCESS && rc != SSH_AUTH_ERROR) {
        if (!ssh_is_connected(session_)) {
            rc = SSH_AUTH_ERROR;
            break;
        }
        if (rc == SSH_AUTH_PARTIAL) keysTried = promptsTried = passwordTried = false;
        methods = ssh_userauth_list(session_, nullptr);
        if ((methods & SSH_AUTH_METHOD_PUBLICKEY) && !keysTried) {
            keysTried = true;
            rc = keys();
        } else if ((methods & SSH_AUTH_METHOD_INTERACTIVE) && !promptsTried) {
            promptsTried = true;
            rc = keyboardInteractive();
        } else if ((methods & SSH_AUTH_METHOD_PASSWORD) && !passwordTried) {
            passwordTried = true;
            rc = password();
        } else {
            result.refusal = refusal(methods);
            rc = SSH_AUTH_DENIED;
            break;
        }
    }
    result.rc = rc;
    return result;
}

int Login::keys() {
    auto done = [](int rc) { return rc == SSH_AUTH_SUCCESS || rc == SSH_AUTH_PARTIAL || rc == SSH_AUTH_ERROR; };
    std::vector<KeyFile> files = keyFiles(host_, sshFolder_);
    // The agent's keys first: those of the key files, then (without IdentitiesOnly) the others.
    if (!agentFilter_) {
        std::vector<std::string> preferred;
        for (const KeyFile& file : files)
            if (!file.blob.empty()) preferred.push_back(file.blob);
        agentFilter_ = std::make_unique<AgentFilter>(agentPath(host_.identityAgent), std::move(preferred), !host_.identitiesOnly);
        if (agentFilter_->client() >= 0) ssh_set_agent_socket(session_, agentFilter_->client());
    }
    std::vector<std::string> offered;
    if (agentFilter_->client() >= 0) {
        const int rc = ssh_userauth_agent(session_, nullptr);
        offered = agentFilter_->offered();
        if (!offered.empty())
            tried_.push_back(offered.size() == 1 ? "the agent's key" : "the agent's " + std::to_string(offered.size()) + " keys");
        if (done(rc)) return rc;
    }
    // Then the key files the agent did not offer: the public half first, the private key (and
    // its passphrase) only for a key the server would take.
    for (KeyFile& file : files) {
        if (!file.blob.empty() && std::find(offered.begin(), offered.end(), file.blob) != offered.end()) continue;
        if (::access(file.path.c_str(), R_OK) != 0) continue;  // no such file, or only its public half
        if (file.publicKey) {
            const int rc = ssh_userauth_try_publickey(session_, nullptr, file.publicKey.get());
            if (rc == SSH_AUTH_ERROR) return rc;
            if (rc != SSH_AUTH_SUCCESS) {
                tried_.push_back(shown(file.path));
                continue;
            }
        }
        Key key(unlock(file.path));
        if (!key) continue;
        const int rc = ssh_userauth_publickey(session_, nullptr, key.get());
        if (done(rc)) return rc;
        tried_.push_back(shown(file.path));
    }
    return SSH_AUTH_DENIED;
}

// The key file's private key: read at once when it has no passphrase, else with the one the
// user gives (asked for again when it is wrong).
ssh_key Login::unlock(const std::string& file) {
    ssh_key key = nullptr;
    bool encrypted = false;
    if (ssh_pki_import_privkey_file(file.c_str(), nullptr, &noPassphrase, &encrypted, &key) == SSH_OK) return key;
    if (!encrypted || !trust_) {
        tried_.push_back(shown(file) + (encrypted ? " (no passphrase given)" : " (not readable as a key)"));
        return nullptr;
    }
    LoginQuestion question;
    question.kind = LoginQuestion::Kind::passphrase;
    question.host = host_.host;
    question.port = host_.port;
    question.user = host_.user;
    question.keyFile = shown(file);
    question.title = "Passphrase for " + question.keyFile;
    for (int round = 0; round < 5; ++round) {
        auto answer = trust_->askLogin(question, op_);
        if (!answer || answer->answers.empty()) {
            tried_.push_back(question.keyFile + " (no passphrase given)");
            return nullptr;
        }
        const std::string& passphrase = answer->answers.front();
        if (ssh_pki_import_privkey_file(file.c_str(), passphrase.c_str(), nullptr, nullptr, &key) == SSH_OK) return key;
        question.again = true;
    }
    tried_.push_back(question.keyFile + " (wrong passphrase)");
    return nullptr;
}

int Login::keyboardInteractive() {
    int rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
    bool asked = false;
    for (int round = 0; rc == SSH_AUTH_INFO && round < 16; ++round) {
        const int count = ssh_userauth_kbdint_getnprompts(session_);
        std::vector<std::string> answers(static_cast<std::size_t>(std::max(count, 0)));
        LoginQuestion question;
        question.kind = LoginQuestion::Kind::prompts;
        question.host = host_.host;
        question.port = host_.port;
        question.user = host_.user;
        const char* name = ssh_userauth_kbdint_getname(session_);
        const char* instruction = ssh_userauth_kbdint_getinstruction(session_);
        question.name = name ? name : "";
        question.instruction = instruction ? instruction : "";
        question.title = question.name.empty() ? "Log in to " + host_.host : question.name;
        std::vector<int> asking;  // which prompts go to the user
        for (int i = 0; i < count; ++i) {
            char echo = 0;
            const char* text = ssh_userauth_kbdint_getprompt(session_, static_cast<unsigned>(i), &echo);
            const std::string prompt = text ? text : "";
            if (!echo && !passwordUsed_ && !password_.empty() && asksForPassword(prompt)) {
                answers[static_cast<std::size_t>(i)] = password_;
                passwordUsed_ = true;
                tried_.push_back("the password");
                continue;
            }
            question.prompts.push_back({prompt, echo != 0});
            asking.push_back(i);
        }
        if (!asking.empty()) {
            std::optional<LoginAnswer> answer;
            if (trust_) answer = trust_->askLogin(question, op_);
            if (!answer || answer->answers.size() != asking.size()) return SSH_AUTH_DENIED;  // nothing is guessed
            for (std::size_t k = 0; k < asking.size(); ++k) answers[static_cast<std::size_t>(asking[k])] = answer->answers[k];
            if (!asked) tried_.push_back("answers to its prompts");
            asked = true;
        }
        for (int i = 0; i < count; ++i)
            ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(i), answers[static_cast<std::size_t>(i)].c_str());
        rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
    }
    return rc == SSH_AUTH_INFO ? SSH_AUTH_DENIED : rc;
}

int Login::password() {
    std::string secret = passwordUsed_ ? std::string() : password_;
    if (secret.empty()) {
        // Nobody saved one (or it was refused already): asked for, as OpenSSH does.
        if (!trust_) return SSH_AUTH_DENIED;
        LoginQuestion question;
        question.kind = LoginQuestion::Kind::prompts;
        question.host = host_.host;
        question.port = host_.port;
        question.user = host_.user;
        question.title = "Log in to " + host_.host;
        question.prompts.push_back({host_.user + "@" + host_.host + "'s password: ", false});
        auto answer = trust_->askLogin(question, op_);
        if (!answer || answer->answers.size() != 1) return SSH_AUTH_DENIED;
        secret = answer->answers.front();
    }
    passwordUsed_ = true;
    tried_.push_back("the password");
    return ssh_userauth_password(session_, nullptr, secret.c_str());
}

std::string Login::refusal(int methods) const {
    std::vector<std::string> ways;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) ways.push_back("keys");
    if (methods & SSH_AUTH_METHOD_INTERACTIVE) ways.push_back("answers to its prompts");
    if (methods & SSH_AUTH_METHOD_PASSWORD) ways.push_back("a password");
    if (methods & (SSH_AUTH_METHOD_GSSAPI_MIC | SSH_AUTH_METHOD_HOSTBASED)) ways.push_back("other ways the app has not");
    auto join = [](const std::vector<std::string>& items) {
        std::string out;
        for (std::size_t i = 0; i < items.size(); ++i)
            out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
        return out;
    };
    std::string text = ways.empty() ? "The server accepts no way to log in that the app has"
                       : ways.size() == 1 ? "The server accepts only " + ways.front()
                                          : "The server accepts " + join(ways);
    text += tried_.empty() ? "; nothing was tried (no key was found, and no password was given)." : "; tried " + join(tried_) + ".";
    return text;
}


}  // namespace files::ssh

namespace files::ssh {

// ---- jump hosts ----------------------------------------------------------------------------

std::vector<JumpHost> jumpHosts(const std::string& proxyCommand) {
    // "ssh [-l user] [-p port] [-J hop2,hop3] -W '[%h]:%p' hop1"
    std::istringstream words(proxyCommand);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.size() < 4 || w.front() != "ssh") return {};
    JumpHost first;
    std::string rest;
    bool forward = false;
    std::size_t i = 1;
    for (; i + 1 < w.size(); ++i) {
        if (w[i] == "-l") first.user = w[++i];
        else if (w[i] == "-p") first.port = std::atoi(w[++i].c_str());
        else if (w[i] == "-J") rest = w[++i];
        else if (w[i] == "-W" && (w[i + 1] == "'[%h]:%p'" || w[i + 1] == "[%h]:%p" || w[i + 1] == "%h:%p")) {
            forward = true;
            ++i;
        } else return {};
    }
    if (!forward || i != w.size() - 1) return {};
    first.host = w.back();
    std::vector<JumpHost> hops{first};
    std::istringstream list(rest);
    for (std::string item; std::getline(list, item, ',');) {
        if (item.empty()) continue;
        JumpHost hop;
        if (const auto at = item.rfind('@'); at != std::string::npos) {
            hop.user = item.substr(0, at);
            item = item.substr(at + 1);
        }
        if (item.front() == '[') {
            const auto close = item.find(']');
            if (close == std::string::npos) return {};
            if (close + 1 < item.size() && item[close + 1] == ':') hop.port = std::atoi(item.c_str() + close + 2);
            item = item.substr(1, close - 1);
        } else if (const auto colon = item.rfind(':'); colon != std::string::npos && item.find(':') == colon) {
            hop.port = std::atoi(item.c_str() + colon + 1);
            item = item.substr(0, colon);
        }
        hop.host = item;
        if (hop.port <= 0 || hop.port > 65535) return {};
        hops.push_back(hop);
    }
    if (first.port <= 0 || first.port > 65535) return {};
    return hops;
}

FileError atJumpHost(FileError error, const HostConfig& hop, const std::string& server) {
    std::string name = knownHostsName(hop.host, hop.port);
    if (hop.alias != hop.host) name += " (" + hop.alias + ")";
    const std::string who = "the jump host " + name + ", in front of the server " + server + ",";
    std::string sentence;
    switch (error.kind) {
        case ErrorKind::cannotReachHost: sentence = "The " + who.substr(4) + " could not be reached."; break;
        case ErrorKind::timedOut: sentence = "The " + who.substr(4) + " did not answer in time."; break;
        case ErrorKind::loginRejected: sentence = "The " + who.substr(4) + " rejected the login."; break;
        case ErrorKind::notTrusted:
            sentence = "The identity of " + who + " was not trusted, so nothing was sent to it.";
            break;
        case ErrorKind::cancelled: return error;
        default: sentence = "The connection through " + who + " failed."; break;
    }
    const std::string_view standard = standardMessage(error.kind);
    if (error.message.rfind(standard, 0) == 0) error.message = sentence + error.message.substr(standard.size());
    else error.message = sentence + " " + error.message;
    return error;
}

Hop::~Hop() {
    stop_ = true;
    if (carried_ >= 0) ::shutdown(carried_, SHUT_RDWR);
    if (carrier_.joinable()) carrier_.join();
    if (channel_) ssh_channel_free(channel_);
    if (session) {
        if (ssh_is_connected(session)) ssh_disconnect(session);
        ssh_free(session);
    }
    if (carried_ >= 0) ::close(carried_);
    // libssh closes a socket it was given on some paths only: closed here while the number
    // still names it.
    struct stat now {};
    if (socket >= 0 && ::fstat(socket, &now) == 0 && now.st_dev == socketId_.st_dev && now.st_ino == socketId_.st_ino)
        ::close(socket);
}

void Hop::own(int fd) {
    socket = fd;
    ::fstat(fd, &socketId_);
}

int Hop::forward(const std::string& host, int port, std::string& error) {
    channel_ = ssh_channel_new(session);
    if (!channel_ || ssh_channel_open_forward(channel_, host.c_str(), port, "127.0.0.1", 22) != SSH_OK) {
        error = ssh_get_error(session);
        return -1;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    carried_ = pair[1];
    carrier_ = std::thread([this] {
        // The one user of this session from here on.
        char buffer[32 * 1024];
        const int own = ssh_get_fd(session);
        while (!stop_) {
            pollfd fds[2] = {{own, POLLIN, 0}, {carried_, POLLIN, 0}};
            if (::poll(fds, 2, 200) < 0 && errno != EINTR) break;
            int n = 0;
            while ((n = ssh_channel_read_nonblocking(channel_, buffer, sizeof buffer, 0)) > 0) {
                for (int at = 0; at < n;) {
                    const ssize_t w = ::send(carried_, buffer + at, static_cast<std::size_t>(n - at), MSG_NOSIGNAL);
                    if (w <= 0) {
                        n = -1;
                        break;
                    }
                    at += static_cast<int>(w);
                }
                if (n < 0) break;
            }
            if (n < 0 || ssh_channel_is_eof(channel_) || ssh_channel_is_closed(channel_)) break;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t r = ::recv(carried_, buffer, sizeof buffer, 0);
                if (r <= 0 || ssh_channel_write(channel_, buffer, static_cast<uint32_t>(r)) != r) break;
            }
        }
        ::shutdown(carried_, SHUT_RDWR);
    });
    return pair[0];
}

// ---- ProxyCommand ----------------------------------------------------------------------------

std::optional<std::string> ProxyCommand::expand(const std::string& command, const HostConfig& host,
                                                std::string& error) {
    // A name goes into the line only when the shell would see it as one plain word.
    auto name = [&](const std::string& value, const char* field, char token) -> std::optional<std::string> {
        const std::string characters = shellCharacters(value);
        if (characters.empty()) return value;
        error = std::string("the ") + field + " \"" + value + "\" has " + shownCharacters(characters) +
                ", which the shell running the ProxyCommand (where it stands for %" + token +
                ") would read as more than a name; it was not run";
        return std::nullopt;
    };
    std::string out;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (command[i] != '%') {
            out += command[i];
            continue;
        }
        const char token = i + 1 < command.size() ? command[++i] : '\0';
        std::optional<std::string> value;
        switch (token) {
        case '%': value = "%"; break;
        case 'h': value = name(host.host, "host name", token); break;
        case 'p': value = std::to_string(host.port); break;
        case 'r': value = name(host.user, "user name", token); break;
        case 'n': value = name(host.alias, "server name", token); break;
        default:
            error = token ? std::string("the ProxyCommand has the token %") + token + ", which it cannot take"
                          : "the ProxyCommand ends in a lone %";
            return std::nullopt;
        }
        if (!value) return std::nullopt;
        out += *value;
    }
    return out;
}

int ProxyCommand::start(const std::string& command, std::string& error) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    errors_ = ::memfd_create("proxy-command-stderr", MFD_CLOEXEC);
    const char* shellVar = std::getenv("SHELL");
    const std::string shell = shellVar && *shellVar ? shellVar : "/bin/sh";
    const std::string line = "exec " + command;
    char* argv[] = {const_cast<char*>(shell.c_str()), const_cast<char*>("-c"), const_cast<char*>(line.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    if (errors_ >= 0) posix_spawn_file_actions_adddup2(&actions, errors_, STDERR_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that ending it ends what it started; the signals the app
    // ignores or blocks are the command's defaults again.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGCHLD}) sigaddset(&defaults, sig);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int rc = ::posix_spawn(&pid_, shell.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(pair[0]);
        error = "the ProxyCommand could not be started (" + shell + "): " + std::strerror(rc);
        return -1;
    }
    return pair[0];
}

bool ProxyCommand::reap(bool wait) {
    if (pid_ <= 0) return true;
    int status = 0;
    pid_t r;
    do r = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r == pid_) status_ = status;
    pid_ = -1;
    return true;
}

std::optional<std::string> ProxyCommand::ending() {
    // The command's end of the socket closed: most often because it ended, which takes it a
    // moment more to be told.
    for (int i = 0; i < 40 && !reap(false); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::string said;
    if (errors_ >= 0) {
        const off_t size = ::lseek(errors_, 0, SEEK_END);
        const off_t from = std::max<off_t>(0, size - 2048);
        said.resize(static_cast<std::size_t>(size - from));
        const ssize_t n = size > 0 ? ::pread(errors_, said.data(), said.size(), from) : 0;
        said.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!said.empty() && std::isspace(static_cast<unsigned char>(said.back()))) said.pop_back();
        if (const auto nl = said.rfind('\n'); nl != std::string::npos) said.erase(0, nl + 1);
    }
    std::string text;
    if (status_ >= 0 && WIFEXITED(status_)) text = "ended with status " + std::to_string(WEXITSTATUS(status_));
    else if (status_ >= 0 && WIFSIGNALED(status_)) text = "was ended by signal " + std::to_string(WTERMSIG(status_));
    else if (said.empty()) return std::nullopt;
    else text = "closed the connection";
    if (!said.empty()) text += ": " + said;
    return text;
}

ProxyCommand::~ProxyCommand() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGHUP);
        // A command that does not end on the hangup within a second is killed.
        for (int i = 0; i < 40 && !reap(false); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            reap(true);
        }
    }
    if (errors_ >= 0) ::close(errors_);
}

}  // namespace files::ssh
