#include "foundation/NotificationCenter.h"

#include <algorithm>

namespace foundation {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: threads may still post while the process ends.
    static auto* const center = new NotificationCenter;
    return *center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(std::string name, const void* object,
                                                               Handler handler) {
    std::lock_guard lock(mutex_);
    const ObserverId id = nextId_++;
    observers_.push_back(
        std::shared_ptr<Observer>(new Observer{id, std::move(name), object, std::move(handler)}));
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::shared_ptr<Observer> removed;
    std::lock_guard lock(mutex_);
    auto found = std::find_if(observers_.begin(), observers_.end(),
                              [id](const auto& observer) { return observer->id == id; });
    if (found == observers_.end()) return;
    removed = *found;  // its handler is released off the lock
    removed->removed = true;
    observers_.erase(found);
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& observer : observers_) {
            if ((observer->name.empty() || observer->name == notification.name) &&
                (observer->object == nullptr || observer->object == notification.object)) {
                matching.push_back(observer);
            }
        }
    }
    for (const auto& observer : matching) {
        if (!observer->removed) observer->handler(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object, UserInfo userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

}  // namespace foundation
