#pragma once

// The Asio side of a run loop; included only by the stream layer's own sources.

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/NetRunLoop.h"
#include "platform/net/NetRunLoopTimers.h"

namespace net {

class NetConnection;

struct NetRunLoop::Impl {
    // No single-thread hint: with it, work posted by a running job would wait for that job
    // to return, and a nested run could never see it.
    boost::asio::io_context context;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{
        context.get_executor()};
    NetRunLoopTimers timers{context};
    // The mode of the innermost runOnce, empty while the loop is not running.
    std::string currentMode;
    bool handled = false;
    std::atomic<bool> stopRequested{false};
    // Jobs that became ready while the loop ran in another mode.
    std::map<std::string, std::deque<std::function<void()>>> parked;

    // Connections kept open after a finished response, by the stream id of the
    // connection record they belong to; only streams on this loop can take them.
    std::map<int, std::shared_ptr<NetConnection>> idleConnections;

    // Whether the loop still lives, for other threads that hand it work: its thread clears
    // the flag under the lock as the loop goes, so that whoever finds it cleared comes after
    // all that thread did.
    struct Life {
        std::mutex lock;
        bool alive = true;
    };
    std::shared_ptr<Life> life = std::make_shared<Life>();

    // On the loop's thread: runs `job` now when the loop runs in `mode`, else keeps it
    // until it does.
    void deliver(const std::string& mode, std::function<void()> job);
};

}  // namespace net
