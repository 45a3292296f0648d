#include "platform/net/NetRunLoop.h"

#include <boost/asio/post.hpp>

#include <atomic>

#include "platform/net/NetConnection.h"
#include "platform/net/NetRunLoopImpl.h"

namespace net {

namespace {

class LoopTimer : public NetTimer,
                  public NetRunLoopTimers::Client,
                  public std::enable_shared_from_this<LoopTimer> {
public:
    LoopTimer(std::weak_ptr<NetRunLoop::Impl> loop, std::string mode,
              std::chrono::steady_clock::duration interval, bool repeats,
              std::function<void()> fire)
        : loop_(std::move(loop)),
          mode_(std::move(mode)),
          interval_(interval),
          repeats_(repeats),
          fire_(std::move(fire)) {}

    void arm() {
        if (auto loop = loop_.lock())
            loop->timers.add(shared_from_this(), std::chrono::steady_clock::now() + interval_);
    }
    void due() override {
        auto loop = loop_.lock();
        if (!loop || !valid_) return;
        std::weak_ptr<LoopTimer> weak = shared_from_this();
        loop->deliver(mode_, [weak] {
            auto timer = weak.lock();
            if (!timer || !timer->valid_) return;
            if (timer->repeats_) {
                timer->arm();
            } else {
                timer->valid_ = false;
            }
            auto fire = timer->fire_;  // the job may invalidate the timer
            fire();
        });
    }
    void invalidate() override {
        valid_ = false;
        if (auto loop = loop_.lock()) loop->timers.remove(*this);
    }
    bool isValid() const override { return valid_; }
    ~LoopTimer() override { invalidate(); }

private:
    std::weak_ptr<NetRunLoop::Impl> loop_;
    std::string mode_;
    std::chrono::steady_clock::duration interval_;
    bool repeats_;
    std::function<void()> fire_;
    // Stopped from any thread.
    std::atomic<bool> valid_{true};
};

}  // namespace

void NetRunLoop::Impl::deliver(const std::string& mode, std::function<void()> job) {
    if (!currentMode.empty() && currentMode == mode) {
        handled = true;
        job();
    } else {
        parked[mode].push_back(std::move(job));
    }
}

NetRunLoop::NetRunLoop() : impl_(std::make_shared<Impl>()) {}

NetRunLoop::~NetRunLoop() {
    std::lock_guard guard(impl_->life->lock);
    impl_->life->alive = false;
}

NetRunLoop& NetRunLoop::current() {
    thread_local std::unique_ptr<NetRunLoop> loop(new NetRunLoop());
    return *loop;
}

NetRunLoop::Result NetRunLoop::runOnce(const std::string& mode,
                                       std::chrono::duration<double> timeout) {
    Impl& d = *impl_;
    // Runs may nest (a job that runs the loop in a private mode); each keeps its own mode.
    std::string outerMode = std::exchange(d.currentMode, mode);
    bool outerHandled = std::exchange(d.handled, false);
    struct Restore {
        Impl& d;
        std::string mode;
        bool handled;
        ~Restore() {
            d.currentMode = mode;
            d.handled = handled;
        }
    } restore{d, outerMode, outerHandled};

    auto& waiting = d.parked[mode];
    if (!waiting.empty()) {
        auto job = std::move(waiting.front());
        waiting.pop_front();
        job();
        return Result::HandledSource;
    }
    using Clock = std::chrono::steady_clock;
    // Very long waits are taken in slices, which keeps the deadline arithmetic in range.
    const auto slice = std::chrono::hours(1);
    const bool endless = timeout > std::chrono::duration<double>(slice);
    const auto deadline = endless
                              ? Clock::time_point::max()
                              : Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    while (!d.handled) {
        if (d.stopRequested.exchange(false)) return Result::Stopped;
        auto now = Clock::now();
        if (now >= deadline) return Result::TimedOut;
        auto wait = endless ? Clock::duration(slice) : deadline - now;
        d.context.run_one_for(wait);
    }
    return Result::HandledSource;
}

void NetRunLoop::stop() {
    impl_->stopRequested = true;
    boost::asio::post(impl_->context, [] {});
}

void NetRunLoop::perform(const std::string& mode, std::function<void()> job) {
    Impl* d = impl_.get();
    boost::asio::post(d->context, [d, mode, job = std::move(job)]() mutable {
        d->deliver(mode, std::move(job));
    });
}

std::shared_ptr<NetTimer> NetRunLoop::addTimer(const std::string& mode,
                                               std::chrono::duration<double> interval, bool repeats,
                                               std::function<void()> fire) {
    auto timer = std::make_shared<LoopTimer>(
        impl_, mode, std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval),
        repeats, std::move(fire));
    timer->arm();
    return timer;
}

}  // namespace net
