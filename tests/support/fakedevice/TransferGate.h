#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace testsupport {

// Holds a transfer of the fake device between chunks until the test lets it go on.
// The transfer side calls pass() after each chunk; the test waits for each pause in turn.
class TransferGate {
public:
    // Transfer side: counts an arrival and waits while the gate is shut.
    void pass(std::int64_t bytesDone);
    // Test side: waits for the next arrival not yet waited for; the bytes done at it.
    std::int64_t waitForPause();
    // Lets one waiting transfer go on by one chunk.
    void step();
    // Lets every transfer run to its end, now and later.
    void open();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int permits_ = 0;
    int arrivals_ = 0;
    int seen_ = 0;
    std::int64_t lastBytes_ = 0;
};

}  // namespace testsupport
