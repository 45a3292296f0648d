#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace net {

// The mode a run loop runs in unless another is named.
inline constexpr const char* NetDefaultRunLoopMode = "kCFRunLoopDefaultMode";

class NetTimer;

// A thread's run loop: streams, timers and performed jobs are attached to it in a mode,
// and fire only while the loop runs in that mode. Each thread has its own, made on first
// use; everything attached to it must be used on that thread.
class NetRunLoop {
public:
    enum class Result { HandledSource, TimedOut, Stopped };

    // The run loop of the calling thread.
    static NetRunLoop& current();
    ~NetRunLoop();
    NetRunLoop(const NetRunLoop&) = delete;
    NetRunLoop& operator=(const NetRunLoop&) = delete;

    // Runs until one source of `mode` was handled, the time is up, or stop() was called.
    Result runOnce(const std::string& mode, std::chrono::duration<double> timeout);
    // Ends the current or next runOnce; callable from any thread.
    void stop();
    // Runs `job` on this loop's thread in `mode`; callable from any thread.
    void perform(const std::string& mode, std::function<void()> job);

    // A timer firing after `interval` (and every `interval` after that when it repeats).
    std::shared_ptr<NetTimer> addTimer(const std::string& mode,
                                       std::chrono::duration<double> interval, bool repeats,
                                       std::function<void()> fire);

    // For the stream layer's own sockets and timers.
    struct Impl;
    Impl& impl() { return *impl_; }
    // Names this loop to other threads; expires with the loop.
    std::weak_ptr<Impl> handle() const { return impl_; }

private:
    NetRunLoop();
    std::shared_ptr<Impl> impl_;
};

// A timer on a run loop; invalidating it (or dropping the last reference) stops it.
class NetTimer {
public:
    virtual ~NetTimer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

}  // namespace net
