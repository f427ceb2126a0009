#pragma once
// How an SSH connection is set up before the SFTP provider uses it: what the user's OpenSSH
// configuration says of the host (its real name, port and user, the key files, how it is
// reached) and which host key types the server is asked for. Kept apart from the provider so
// that the provider only carries files.
//
// The configuration is read with libssh's own parser (ssh_options_parse_config): Host patterns
// with "*", "?" and "!", "first value wins", Include, HostName, Port, User, IdentityAgent,
// ConnectTimeout. Where libssh 0.10 reads the files otherwise than OpenSSH (a relative Include,
// "!" patterns, "~" and "%d") the text is mended before it parses it; the mended text goes to
// libssh as an in-memory file (memfd), never onto a disk. IdentityFile, IdentitiesOnly and
// ServerAlive* are read beside it (Host blocks, and Match blocks whose criteria are all, host,
// originalhost, user, localuser or final). What libssh does not tell through its interface (the
// keywords it passes over) is read from its log lines on the thread that configures, and never
// written anywhere.
//
// The keys are offered as OpenSSH offers them (see Login): libssh 0.10's own key login would
// add its default key files to every host, read the files in another order, and write a missing
// ".pub" file into the user's folder.
//
// The login's questions (a key's passphrase, keyboard-interactive prompts, a password nobody
// saved) go to the user through Trust::askLogin, the road the host-key questions take; with
// nobody to answer, nothing is guessed.

#include <libssh/libssh.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files/FileError.h"

namespace files {
class Operation;
class Trust;
}  // namespace files

namespace files::ssh {

// The configuration as libssh is given it. libssh 0.10 reads a file as OpenSSH does but for
// these, mended here on the text before it parses it: a "!pattern" of a Host line counts only
// where it comes before the pattern that matches (OpenSSH: wherever it stands), so negations are
// put first; a relative Include is taken from the working folder (OpenSSH: from ~/.ssh, or
// /etc/ssh for the system's file), so Include lines are resolved here (relative patterns from
// `includeFolder`, "~" the `home`) and the files they name written in their place, as parsing
// them at that point does; and "~" and "%d" in paths are the user's home. Every other line is
// kept as written; a file that cannot be read adds nothing.
std::string mendedConfig(const std::string& text, const std::string& includeFolder, const std::string& home);

// What the configuration says for one host beside what libssh reads: the first value of each
// keyword libssh passes over (and of HostName and User, which Match criteria look at), and the
// IdentityFiles in the order written.
struct HostValues {
    std::vector<std::pair<std::string, std::string>> first;  // keyword, value
    std::vector<std::string> identityFiles;

    std::optional<std::string> value(const std::string& keyword) const {
        for (const auto& [k, v] : first)
            if (k == keyword) return v;
        return std::nullopt;
    }
};

// Reads one file's mended text for the host into `into` (the first value wins, across files),
// and gives the text libssh is to parse: all of it but the IdentityFile lines, which the login
// takes from here (libssh 0.10 tries the last one written first, and stumbles on tokens it does
// not know). libssh runs a Match line's "exec" command through the shell with the host's name
// put in (%h, %n): for a name the shell would read as more than a name, which may come from a
// link, such a Match is handed over as one that holds for no host, and nothing is run.
std::string readHostValues(const std::string& text, const std::string& alias, const std::string& requestUser,
                           HostValues& into);

// The host key algorithms to ask the server for: those of the types already known for it
// first (in their order), then libssh's usual ones. A server whose known key is RSA is then
// asked for that key, not for a new ed25519 key nobody has seen.
std::string hostKeyAlgorithms(const std::vector<std::string>& knownTypes);

// What the user wrote for one connection.
struct HostRequest {
    std::string host;       // as written in the URL: a name, an address or a configuration alias
    int port = 22;          // 22 (the default) leaves the configuration's Port in force
    std::string user;       // empty: the configuration's User, else the local user
    std::string sshFolder;  // where the configuration and the default keys are (normally ~/.ssh)
};

// What the session will connect to once configured.
struct HostConfig {
    std::string alias;         // the name as written
    std::string host;          // HostName, or the name as written
    int port = 22;
    std::string user;
    std::string proxyCommand;  // ProxyCommand, or libssh's form of ProxyJump; empty: direct (also for "none")
    std::vector<std::string> unsupported;  // keywords of the files that libssh passes over
    // Read beside libssh, which passes them over: ServerAliveInterval (seconds; 0: not set),
    // ServerAliveCountMax (keepalives left unanswered before the connection counts as dropped),
    // IdentitiesOnly (only the agent's keys that an IdentityFile names are offered).
    int serverAliveInterval = 0;
    int serverAliveCountMax = 3;
    bool identitiesOnly = false;
    std::vector<std::string> identityFiles;  // the configuration's, in the order written, their tokens put in
    std::string identityAgent;               // IdentityAgent as written ("~" put in); empty: not set
};

// The user's home as OpenSSH takes it: the user database's entry for the real user id, not
// $HOME, so that the app, `ssh` and `sftp` read the same files ($HOME only when the database has
// no entry). "~" and "%d" of the configuration are this folder.
std::string userHome();
// What the system has received on a TCP connection so far (all of it, whoever read it);
// nothing for a socket of another kind.
std::optional<std::uint64_t> bytesReceived(int fd);

// For tests, which cannot change the user database for the process: the home userHome() gives
// (nothing: the user database's again).
void setUserHomeForTests(std::optional<std::string> home);

// Applies the request and the configuration files (sshFolder/config, then /etc/ssh/ssh_config)
// to `session` as OpenSSH does: the files' values where the request leaves a field at its
// default, the request's where it writes one. Nothing is connected, and no file is written.
HostConfig configure(ssh_session session, const HostRequest& request);

// An error met on the way through a jump host, told as that host's: "The jump host
// [bastion]:2222, in front of the server web1, could not be reached. (Connection refused)".
// `server` is the server as the user named it.
FileError atJumpHost(FileError error, const HostConfig& hop, const std::string& server);

// The jump hosts of a ProxyJump, in the order they are passed through ("user@host:port" each;
// libssh 0.10 hands ProxyJump over as the OpenSSH command line that would do it, which is read
// back here). Empty for no ProxyJump, or for a ProxyCommand of another kind.
struct JumpHost {
    std::string user, host;
    int port = 22;
};
std::vector<JumpHost> jumpHosts(const std::string& proxyCommand);

// One jump host passed through: its session (logged in), the direct-tcpip channel it opened to
// the next host, and the thread that carries the next session's bytes between that channel and
// one end of a socket pair (the other end is the next session's socket). libssh 0.10's own
// ProxyJump runs the `ssh` program, which checks the hop's key against OpenSSH's files and asks
// on a terminal; this way each hop's key goes through the app's trust, as the target's does.
class Hop {
public:
    Hop() = default;
    ~Hop();  // stops the thread, then closes the channel, the session and the sockets
    Hop(const Hop&) = delete;
    Hop& operator=(const Hop&) = delete;

