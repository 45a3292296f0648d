#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "device/MobileDeviceHub.h"
#include "foundation/SerialQueue.h"

class AMDevice;
class iMobileDevice;

// Turns the mobile-device hub's arrivals into set-up phone devices. Each new phone is set
// up on a thread of its own (reading its lockdown values can take long) and announced with
// "msgNewPhoneConnected" only if it is still connected by then; a departure is announced
// with "msgPhoneDisconnected". Whether a phone is still pending, its move to the connected
// list and the queuing of its announcement happen under one lock, and announcements go
// out one at a time in that order from the detector's own queue, so that a departure can
// never overtake its phone's arrival. The hub calls on the main thread, which never waits
// here for a set-up or an announcement.
//
// A phone that gives none of its values when it arrives (it does not trust this computer
// yet, or its session failed) is announced as it is, then read again a few times with a
// growing pause while it stays connected, and at once when retrySetUp() asks (after a
// pairing, say). Once it answers, it leaves and arrives anew, now with its name.
class iPhoneDetector : public MobileDeviceHubListener,
                       public std::enable_shared_from_this<iPhoneDetector> {
public:
    // Makes the phone object for a hub device (quick), then sets it up (slow, on the
    // phone's own thread).
    struct PhoneMaker {
        std::function<std::shared_ptr<iMobileDevice>(const std::shared_ptr<AMDevice>&)> make;
        std::function<void(const std::shared_ptr<iMobileDevice>&, const std::shared_ptr<AMDevice>&)>
            setUp;
        // Whether a set-up phone answered, and a fresh read of its values answering the
        // same; without them every phone counts as answering.
        std::function<bool(const std::shared_ptr<iMobileDevice>&)> isReady;
        std::function<bool(const std::shared_ptr<iMobileDevice>&)> refresh;
    };

    explicit iPhoneDetector(PhoneMaker maker);
    ~iPhoneDetector() override;

    // Registers with the hub as its listener.
    void startListening();

    void deviceConnected(const std::shared_ptr<AMDevice>& device) override;
    void deviceDisconnected(const std::shared_ptr<AMDevice>& device) override;

    // The connected phone wrapping the hub device, or nullptr.
    std::shared_ptr<iMobileDevice> findPhoneDevice(const std::shared_ptr<AMDevice>& device);
    bool isPendingDevice(const std::shared_ptr<AMDevice>& device);
    // Lets the set-up threads finish and the queued announcements go out.
    void waitUntilIdle();
    // Reads a connected phone that has not answered yet once more, now (off the caller's
    // thread); does nothing for a phone that answered or is gone.
    void retrySetUp(const iMobileDevice* device);
    // Threads of phones being read again that have not been joined yet: each ends when its
    // phone answers, leaves or the reads give up, and is joined then.
    std::size_t retryThreadCount();

private:
    struct Phone {
        std::shared_ptr<AMDevice> hubDevice;
        std::shared_ptr<iMobileDevice> device;
    };
    void setUpAndAnnounce(Phone phone);
    void announce(const char* name, std::shared_ptr<iMobileDevice> device);
    void letGo();
    // Under mutex_: phones being set up. A phone leaves the list by its hub device (it was
    // unplugged) or as itself (its set-up ended).
    void addPendingDevice(const Phone& phone);
    std::optional<Phone> removePendingDevice(const std::shared_ptr<AMDevice>& device);
    std::optional<Phone> removePendingDevice(const std::shared_ptr<iMobileDevice>& phone);
    // Under mutex_.
    void startRetries(const Phone& phone, bool now);
    bool isConnected(const Phone& phone) const;
    void retryUntilReady(Phone phone, bool now);

    PhoneMaker maker_;
    std::mutex mutex_;
    std::vector<Phone> pending_;
    std::vector<Phone> connected_;
    // Set-up threads that have not yet let themselves go; setUpEnded_ is told each time.
    std::map<std::thread::id, std::thread> setUpThreads_;
    std::condition_variable setUpEnded_;
    // Phones read again until they answer: woken early by retrySetUp() and by stopping.
    std::condition_variable retryWake_;
    std::vector<std::shared_ptr<iMobileDevice>> retrying_;
    std::vector<std::shared_ptr<iMobileDevice>> retryNow_;
    // By phone; an ended thread is joined on the announcement queue.
    std::map<const iMobileDevice*, std::thread> retryThreads_;
    bool stopping_ = false;
    foundation::SerialQueue announcements_{"iPhoneDetector"};
};
