#include "http/NetOperationQueue.h"

#include <algorithm>

#include "http/NetHTTPRequest.h"
#include "http/NetNetworkThread.h"

namespace {

// Whether a request no longer holds back those that depend on it.
bool isDone(const NetHTTPRequest& request) {
    return request.isFinished() ||
           (!request.inProgress() && (request.isCancelled() || request.complete()));
}

}  // namespace

// Shared with the finished observers of the requests, which may outlive the queue.
struct NetOperationQueue::State : std::enable_shared_from_this<State> {
    struct Entry {
        std::shared_ptr<NetHTTPRequest> request;
        std::uint64_t order = 0;
        bool started = false;
    };

    mutable std::mutex lock;
    std::condition_variable empty;
    std::vector<Entry> entries;
    std::function<void(NetHTTPRequest&)> ended;
    int width = 4;
    bool suspended = false;
    int executing = 0;
    std::uint64_t nextOrder = 0;

    // Starts what may start now. The requests are asked about themselves, and started,
    // outside the lock, since a request may tell the queue it finished while it holds its
    // own lock.
    void startReadyOperations() {
        for (;;) {
            std::vector<Entry> waiting;
            bool room = false;
            {
                std::lock_guard guard(lock);
                if (suspended) return;
                for (const auto& entry : entries) {
                    if (!entry.started) waiting.push_back(entry);
                }
                room = executing < width;
            }
            const Entry* best = nullptr;
            bool bestCancelled = false;
            for (const auto& entry : waiting) {
                // A cancelled request ends as soon as it is started, whatever it waits for.
                bool cancelled = entry.request->isCancelled();
                if (!cancelled) {
                    if (!room) continue;
                    auto dependencies = entry.request->dependencies();
                    if (!std::all_of(dependencies.begin(), dependencies.end(),
                                     [](const auto& d) { return isDone(*d); }))
                        continue;
                }
                int priority = entry.request->queuePriority();
                if (!best || priority > best->request->queuePriority() ||
                    (priority == best->request->queuePriority() && entry.order < best->order)) {
                    best = &entry;
                    bestCancelled = cancelled;
                }
            }
            if (!best) return;
            auto next = best->request;
            {
                std::lock_guard guard(lock);
                auto found = std::find_if(entries.begin(), entries.end(),
                                          [&](const Entry& e) { return e.request == next; });
                if (found == entries.end() || found->started) continue;
                if (executing >= width && !bestCancelled) return;
                found->started = true;
                ++executing;
            }
            if (!next->start()) finished(next);
        }
    }

    void finished(const std::shared_ptr<NetHTTPRequest>& request) {
        std::function<void(NetHTTPRequest&)> handler;
        {
            std::lock_guard guard(lock);
            auto found = std::find_if(entries.begin(), entries.end(),
                                      [&](const Entry& e) { return e.request == request; });
            if (found == entries.end()) return;
            if (found->started) --executing;
            entries.erase(found);
            if (entries.empty()) empty.notify_all();
            handler = ended;
        }
        // The owner may cancel the rest here, before anything else gets its turn.
        if (handler) handler(*request);
        startReadyOperations();
    }
};

NetOperationQueue::NetOperationQueue(int maxConcurrentOperationCount)
    : state_(std::make_shared<State>()) {
    state_->width = maxConcurrentOperationCount;
}

NetOperationQueue::~NetOperationQueue() = default;

void NetOperationQueue::addOperation(const std::shared_ptr<NetHTTPRequest>& request) {
    if (!request) return;
    {
        std::lock_guard guard(state_->lock);
        state_->entries.push_back({request, state_->nextOrder++, false});
    }
    // The queue hears of the end on the network thread, where no request's lock is held.
    std::weak_ptr<State> weak = state_;
    std::weak_ptr<NetHTTPRequest> weakRequest = request;
    request->addFinishedObserver([weak, weakRequest] {
        NetNetworkThread::threadForRequest().perform([weak, weakRequest] {
            auto state = weak.lock();
            auto finished = weakRequest.lock();
            if (state && finished) state->finished(finished);
        });
    });
    // A request that waits for others is looked at again when each of them ends.
    for (const auto& dependency : request->dependencies()) {
        dependency->addFinishedObserver([weak] {
            NetNetworkThread::threadForRequest().perform([weak] {
                if (auto state = weak.lock()) state->startReadyOperations();
            });
        });
    }
    state_->startReadyOperations();
}

void NetOperationQueue::cancelAllOperations() {
    for (const auto& request : operations()) request->cancel();
    state_->startReadyOperations();
}

void NetOperationQueue::setOperationEndedHandler(std::function<void(NetHTTPRequest&)> handler) {
    std::lock_guard guard(state_->lock);
    state_->ended = std::move(handler);
}

int NetOperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard guard(state_->lock);
    return state_->width;
}

void NetOperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard guard(state_->lock);
        state_->width = count;
    }
    state_->startReadyOperations();
}

bool NetOperationQueue::isSuspended() const {
    std::lock_guard guard(state_->lock);
    return state_->suspended;
}

void NetOperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard guard(state_->lock);
        state_->suspended = suspended;
    }
    state_->startReadyOperations();
}

std::vector<std::shared_ptr<NetHTTPRequest>> NetOperationQueue::operations() const {
    std::lock_guard guard(state_->lock);
    std::vector<std::shared_ptr<NetHTTPRequest>> result;
    for (const auto& entry : state_->entries) result.push_back(entry.request);
    return result;
}

std::size_t NetOperationQueue::operationCount() const {
    std::lock_guard guard(state_->lock);
    return state_->entries.size();
}

void NetOperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock guard(state_->lock);
    state_->empty.wait(guard, [this] { return state_->entries.empty(); });
}