    ssh_session session = nullptr;
    int socket = -1;  // the session's own socket (closed here, if libssh has not)
    void own(int fd);
    // Opens the channel to host:port and starts carrying it; the next session's socket, or -1
    // (with `error` saying why).
    int forward(const std::string& host, int port, std::string& error);

private:
    ssh_channel channel_ = nullptr;
    int carried_ = -1;  // this side of the socket pair
    struct stat socketId_ {};  // what `socket` names, to tell it from a later file of that number
    std::atomic<bool> stop_{false};
    std::thread carrier_;
};

// A ProxyCommand of the configuration, run as OpenSSH runs it: "exec COMMAND" through the
// user's shell, with its tokens put in (%h the host's name to connect to, %p its port, %r the
// user, %n the name as the user wrote it, %% a "%"). A user or host name put in must hold no
// character the shell reads as syntax or expands (quotes, "$", "`", ";", "&", "|", "<", ">",
// brackets and braces, globs, "~", "#", "!", blanks and control characters) nor start with "-":
// such a name, which may come from a link, is refused before anything runs, as OpenSSH (9.6 on)
// refuses it. Its standard input and output are one end of a
// socket pair whose other end is the session's socket, in a process group of its own. What it
// writes on its standard error is kept (in memory) to tell why it ended. Destroying it ends the
// command (SIGHUP, as OpenSSH does, then SIGKILL if it lingers) and waits for it.
class ProxyCommand {
public:
    ProxyCommand() = default;
    ~ProxyCommand();
    ProxyCommand(const ProxyCommand&) = delete;
    ProxyCommand& operator=(const ProxyCommand&) = delete;

    // The command with its tokens put in; nothing (and `error` says which) for a token OpenSSH
    // does not take in a ProxyCommand, or for a name the shell would read as more than a name.
    static std::optional<std::string> expand(const std::string& command, const HostConfig& host, std::string& error);
    // Starts the command; the session's socket, or -1 with `error` saying why.
    int start(const std::string& command, std::string& error);
    // How the command's side of the connection ended, as far as it tells: its exit status (once
    // it has ended) and the last line it wrote on its standard error; nothing when it is still
    // running and said nothing.
    std::optional<std::string> ending();

private:
    pid_t pid_ = -1;
    int status_ = -1;  // waitpid's status once it is known
    int errors_ = -1;  // its standard error
    bool reap(bool wait);
};

// Logs in on a connected session whose host key is trusted, in OpenSSH's order: first the keys
// (the agent's that match a key file, then the agent's others unless IdentitiesOnly, then the
// key files the agent does not hold; the key files are the configuration's IdentityFiles, or
// only when it names none ~/.ssh/id_rsa, id_ecdsa, id_ed25519; a key file is offered by its
// public half, and its passphrase asked for only once the server would take it, and asked again
// when the answer is wrong), then keyboard-interactive (each round shown as the server writes
// it; the saved password answers only a prompt that asks for the password, and only once), then
// the password (the saved one, or asked for).
class AgentFilter;

class Login {
public:
    struct Result {
        int rc = SSH_AUTH_DENIED;  // SSH_AUTH_SUCCESS, SSH_AUTH_DENIED, SSH_AUTH_ERROR (the connection)
        std::string refusal;       // for a refusal: what the server accepts and what was tried
    };
    Login(ssh_session session, Trust* trust, const Operation* op, const HostConfig& host, std::string password,
          std::string sshFolder);
    ~Login();
    Result run();

    // Whether a keyboard-interactive prompt asks for the account's password (not a one-time
    // code, a new password or a token).
    static bool asksForPassword(const std::string& prompt);

private:
    int keys();
    int keyboardInteractive();
    int password();
    std::string refusal(int methods) const;
    std::string shown(const std::string& file) const;  // "~/.ssh/site_key"
    ssh_key unlock(const std::string& file);  // the private key; nothing when not given (tried_ says why)

    ssh_session session_;
    Trust* trust_;
    const Operation* op_;
    HostConfig host_;
    std::string password_;
    std::string sshFolder_;
    bool passwordUsed_ = false;
    std::vector<std::string> tried_;
    std::unique_ptr<AgentFilter> agentFilter_;  // the agent as the login may see it
};

}  // namespace files::ssh
