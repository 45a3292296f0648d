#include "support/httpserver/LocalTinyproxy.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/httpserver/LocalPorts.h"

extern char** environ;

namespace testsupport {

std::string LocalTinyproxy::binary() {
    return findProgram("tinyproxy");
}

std::unique_ptr<LocalTinyproxy> LocalTinyproxy::start(
    std::optional<std::pair<std::string, std::string>> credentials) {
    const std::string program = binary();
    if (program.empty()) return nullptr;
    std::unique_ptr<LocalTinyproxy> proxy(new LocalTinyproxy());
    char pattern[] = "/tmp/orvandel-tinyproxy-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return nullptr;
    proxy->folder_ = pattern;
    const std::string& d = proxy->folder_;
    // Ports can be taken between the look-up and the proxy's bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        proxy->port_ = freeLoopbackPort();
        std::ofstream config(d + "/tinyproxy.conf");
        config << "Port " << proxy->port_ << "\nListen 127.0.0.1\nTimeout 30\nLogFile \"" << d
               << "/tinyproxy.log\"\nLogLevel Info\nPidFile \"" << d
               << "/tinyproxy.pid\"\nMaxClients 20\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
        if (credentials)
            config << "BasicAuth " << credentials->first << " " << credentials->second << "\n";
        config.close();
        std::vector<std::string> args = {program, "-d", "-c", d + "/tinyproxy.conf"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        // Its output goes to the log, never to the test's own streams.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return nullptr;
        proxy->pid_ = pid;
        // Another process: its readiness shows only as a port that accepts.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (acceptsOnLoopback(proxy->port_)) return proxy;
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) break;  // it gave up (port taken)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        proxy->pid_ = -1;
    }
    return nullptr;
}

LocalTinyproxy::~LocalTinyproxy() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
