#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace testsupport {

// A tinyproxy of the test's own on a free 127.0.0.1 port, with its configuration and log in
// a temporary folder that goes with it. It carries plain requests and CONNECT tunnels to
// any port.
class LocalTinyproxy {
public:
    // nullptr when there is no tinyproxy binary or it does not come up. With credentials,
    // the proxy asks for them (Basic, realm "Tinyproxy").
    static std::unique_ptr<LocalTinyproxy> start(
        std::optional<std::pair<std::string, std::string>> credentials = std::nullopt);
    ~LocalTinyproxy();
    LocalTinyproxy(const LocalTinyproxy&) = delete;
    LocalTinyproxy& operator=(const LocalTinyproxy&) = delete;

    static std::string binary();
    std::uint16_t port() const { return port_; }

private:
    LocalTinyproxy() = default;
    std::string folder_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
