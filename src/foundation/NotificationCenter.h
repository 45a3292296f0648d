#pragma once

#include <any>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace foundation {

// Values, reply blocks (std::function), device objects (shared_ptr) ... by key.
using UserInfo = std::map<std::string, std::any, std::less<>>;

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender
    UserInfo userInfo;

    // The entry under `key` when it holds a T, else nullptr.
    template <class T>
    const T* get(std::string_view key) const {
        auto found = userInfo.find(key);
        return found == userInfo.end() ? nullptr : std::any_cast<T>(&found->second);
    }
};

// Hands notifications to the observers registered for them, synchronously on the posting
// thread, in registration order. No lock is held while an observer runs: handlers may
// add and remove observers, post, and wait for other threads that post.
class NotificationCenter {
public:
    using ObserverId = std::uint64_t;
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // An empty name observes every name; a null object, every sender. Ids start at 1.
    ObserverId addObserver(std::string name, const void* object, Handler handler);
    // Once this returns the observer gets no further call, also from a post already
    // being delivered, and no call of it is under way on another thread: it waits for
    // those to end, so that the owner may free what the handler uses. Called from inside
    // the observer's own handler it does not wait for that call. Unknown ids are ignored.
    void removeObserver(ObserverId id);

    // Observers added while a notification is being delivered do not get that one. An
    // exception thrown by a handler reaches the poster; later observers miss that post.
    void post(const Notification& notification);
    void post(std::string name, const void* object = nullptr, UserInfo userInfo = {});

private:
    struct Observer {
        ObserverId id;
        std::string name;
        const void* object;
        Handler handler;
        // Guarded by the centre's mutex.
        bool removed = false;
        std::vector<std::thread::id> callers;  // one entry per call under way
    };

    // Marks a call of `observer` as under way; false once it has been removed.
    bool beginCall(Observer& observer);
    void endCall(Observer& observer);

    std::mutex mutex_;
    std::condition_variable callEnded_;
    std::vector<std::shared_ptr<Observer>> observers_;
    ObserverId nextId_ = 1;
};

}  // namespace foundation
