#include "content/ThreadPool.h"

#include <exception>

#include "foundation/MainQueue.h"
#include "foundation/OperationQueue.h"
#include "logging/LogCall.h"

foundation::OperationQueue& ThreadPool::async() {
    static auto* const queue = [] {
        auto* made = new foundation::OperationQueue("orvandel.background");
        made->setCapReachedHandler([](std::size_t cap) {
            LogWarn("background pool: all {} threads are busy; jobs wait for one to finish", cap);
        });
        return made;
    }();
    return *queue;
}

void ThreadPool::addAsyncJobWithBlock(std::function<void()> job) {
    auto& queue = async();
    // The pool's real cap on threads.
    LogInfo("***** max operations: {}",
            static_cast<std::uint64_t>(queue.maxConcurrentOperationCount()));
    LogInfo("***** Operations in queue: {}", queue.operationCount());  // running ones too
    LogInfo("***** Operations : {}", queue.operationCount());
    queue.addOperation([job = std::move(job)] {
        try {
            job();
        } catch (const std::exception& e) {
            LogError("background job ended with an exception: {}", e.what());
        } catch (...) {
            LogError("background job ended with an unknown exception");
        }
    });
}

void ThreadPool::addMainJobWithBlock(std::function<void()> job) {
    foundation::MainQueue::async(std::move(job));
}
