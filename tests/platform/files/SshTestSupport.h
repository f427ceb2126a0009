#pragma once
// What the SSH tests share: commands run for their output, temporary folders, and an asker that
// answers login questions from a script.

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"
#include "platform/files/SshSetup.h"
#include "platform/files/Trust.h"
#include "FileSeams.h"

namespace sshtest {

namespace fs = std::filesystem;

// Runs a command, returns its exit status and what it printed.
inline std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return {-1, out};
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The client's home for the test's life: the app takes it for the user database's (so ~/.ssh is
// its .ssh), HOME names it too, and no agent is reachable; all as they were afterwards.
class ClientHome {
public:
    explicit ClientHome(const fs::path& home) {
        if (const char* h = std::getenv("HOME")) home_ = h;
        if (const char* a = std::getenv("SSH_AUTH_SOCK")) agent_ = a;
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
        files::ssh::setUserHomeForTests(home.string());
    }
    ~ClientHome() {
        files::ssh::setUserHomeForTests(std::nullopt);
        if (home_) ::setenv("HOME", home_->c_str(), 1);
        else ::unsetenv("HOME");
        if (agent_) ::setenv("SSH_AUTH_SOCK", agent_->c_str(), 1);
    }
    ClientHome(const ClientHome&) = delete;
    ClientHome& operator=(const ClientHome&) = delete;

private:
    std::optional<std::string> home_, agent_;
};

struct TempFolder {
    fs::path path;
    TempFolder() {
        char name[] = "/tmp/dravix-sftp-test.XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// Answers login questions from a script, one entry per question (nothing: the user's Cancel), and
// records them; once the script ran out, nobody answers. Trust questions are answered yes.
// Checks that no question ever carries the saved password.
class ScriptedAsker final : public files::TrustAsker {
public:
    explicit ScriptedAsker(std::vector<std::optional<std::vector<std::string>>> script, std::string secret = {})
        : script_(std::move(script)), secret_(std::move(secret)) {}
    void ask(files::TrustQuestion question, std::function<void(bool)> answer) override { answer(question.acceptable); }
    void askLogin(files::LoginQuestion question, std::function<void(std::optional<files::LoginAnswer>)> answer) override {
        std::optional<std::optional<std::vector<std::string>>> next;
        {
            std::lock_guard lock(mutex_);
            for (const auto& prompt : question.prompts)
                if (!secret_.empty() && prompt.text.find(secret_) != std::string::npos) leaked_ = true;
            questions_.push_back(question);
            if (!script_.empty()) {
                next = script_.front();
                script_.erase(script_.begin());
            }
        }
        if (!next) return answer(std::nullopt);
        files::LoginAnswer given;
        if (*next) given.answers = **next;
        else given.cancelled = true;
        answer(std::move(given));
    }
    std::vector<files::LoginQuestion> questions() {
        std::lock_guard lock(mutex_);
        return questions_;
    }
    bool leaked() {
        std::lock_guard lock(mutex_);
        return leaked_;
    }

private:
    std::mutex mutex_;
    std::vector<std::optional<std::vector<std::string>>> script_;
    std::string secret_;
    std::vector<files::LoginQuestion> questions_;
    bool leaked_ = false;
};

// Checked saves against `disk` (the server's disk) through `folder` (the provider's path) at the
// sizes where a read or write request ends (SftpCheckedSaves.cpp).
void checkedSavesAtRequestEdges(files::FileProvider& provider, const fs::path& disk, const std::string& folder);

}  // namespace sshtest
