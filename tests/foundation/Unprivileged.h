#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace foundationtest {

// The user that file-permission tests act as: root passes every permission check, so a
// test run as root does its checks in a child process as "nobody".
inline constexpr uid_t kNobody = 65534;

// Hands `path` to the user the checks run as.
inline void giveToCheckingUser(const std::string& path) {
    if (geteuid() == 0 && chown(path.c_str(), kNobody, kNobody) != 0) perror("chown");
}

// Runs `check` subject to file permissions and returns its answer. Only plain code in
// `check`: in a child process, test assertions would not reach the test.
inline bool withoutPrivileges(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const bool passed = setgid(kNobody) == 0 && setuid(kNobody) == 0 && check();
        _exit(passed ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace foundationtest
