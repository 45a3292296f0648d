#include "support/httpserver/LocalNginx.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "support/httpserver/LocalPorts.h"

extern char** environ;

namespace testsupport {

std::string LocalNginx::binary() {
    return findProgram("nginx");
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
        server->port_ = freeLoopbackPort();
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
            if (acceptsOnLoopback(server->port_)) return server;
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
