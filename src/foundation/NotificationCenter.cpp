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
    observers_.push_back(std::shared_ptr<Observer>(
        new Observer{id, std::move(name), object, std::move(handler), false, {}}));
    return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::shared_ptr<Observer> removed;  // its handler is released off the lock
    std::unique_lock lock(mutex_);
    auto found = std::find_if(observers_.begin(), observers_.end(),
                              [id](const auto& observer) { return observer->id == id; });
    if (found == observers_.end()) return;
    removed = *found;
    removed->removed = true;
    observers_.erase(found);
    // Calls on this very thread are the ones this removal comes from: they are not waited for.
    const auto self = std::this_thread::get_id();
    callEnded_.wait(lock, [&] {
        return std::all_of(removed->callers.begin(), removed->callers.end(),
                           [&](std::thread::id caller) { return caller == self; });
    });
}

bool NotificationCenter::beginCall(Observer& observer) {
    std::lock_guard lock(mutex_);
    if (observer.removed) return false;
    observer.callers.push_back(std::this_thread::get_id());
    return true;
}

void NotificationCenter::endCall(Observer& observer) {
    std::lock_guard lock(mutex_);
    auto& callers = observer.callers;
    callers.erase(std::find(callers.begin(), callers.end(), std::this_thread::get_id()));
    if (observer.removed) callEnded_.notify_all();
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
        if (!beginCall(*observer)) continue;
        struct EndCall {
            NotificationCenter& center;
            Observer& observer;
            ~EndCall() { center.endCall(observer); }
        } endCall{*this, *observer};
        observer->handler(notification);
    }
}

void NotificationCenter::post(std::string name, const void* object, UserInfo userInfo) {
    post(Notification{std::move(name), object, std::move(userInfo)});
}

}  // namespace foundation
