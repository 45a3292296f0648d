#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// A SOCKS version 5 proxy of the test's own on a free 127.0.0.1 port, which connects only
// to loopback addresses, with its files in a temporary folder that goes with it.
class LocalSOCKSProxy {
public:
    // Dante's server, asking for no authentication; nullptr when it is not installed or
    // does not come up.
    static std::unique_ptr<LocalSOCKSProxy> startDante();
    // Dante's server asking for this user name and password. It checks them against the
    // system's accounts, so it runs in a mount namespace of its own, where a passwd and a
    // shadow file of the test's cover the machine's for it alone. nullptr, with the reason
    // in whyNot, where that cannot be made.
    static std::unique_ptr<LocalSOCKSProxy> startDanteWithPassword(const std::string& username,
                                                                   const std::string& password,
                                                                   std::string& whyNot);
    ~LocalSOCKSProxy();
    LocalSOCKSProxy(const LocalSOCKSProxy&) = delete;
    LocalSOCKSProxy& operator=(const LocalSOCKSProxy&) = delete;

    std::uint16_t port() const { return port_; }
    // What Dante logged so far: a line for each connection it made.
    std::string log() const;

private:
    LocalSOCKSProxy() = default;
    // For each port tried, prepare writes the files into the folder and gives the command
    // (none: give up). When it does not come up, failure (if given) gets what it wrote to
    // its error output.
    static std::unique_ptr<LocalSOCKSProxy> start(
        const std::string& program,
        const std::function<std::vector<std::string>(const std::string& folder,
                                                     std::uint16_t port)>& prepare,
        std::string* failure = nullptr);
    std::string folder_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
