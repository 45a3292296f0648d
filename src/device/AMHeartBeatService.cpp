#include "device/AMHeartBeatService.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "foundation/Json.h"
#include "logging/LogCall.h"

std::shared_ptr<AMHeartBeatService> AMHeartBeatService::create(
    const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMHeartBeatService>();
    if (!service->startOnDevice(kServiceName, device)) return nullptr;
    return service;
}

std::shared_ptr<AMHeartBeatService> AMHeartBeatService::withSocket(int socket) {
    auto service = std::make_shared<AMHeartBeatService>();
    service->adoptSocket(socket, kServiceName);
    return service;
}

bool AMHeartBeatService::send() {
    return sendPlistIsBinary(hbdict_, true);
}

bool AMHeartBeatService::receive() {
    int code = 0;
    foundation::Value reply = readPlistTimeoutReturnCode(answerTimeoutMs_, &code);
    if (code != 0) LogInfo("HB error code: {}", code);
    if (reply.isNil()) return false;
    LogInfo("HB received: {}", foundation::json::write(reply));
    return true;
}

bool AMHeartBeatService::keepAlive() {
    // Running from here on, so that a die() before the thread starts is not lost; a loop
    // already running is not started twice.
    if (isRunning_.exchange(true)) return true;
    try {
        std::thread([self = shared_from_this()] { self->beatLoop(); }).detach();
    } catch (const std::system_error&) {
        isRunning_ = false;
        return false;
    }
    return true;
}

void AMHeartBeatService::die() {
    if (!isRunning_) return;
    isCanceled_ = true;
    {
        std::lock_guard lock(pauseMutex_);
        pause_.notify_all();
    }
    // A beat waiting for the device's answer ends now, not when the answer's time is up.
    interrupt();
}

void AMHeartBeatService::beatLoop() {
    // A loop stopped by die() leaves the running flag set; a failed beat clears it.
    while (!isCanceled_) {
        if (!send() || !receive()) {
            if (!isCanceled_) isRunning_ = false;
            return;
        }
        std::unique_lock lock(pauseMutex_);
        pause_.wait_for(lock, std::chrono::milliseconds(500), [this] { return bool(isCanceled_); });
    }
}
