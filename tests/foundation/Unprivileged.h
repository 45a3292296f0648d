#pragma once

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

namespace foundationtest {

// The user that file-permission tests act as: root passes every permission check, so a
// test run as root does its checks in a child process as "nobody".
inline constexpr uid_t kNobody = 65534;

// Hands `path` to the user the checks run as.
inline void giveToCheckingUser(const std::string& path) {
    if (geteuid() == 0 && chown(path.c_str(), kNobody, kNobody) != 0) perror("chown");
}

// Runs `check` subject to file permissions and returns its answer. As root it runs on a
// thread of its own that drops to "nobody": the raw system calls change only that thread's
// credentials (the C library's wrappers would change every thread's). A forked child would
// do the same, but in a process with other threads it can wait for ever on a lock that one
// of them held at the fork.
inline bool withoutPrivileges(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    bool passed = false;
    std::thread unprivileged([&] {
        passed = syscall(SYS_setresgid, kNobody, kNobody, kNobody) == 0 &&
                 syscall(SYS_setresuid, kNobody, kNobody, kNobody) == 0 && check();
    });
    unprivileged.join();
    return passed;
}

}  // namespace foundationtest
