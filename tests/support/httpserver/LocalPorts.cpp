#include "support/httpserver/LocalPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace testsupport {

std::uint16_t freeLoopbackPort() {
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

bool acceptsOnLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string findProgram(const std::string& name) {
    for (const char* folder : {"/usr/sbin/", "/usr/local/sbin/", "/usr/bin/", "/usr/local/bin/"}) {
        std::string candidate = folder + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    const char* path = std::getenv("PATH");
    std::string paths = path != nullptr ? path : "";
    std::size_t start = 0;
    while (start <= paths.size()) {
        auto end = paths.find(':', start);
        std::string candidate = paths.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "";
}

}  // namespace testsupport
