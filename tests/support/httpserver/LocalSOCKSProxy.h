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
    // A small server of the tests (python3) that asks for this user name and password, as
    // Dante checks them only against the system's accounts; nullptr without python3.
    static std::unique_ptr<LocalSOCKSProxy> startWithPassword(const std::string& username,
                                                              const std::string& password);
    ~LocalSOCKSProxy();
    LocalSOCKSProxy(const LocalSOCKSProxy&) = delete;
    LocalSOCKSProxy& operator=(const LocalSOCKSProxy&) = delete;

    std::uint16_t port() const { return port_; }
    // What Dante logged so far: a line for each connection it made.
    std::string log() const;

private:
    LocalSOCKSProxy() = default;
    // For each port tried, prepare writes the files into the folder and gives the command.
    static std::unique_ptr<LocalSOCKSProxy> start(
        const std::string& program,
        const std::function<std::vector<std::string>(const std::string& folder,
                                                     std::uint16_t port)>& prepare);
    std::string folder_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testsupport
