#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace testsupport {

// An nginx of the test's own on a free 127.0.0.1 port, with its configuration, logs and
// document root in a temporary folder that goes with it.
class LocalNginx {
public:
    // Starts nginx with `serverBlock` inside its one server (listen and root are set);
    // nullopt when there is no nginx binary or it does not come up.
    static std::unique_ptr<LocalNginx> start(const std::string& serverBlock);
    ~LocalNginx();
    LocalNginx(const LocalNginx&) = delete;
    LocalNginx& operator=(const LocalNginx&) = delete;

    // "/usr/sbin/nginx" or the one on the PATH; empty when there is none.
    static std::string binary();

    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    // Writes a file under the document root.
    void writeFile(const std::string& relativePath, const std::string& contents) const;
    const std::string& root() const { return root_; }

private:
    LocalNginx() = default;
    std::string folder_;
    std::string root_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
