#include "platform/net/NetRunLoopTimers.h"

#include <vector>

namespace net {

void NetRunLoopTimers::add(const std::shared_ptr<Client>& client, Clock::time_point deadline) {
    std::lock_guard guard(lock_);
    if (client->slot_) waiting_.erase(*client->slot_);
    client->slot_ = waiting_.emplace(deadline, client);
    if (!armedFor_ || deadline < *armedFor_) arm(deadline);
}

void NetRunLoopTimers::remove(Client& client) {
    std::lock_guard guard(lock_);
    if (!client.slot_) return;
    waiting_.erase(*client.slot_);
    client.slot_.reset();
}

void NetRunLoopTimers::arm(Clock::time_point deadline) {
    armedFor_ = deadline;
    // Re-arming cancels the earlier wait, whose handler then sees the cancellation. The
    // queue lives as long as the loop's context, whose handlers do not outlive it.
    timer_.expires_at(deadline);
    timer_.async_wait([this](const boost::system::error_code& ec) {
        if (!ec) fired();
    });
}

void NetRunLoopTimers::fired() {
    std::vector<std::weak_ptr<Client>> due;
    {
        std::lock_guard guard(lock_);
        armedFor_.reset();
        const auto now = Clock::now();
        auto at = waiting_.begin();
        while (at != waiting_.end() && at->first <= now) {
            auto client = at->second.lock();
            if (!client) {
                ++at;  // its owner is going, and takes the deadline out itself
                continue;
            }
            client->slot_.reset();
            due.push_back(client);
            at = waiting_.erase(at);
        }
        if (at != waiting_.end()) arm(at->first);
    }
    // Outside the lock: a client may add or remove deadlines when told.
    for (const auto& weak : due) {
        if (auto client = weak.lock()) client->due();
    }
}

}  // namespace net
