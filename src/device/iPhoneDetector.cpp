#include "device/iPhoneDetector.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "device/AMDevice.h"
#include "device/DeviceNotifications.h"
#include "device/iMobileDevice.h"
#include "logging/LogCall.h"

namespace {

template <typename List, typename Match>
auto takeFirst(List& list, Match match) -> std::optional<typename List::value_type> {
    const auto found = std::find_if(list.begin(), list.end(), match);
    if (found == list.end()) return std::nullopt;
    auto taken = std::move(*found);
    list.erase(found);
    return taken;
}

// Pauses before each fresh read of a phone that has not answered: about four minutes in
// all, time for a person to unlock the phone and tap "Trust".
constexpr std::chrono::seconds kRetryPauses[] = {std::chrono::seconds(1), std::chrono::seconds(2),
                                                 std::chrono::seconds(4), std::chrono::seconds(8),
                                                 std::chrono::seconds(15), std::chrono::seconds(30),
                                                 std::chrono::seconds(30), std::chrono::seconds(30),
                                                 std::chrono::seconds(60), std::chrono::seconds(60)};

bool wraps(const std::shared_ptr<AMDevice>& a, const std::shared_ptr<AMDevice>& b) {
    return a == b || (a && b && !a->udid().empty() && a->udid() == b->udid());
}

}  // namespace

iPhoneDetector::iPhoneDetector(PhoneMaker maker) : maker_(std::move(maker)) {}

iPhoneDetector::~iPhoneDetector() {
    std::map<const iMobileDevice*, std::thread> retries;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        retries.swap(retryThreads_);
    }
    retryWake_.notify_all();
    for (auto& [device, thread] : retries) thread.join();
    waitUntilIdle();  // and the joins of those that ended before
}

std::size_t iPhoneDetector::retryThreadCount() {
    std::lock_guard lock(mutex_);
    return retryThreads_.size();
}

void iPhoneDetector::startListening() {
    MobileDeviceHub::singleton().setListener(shared_from_this());
}

void iPhoneDetector::deviceConnected(const std::shared_ptr<AMDevice>& device) {
    if (!device || !maker_.make) return;
    LogInfo("{} connected", device->deviceName());
    Phone phone{device, maker_.make(device)};
    if (!phone.device) return;
    LogInfo("starting service....");
    std::lock_guard lock(mutex_);
    addPendingDevice(phone);
    // Started under the lock, so that the thread is listed before it can look itself up.
    std::thread thread([this, phone]() mutable {
        setUpAndAnnounce(std::move(phone));
        letGo();
    });
    setUpThreads_.emplace(thread.get_id(), std::move(thread));
}

void iPhoneDetector::letGo() {
    // A set-up thread that has ended its work lets itself go, so that its stack is given
    // back as it ends rather than kept until the detector goes.
    std::lock_guard lock(mutex_);
    const auto mine = setUpThreads_.find(std::this_thread::get_id());
    if (mine != setUpThreads_.end()) {
        mine->second.detach();
        setUpThreads_.erase(mine);
    }
    setUpEnded_.notify_all();
}

void iPhoneDetector::setUpAndAnnounce(Phone phone) {
    try {
        if (maker_.setUp) maker_.setUp(phone.device, phone.hubDevice);
    } catch (const std::exception& e) {
        LogError("setting up a phone failed: {}", e.what());
    }
    LogInfo("starting service 3....");
    std::lock_guard lock(mutex_);
    if (removePendingDevice(phone.device)) {
        connected_.push_back(phone);
        announce(kMsgNewPhoneConnected, phone.device);
        if (maker_.isReady && maker_.refresh && !maker_.isReady(phone.device)) {
            // Most often a phone that does not trust this computer yet: worth a line in the log.
            const std::int32_t code = phone.device->lastErrorCode();
            LogWarn("The phone {} tells none of its values: {}", phone.device->uuid(),
                    code != 0 ? phone.device->statusText(code) : "no answer");
            startRetries(phone, false);
        }
    } else {
        LogInfo("The device has been unplugged!");
    }
}

void iPhoneDetector::deviceDisconnected(const std::shared_ptr<AMDevice>& device) {
    std::lock_guard lock(mutex_);
    const auto wrapping = [&](const Phone& p) { return wraps(p.hubDevice, device); };
    // A phone still being set up is taken from the pending list, so that it is never
    // announced; otherwise the connected phone that wraps this device leaves.
    if (auto phone = removePendingDevice(device)) {
        announce(kMsgPhoneDisconnected, phone->device);
    } else if (auto connected = takeFirst(connected_, wrapping)) {
        announce(kMsgPhoneDisconnected, connected->device);
        retryWake_.notify_all();  // its re-reads end now
    }
}

