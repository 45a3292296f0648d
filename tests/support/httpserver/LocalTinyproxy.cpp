#include "support/httpserver/LocalTinyproxy.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/httpserver/LocalDaemon.h"
#include "support/httpserver/LocalPorts.h"

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
        proxy->pid_ =
            spawnListeningDaemon({program, "-d", "-c", d + "/tinyproxy.conf"}, proxy->port_);
        if (proxy->pid_ > 0) return proxy;
    }
    return nullptr;
}

LocalTinyproxy::~LocalTinyproxy() {
    stopDaemon(pid_);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
