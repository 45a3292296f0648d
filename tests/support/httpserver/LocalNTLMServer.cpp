#include "support/httpserver/LocalNTLMServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

// Debian's interpreter, where Debian's cryptography module is installed.
constexpr const char* Interpreter = "/usr/bin/python3";

// The first line the server writes: its port. Empty when it ends without one.
std::string readLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n' || line.size() > 16) return line;
        line.push_back(c);
    }
}

}  // namespace

std::unique_ptr<LocalNTLMServer> LocalNTLMServer::start(Role role, const std::string& domain,
                                                        const std::string& user,
                                                        const std::string& password,
                                                        const std::string& keepAlive) {
    if (::access(Interpreter, X_OK) != 0) return nullptr;
    int toServer[2], fromServer[2];
    if (::pipe2(toServer, O_CLOEXEC) != 0) return nullptr;
    if (::pipe2(fromServer, O_CLOEXEC) != 0) {
        ::close(toServer[0]);
        ::close(toServer[1]);
        return nullptr;
    }
    std::vector<std::string> args = {Interpreter,
                                     ORVANDEL_NTLM_SERVER_SCRIPT,
                                     role == Role::Proxy ? "proxy" : "server",
                                     domain,
                                     user,
                                     password,
                                     keepAlive};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toServer[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromServer[1], 1);
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, Interpreter, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toServer[0]);
    ::close(fromServer[1]);
    std::unique_ptr<LocalNTLMServer> server(new LocalNTLMServer());
    server->input_ = toServer[1];
    if (spawned != 0) {
        ::close(fromServer[0]);
        return nullptr;
    }
    server->pid_ = pid;
    std::string line = readLine(fromServer[0]);
    ::close(fromServer[0]);
    int port = 0;
    try {
        port = std::stoi(line);
    } catch (const std::exception&) {
        return nullptr;  // it ended first: no module, say
    }
    if (port <= 0 || port > 65535) return nullptr;
    server->port_ = static_cast<std::uint16_t>(port);
    return server;
}

std::string LocalNTLMServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

LocalNTLMServer::~LocalNTLMServer() {
    // Its input closing ends it too, should the test itself end first.
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

}  // namespace testsupport