void iPhoneDetector::addPendingDevice(const Phone& phone) {
    pending_.push_back(phone);
}

std::optional<iPhoneDetector::Phone> iPhoneDetector::removePendingDevice(
    const std::shared_ptr<AMDevice>& device) {
    return takeFirst(pending_, [&](const Phone& p) { return wraps(p.hubDevice, device); });
}

std::optional<iPhoneDetector::Phone> iPhoneDetector::removePendingDevice(
    const std::shared_ptr<iMobileDevice>& phone) {
    return takeFirst(pending_, [&](const Phone& p) { return p.device == phone; });
}

void iPhoneDetector::announce(const char* name, std::shared_ptr<iMobileDevice> device) {
    // Queued under the lock, posted outside it.
    announcements_.async([this, name, device = std::move(device)] {
        try {
            foundation::NotificationCenter::defaultCenter().post(name, this,
                                                                 {{"device", device}});
        } catch (const std::exception& e) {
            LogError("DEVICE DISCONNECT: {}", e.what());
        }
    });
}

std::shared_ptr<iMobileDevice> iPhoneDetector::findPhoneDevice(
    const std::shared_ptr<AMDevice>& device) {
    std::lock_guard lock(mutex_);
    for (const auto& phone : connected_) {
        if (wraps(phone.hubDevice, device)) return phone.device;
    }
    return nullptr;
}

bool iPhoneDetector::isPendingDevice(const std::shared_ptr<AMDevice>& device) {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const Phone& p) { return wraps(p.hubDevice, device); });
}

void iPhoneDetector::waitUntilIdle() {
    {
        std::unique_lock lock(mutex_);
        setUpEnded_.wait(lock, [this] { return setUpThreads_.empty(); });
    }
    announcements_.sync([] {});
}

bool iPhoneDetector::isConnected(const Phone& phone) const {
    return std::any_of(connected_.begin(), connected_.end(),
                       [&](const Phone& p) { return p.device == phone.device; });
}

void iPhoneDetector::startRetries(const Phone& phone, bool now) {
    if (stopping_) return;
    if (std::find(retrying_.begin(), retrying_.end(), phone.device) != retrying_.end()) {
        if (now) {
            retryNow_.push_back(phone.device);
            retryWake_.notify_all();
        }
        return;
    }
    retrying_.push_back(phone.device);
    // Started under the lock, so that the thread is listed before it can look itself up.
    retryThreads_.emplace(phone.device.get(),
                          std::thread([this, phone, now] { retryUntilReady(phone, now); }));
}

void iPhoneDetector::retrySetUp(const iMobileDevice* device) {
    if (!device || !maker_.isReady || !maker_.refresh) return;
    std::optional<Phone> phone;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(connected_.begin(), connected_.end(),
                                        [&](const Phone& p) { return p.device.get() == device; });
        if (found != connected_.end()) phone = *found;
    }
    // Asked outside the lock: the answer may come from the device's own locks.
    if (!phone || maker_.isReady(phone->device)) return;
    std::lock_guard lock(mutex_);
    if (isConnected(*phone)) startRetries(*phone, true);
}

void iPhoneDetector::retryUntilReady(Phone phone, bool now) {
    const auto asked = [&] {
        const auto found = std::find(retryNow_.begin(), retryNow_.end(), phone.device);
        if (found == retryNow_.end()) return false;
        retryNow_.erase(found);
        return true;
    };
    bool ready = false;
    for (const auto pause : kRetryPauses) {
        {
            std::unique_lock lock(mutex_);
            if (!now) {
                retryWake_.wait_for(lock, pause,
                                    [&] { return stopping_ || asked() || !isConnected(phone); });
            }
            now = false;
            if (stopping_ || !isConnected(phone)) break;
        }
        try {
            ready = maker_.refresh(phone.device);
        } catch (const std::exception& e) {
            LogError("reading a phone again failed: {}", e.what());
        }
        if (ready) break;
    }
    if (ready) LogInfo("{} answers now", phone.device->name());
    std::lock_guard lock(mutex_);
    retrying_.erase(std::remove(retrying_.begin(), retrying_.end(), phone.device), retrying_.end());
    // This thread is joined as soon as it has ended, by the announcement queue (which
    // never waits for a re-read); when the detector is going, its destructor joins it.
    if (auto mine = retryThreads_.extract(phone.device.get())) {
        announcements_.async([thread = std::make_shared<std::thread>(std::move(mine.mapped()))] {
            thread->join();
        });
    }
    if (!ready || stopping_ || !isConnected(phone)) return;
    // Out and in again, so that everyone who listed it hears its name.
    announce(kMsgPhoneDisconnected, phone.device);
    announce(kMsgNewPhoneConnected, phone.device);
}
