#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace simdevice {

// Services of a device that stop answering, as a phone that hangs does: a service given a
// budget sends that many bytes more of its answers, over all its connections, open or opened
// later; then each of them says and reads nothing more, and keeps the connection until the
// host hangs up, the simulator stops, or the service answers again. Thread-safe.
class SimSilence {
public:
    SimSilence() = default;
    SimSilence(const SimSilence&) = delete;
    SimSilence& operator=(const SimSilence&) = delete;

    void fallSilentAfter(const std::string& service, std::uint64_t bytes);
    // Ends every connection of the service, now and when opened, as a phone that leaves.
    void hangUp(const std::string& service);
    // Lifts the budget and the hanging up: connections waiting in silence go on where they
    // stopped.
    void answerAgain(const std::string& service);
    // How many of `wanted` answer bytes the service may send now; they are taken.
    std::size_t take(const std::string& service, std::size_t wanted);
    bool isSilent(const std::string& service) const;
    bool hungUp(const std::string& service) const;

    // Serves one connection of the service: `serve` speaks the protocol on the device's end of
    // a socket pair, and the bytes are carried to and from the host's `fd` within the budget.
    void serve(const std::string& service, int fd, const std::function<void(int)>& serve);

private:
    void wakeAll();

    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> budgets_;
    std::set<std::string> hungUp_;
    std::set<int> wakers_;  // an eventfd per connection, told of every change
};

}  // namespace simdevice
