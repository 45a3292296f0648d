#include "support/httpserver/LocalNginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

std::uint16_t freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string LocalNginx::binary() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/local/sbin/nginx"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    const char* path = std::getenv("PATH");
    std::string paths = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= paths.size()) {
        auto end = paths.find(':', start);
        std::string candidate = paths.substr(start, end - start) + "/nginx";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "";
}

std::unique_ptr<LocalNginx> LocalNginx::start(const std::string& serverBlock) {
    const std::string nginx = binary();
    if (nginx.empty()) return nullptr;
    std::unique_ptr<LocalNginx> server(new LocalNginx());
    char pattern[] = "/tmp/orvandel-nginx-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return nullptr;
    server->folder_ = pattern;
    server->root_ = server->folder_ + "/www";
    std::filesystem::create_directories(server->root_);
    std::filesystem::create_directories(server->folder_ + "/temp");
    const std::string echoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";
    // Ports can be taken between the look-up and nginx's bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        server->port_ = freePort();
        const std::string& d = server->folder_;
        std::ofstream(d + "/nginx.conf")
            << (::access(echoModule.c_str(), R_OK) == 0 ? "load_module " + echoModule + ";\n" : "")
            << "master_process off;\ndaemon off;\nerror_log " << d << "/error.log;\npid " << d
            << "/nginx.pid;\nevents { worker_connections 1024; }\nhttp {\n  access_log off;\n"
            << "  keepalive_requests 1000000;\n  client_body_temp_path " << d << "/temp;\n"
            << "  proxy_temp_path " << d << "/temp;\n  fastcgi_temp_path " << d << "/temp;\n"
            << "  uwsgi_temp_path " << d << "/temp;\n  scgi_temp_path " << d << "/temp;\n"
            << "  default_type application/octet-stream;\n"
            << "  server {\n    listen 127.0.0.1:" << server->port_ << ";\n    root "
            << server->root_ << ";\n"
            << serverBlock << "\n  }\n}\n";
        std::vector<std::string> args = {nginx,           "-p", d, "-c", d + "/nginx.conf", "-e",
                                         d + "/error.log"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (::posix_spawn(&pid, nginx.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            return nullptr;
        server->pid_ = pid;
        // nginx is another process: its readiness shows only as a port that accepts.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (accepts(server->port_)) return server;
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) break;  // it gave up (port taken)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        server->pid_ = -1;
    }
    return nullptr;
}

LocalNginx::~LocalNginx() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

std::string LocalNginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LocalNginx::writeFile(const std::string& relativePath, const std::string& contents) const {
    std::filesystem::path path = std::filesystem::path(root_) / relativePath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

}  // namespace testsupport
