#pragma once
// What a generator hands out next in a forked child and in its parent: ids made after a fork
// must differ, or two processes would write the same record id.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace dravix_test {

// The child's next value and the parent's next value; nothing when the child could not report.
inline std::optional<std::pair<std::string, std::string>> nextInChildAndParent(const std::function<std::string()>& next) {
    (void)next();  // the parent's generator has its state in hand before the fork
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    const pid_t child = fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        const std::string value = next();
        const ssize_t written = write(fds[1], value.data(), value.size());
        _exit(written == static_cast<ssize_t>(value.size()) ? 0 : 1);
    }
    close(fds[1]);
    const std::string mine = next();
    std::string theirs;
    char buffer[256];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) theirs.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return std::make_pair(theirs, mine);
}

}  // namespace dravix_test
