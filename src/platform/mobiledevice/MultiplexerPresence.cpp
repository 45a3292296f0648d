#include "platform/mobiledevice/MultiplexerPresence.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace mobiledevice {

namespace {

constexpr const char* kDefaultSocket = "/var/run/usbmuxd";

bool connects(int family, const sockaddr* address, socklen_t length) {
    const int probe = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool answered = ::connect(probe, address, length) == 0;
    ::close(probe);
    return answered;
}

MultiplexerPresence probeUnix(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return {};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat file {};
    if (::stat(path.c_str(), &file) != 0) return {};
    if (!connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), sizeof address)) return {};
    return {true, file.st_ino,
            static_cast<long long>(file.st_ctim.tv_sec) * 1000000000LL + file.st_ctim.tv_nsec};
}

MultiplexerPresence probeTcp(const std::string& hostAndPort) {
    const auto colon = hostAndPort.rfind(':');
    if (colon == std::string::npos) return {};
    const std::string host = hostAndPort.substr(0, colon);
    const std::string port = hostAndPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
    bool answered = false;
    for (const addrinfo* each = found; each && !answered; each = each->ai_next) {
        answered = connects(each->ai_family, each->ai_addr, each->ai_addrlen);
    }
    ::freeaddrinfo(found);
    return {answered, 0, 0};
}

}  // namespace

MultiplexerPresence probeMultiplexer() {
    const char* named = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (!named || !*named) return probeUnix(kDefaultSocket);
    const std::string address = named;
    if (address.rfind("UNIX:", 0) == 0) return probeUnix(address.substr(5));
    return probeTcp(address);
}

}  // namespace mobiledevice
