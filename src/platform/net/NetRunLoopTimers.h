#pragma once

// The timers of one run loop; included only by the run loop's own source.

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace net {

// Deadlines of a run loop's timers, waited for with one Asio timer armed for the earliest.
// Each timer of its own reprogrammed the kernel's timer when it was made and again when it
// stopped, and a request makes and stops one every time; here a new deadline costs that
// only when it comes before all the others, and a stopped one never does (the Asio timer
// then wakes once to find nothing due). Deadlines are added and due ones taken on the
// loop's thread; one may be removed from any thread.
class NetRunLoopTimers {
public:
    using Clock = std::chrono::steady_clock;

    // Told that its deadline has come, on the loop's thread.
    class Client {
    public:
        virtual void due() = 0;

    protected:
        ~Client() = default;

    private:
        friend class NetRunLoopTimers;
        // Where the client's deadline waits; guarded by the queue's lock.
        std::optional<std::multimap<Clock::time_point, std::weak_ptr<Client>>::iterator> slot_;
    };

    explicit NetRunLoopTimers(boost::asio::io_context& context) : timer_(context) {}

    // Waits for `deadline` on the client's behalf, replacing a deadline it had.
    void add(const std::shared_ptr<Client>& client, Clock::time_point deadline);
    void remove(Client& client);

private:
    void arm(Clock::time_point deadline);
    void fired();

    std::mutex lock_;
    std::multimap<Clock::time_point, std::weak_ptr<Client>> waiting_;
    boost::asio::steady_timer timer_;
    std::optional<Clock::time_point> armedFor_;
};

}  // namespace net
