#include "simdevice/SimDevicePorts.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

#include "simdevice/SimLink.h"
#include "simdevice/SimLockdown.h"
#include "simdevice/SimServices.h"
#include "simdevice/SimWire.h"

namespace simdevice {

namespace {

// The service speaks plainly on one end of a socket pair; this thread carries its bytes
// through TLS on the connection and back until either side leaves.
void serveThroughTls(const std::shared_ptr<SimDevice>& device, const std::string& service,
                     const std::string& host, int fd) {
    SimLink link(fd);
    if (!link.startTls(device->deviceCertificateFor(host))) return;
    int inner[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, inner) != 0) return;
    std::thread served([&] {
        serveService(device, service, inner[0]);
        ::shutdown(inner[0], SHUT_RDWR);
    });
    char buffer[16384];
    for (;;) {
        pollfd entries[2] = {{fd, POLLIN, 0}, {inner[1], POLLIN, 0}};
        if (!link.hasPending() && ::poll(entries, 2, -1) < 0) continue;
        if (link.hasPending() || entries[0].revents) {
            const long n = link.readSome(buffer, sizeof buffer);
            if (n <= 0 || !writeAll(inner[1], buffer, static_cast<std::size_t>(n))) break;
            continue;
        }
        if (entries[1].revents) {
            const ssize_t n = ::recv(inner[1], buffer, sizeof buffer, 0);
            if (n <= 0 || !link.writeAll(buffer, static_cast<std::size_t>(n))) break;
        }
    }
    ::shutdown(inner[1], SHUT_RDWR);
    served.join();
    ::close(inner[0]);
    ::close(inner[1]);
}

}  // namespace

bool acceptsPort(const SimDevice& device, std::uint16_t port) {
    if (device.refusesConnections()) return false;
    return port == kLockdownPort || device.serviceOnPort(port).has_value();
}

void serveDevicePort(const std::shared_ptr<SimDevice>& device, std::uint16_t port, int fd) {
    const auto service = port == kLockdownPort ? std::optional<std::string>(kLockdownService)
                                               : device->serviceOnPort(port);
    if (!service) return;
    const auto serve = [&](int connection) {
        if (port == kLockdownPort) {
            SimLockdown(device, connection).serve();
        } else if (const auto host = device->tlsHostOnPort(port)) {
            serveThroughTls(device, *service, *host, connection);
        } else {
            serveService(device, *service, connection);
        }
    };
    if (device->config().silenceable) {
        device->silence().serve(*service, fd, serve);
    } else {
        serve(fd);
    }
}

}  // namespace simdevice
