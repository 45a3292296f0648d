#include "simdevice/SimNetworkPorts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "simdevice/SimDevicePorts.h"

namespace simdevice {

SimNetworkPorts::SimNetworkPorts(std::shared_ptr<SimDevice> device) : device_(std::move(device)) {}

SimNetworkPorts::~SimNetworkPorts() { stop(); }

int SimNetworkPorts::bound(std::uint16_t port) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    std::memcpy(&address.sin_addr, address_.data(), 4);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SimNetworkPorts::start() {
    if (running_) return true;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) return false;
    std::mt19937 random{std::random_device{}()};
    int lockdown = -1;
    for (int tries = 0; tries < 32 && lockdown < 0; ++tries) {
        address_ = {127, static_cast<std::uint8_t>(1 + random() % 254), static_cast<std::uint8_t>(random()),
                    static_cast<std::uint8_t>(1 + random() % 254)};
        lockdown = bound(kLockdownPort);
    }
    if (lockdown < 0) {
        ::close(wakePipe_[0]);
        ::close(wakePipe_[1]);
        return false;
    }
    listening_[lockdown] = kLockdownPort;
    running_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

bool SimNetworkPorts::listen(std::uint16_t port) {
    if (!running_) return false;
    const int fd = bound(port);
    if (fd < 0) return false;
    {
        std::lock_guard lock(mutex_);
        listening_[fd] = port;
    }
    const char wake = 1;
    (void)!::write(wakePipe_[1], &wake, 1);
    return true;
}

void SimNetworkPorts::stop() {
    if (!running_.exchange(false)) return;
    const char wake = 1;
    (void)!::write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    workers_.endAll();
    std::lock_guard lock(mutex_);
    for (const auto& [fd, port] : listening_) ::close(fd);
    listening_.clear();
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void SimNetworkPorts::acceptLoop() {
    while (running_) {
        std::vector<pollfd> entries = {{wakePipe_[0], POLLIN, 0}};
        std::vector<std::uint16_t> ports = {0};
        {
            std::lock_guard lock(mutex_);
            for (const auto& [fd, port] : listening_) {
                entries.push_back({fd, POLLIN, 0});
                ports.push_back(port);
            }
        }
        if (::poll(entries.data(), entries.size(), -1) < 0) continue;
        if (entries[0].revents) {
            char drained[64];
            (void)!::read(wakePipe_[0], drained, sizeof drained);
            continue;
        }
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (!(entries[i].revents & POLLIN)) continue;
            const int fd = ::accept4(entries[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const std::uint16_t port = ports[i];
            if (!acceptsPort(*device_, port)) {
                ::close(fd);
                continue;
            }
            workers_.start(fd, [this, fd, port] { serveDevicePort(device_, port, fd); });
        }
    }
}

}  // namespace simdevice
