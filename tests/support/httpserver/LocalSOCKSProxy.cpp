#include "support/httpserver/LocalSOCKSProxy.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/httpserver/LocalDaemon.h"
#include "support/httpserver/LocalPorts.h"
#include "support/httpserver/PrivateAccounts.h"

namespace testsupport {

namespace {

std::string contents(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Dante's settings: on the port, connecting only to loopback addresses, logging each
// connection it makes, running as the user given.
void writeDanteSettings(const std::string& folder, std::uint16_t port, const std::string& user,
                        const std::string& method) {
    std::ofstream(folder + "/danted.conf")
        << "logoutput: " << folder << "/danted.log\n"
        << "internal: 127.0.0.1 port = " << port << "\nexternal: 127.0.0.1\n"
        << "socksmethod: " << method << "\nclientmethod: none\n"
        << "user.privileged: " << user << "\nuser.unprivileged: " << user << "\n"
        << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
        << "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 log: connect }\n";
}

std::vector<std::string> danteCommand(const std::string& program, const std::string& folder) {
    return {program, "-f", folder + "/danted.conf", "-p", folder + "/danted.pid", "-N", "1"};
}

}  // namespace

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::start(
    const std::string& program,
    const std::function<std::vector<std::string>(const std::string&, std::uint16_t)>& prepare,
    std::string* failure) {
    if (program.empty()) return nullptr;
    std::unique_ptr<LocalSOCKSProxy> proxy(new LocalSOCKSProxy());
    char pattern[] = "/tmp/orvandel-socks-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return nullptr;
    proxy->folder_ = pattern;
    const std::string errors = proxy->folder_ + "/errors.log";
    // Ports can be taken between the look-up and the proxy's bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        proxy->port_ = freeLoopbackPort();
        const auto command = prepare(proxy->folder_, proxy->port_);
        if (command.empty()) return nullptr;
        proxy->pid_ = spawnListeningDaemon(command, proxy->port_, errors);
        if (proxy->pid_ > 0) return proxy;
    }
    if (failure != nullptr) *failure = contents(errors);
    return nullptr;
}

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::startDante() {
    const std::string program = findProgram("danted");
    return start(program, [&](const std::string& d, std::uint16_t port) {
        // The user it switches to is the one running the test: no root needed.
        const passwd* account = ::getpwuid(::getuid());
        writeDanteSettings(d, port, account != nullptr ? account->pw_name : "root", "none");
        return danteCommand(program, d);
    });
}

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::startDanteWithPassword(
    const std::string& username, const std::string& password, std::string& whyNot) {
    const std::string program = findProgram("danted");
    if (program.empty()) {
        whyNot = "Dante's SOCKS server is not installed";
        return nullptr;
    }
    std::string failure;
    auto proxy = start(
        program,
        [&](const std::string& d, std::uint16_t port) {
            auto command = privateAccountsCommand(d, username, password, whyNot);
            if (!command) return std::vector<std::string>{};
            // Root is the only account its namespace knows for certain.
            writeDanteSettings(d, port, "root", "username");
            for (auto& arg : danteCommand(program, d)) command->push_back(arg);
            return *command;
        },
        &failure);
    if (!proxy && whyNot.empty())
        whyNot = "Dante did not start in a mount namespace of its own: " + failure;
    return proxy;
}

std::string LocalSOCKSProxy::log() const {
    return contents(folder_ + "/danted.log");
}

LocalSOCKSProxy::~LocalSOCKSProxy() {
    stopDaemon(pid_);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
