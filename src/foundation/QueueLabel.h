#pragma once

#include <string_view>

namespace foundation {

// The label of the queue the calling thread serves (main thread, a serial queue, the
// background pool), so that log records can say where they were made.
class QueueLabel {
public:
    static constexpr std::string_view kMainThread = "main-thread";

    // The label must outlive the thread's use of it (queues keep theirs for life).
    static void setForCurrentThread(std::string_view label);
    // Empty when the thread serves no queue.
    static std::string_view current();
};

}  // namespace foundation
