#include "simdevice/SimServiceState.h"

#include <algorithm>

#include "simdevice/SimApplications.h"
#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

SimServiceState::SimServiceState() {
    // Any PNG serves as the screen.
    fields_.screenshot = applicationIcon("com.example.reader");
    fields_.syslogMessages = {
        "Dec  7 10:15:00 Simulated-iPhone SpringBoard(FrontBoard)[58] <Notice>: scene updated",
        "Dec  7 10:15:01 Simulated-iPhone kernel[0] <Notice>: wifi link up",
    };
    fields_.fileSets["SystemConfiguration"] = {
        {"./var/preferences/SystemConfiguration/preferences.plist", "<plist version=\"1.0\"/>\n"},
        {"./var/preferences/SystemConfiguration/NetworkInterfaces.plist", "<plist/>\n"},
    };
    fields_.fileSets["Lockdown"] = {{"./var/root/Library/Lockdown/data_ark.plist", "<plist/>\n"}};
}

void SimServiceState::record(const std::string& service, const Value& message) {
    std::lock_guard lock(mutex_);
    fields_.received[service].push_back(message);
}

void SimServiceState::addObserver(const std::shared_ptr<Observer>& observer) {
    std::lock_guard lock(mutex_);
    observers_.push_back(observer);
}

void SimServiceState::removeObserver(const std::shared_ptr<Observer>& observer) {
    std::lock_guard lock(mutex_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void SimServiceState::observe(const std::shared_ptr<Observer>& observer, const std::string& name) {
    std::lock_guard lock(mutex_);
    observer->names.insert(name);
    observed_.notify_all();
}

bool SimServiceState::waitForObserver(const std::string& name, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return observed_.wait_for(lock, limit, [&] {
        for (const auto& observer : observers_) {
            if (observer->names.count(name)) return true;
        }
        return false;
    });
}

int SimServiceState::postNotification(const std::string& name) {
    std::vector<std::shared_ptr<Observer>> reached;
    {
        std::lock_guard lock(mutex_);
        for (const auto& observer : observers_) {
            if (observer->names.count(name)) reached.push_back(observer);
        }
    }
    int count = 0;
    for (const auto& observer : reached) {
        std::lock_guard lock(observer->writeMutex);
        if (observer->fd >= 0 &&
            writeFramedPlist(observer->fd,
                             Value::dict({{"Command", "RelayNotification"}, {"Name", name}}))) {
            ++count;
        }
    }
    return count;
}

}  // namespace simdevice
