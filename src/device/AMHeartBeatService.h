#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "device/AMService.h"

// Keeps a wirelessly attached device's lockdown connection alive: sends a beat about every
// half second on a thread of its own and waits up to 15 s for each answer. The loop ends
// on the first failed send or answer, or at once when die() is called, which gives up the
// service's connection.
class AMHeartBeatService : public AMService,
                           public std::enable_shared_from_this<AMHeartBeatService> {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.heartbeat";
    static constexpr unsigned int kAnswerTimeoutMs = 15000;

    static std::shared_ptr<AMHeartBeatService> create(const std::shared_ptr<AMDevice>& device);
    // Over an open socket (tests).
    static std::shared_ptr<AMHeartBeatService> withSocket(int socket);

    bool send();
    bool receive();
    // Starts the beat loop; returns at once.
    bool keepAlive();
    void die();

    // Set from keepAlive() on; cleared only when a beat fails, so it stays set after die().
    bool isRunning() const { return isRunning_; }
    void setIsRunning(bool running) { isRunning_ = running; }
    bool isCanceled() const { return isCanceled_; }
    void setIsCanceled(bool canceled) { isCanceled_ = canceled; }

    void setAnswerTimeoutMs(unsigned int timeoutMs) { answerTimeoutMs_ = timeoutMs; }

private:
    void beatLoop();

    foundation::Value hbdict_ = foundation::Value::dict({{"Command", "Polo"}});
    // Read by the beat thread and set from others.
    std::atomic<bool> isRunning_{false};
    std::atomic<bool> isCanceled_{false};
    std::atomic<unsigned int> answerTimeoutMs_{kAnswerTimeoutMs};
    std::mutex pauseMutex_;
    std::condition_variable pause_;
};
