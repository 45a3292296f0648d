#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class NetHTTPRequest;

// A queue of requests that starts them on the network thread: at most a given number at
// once, the highest priority first (then in the order they were added), each only once
// the requests it depends on are finished, and none while the queue is suspended. The
// queue keeps a request until it is finished; requests keep running when the queue goes.
class NetOperationQueue {
public:
    explicit NetOperationQueue(int maxConcurrentOperationCount);
    virtual ~NetOperationQueue();
    NetOperationQueue(const NetOperationQueue&) = delete;
    NetOperationQueue& operator=(const NetOperationQueue&) = delete;

    virtual void addOperation(const std::shared_ptr<NetHTTPRequest>& request);
    // Cancels every request the queue holds; a cancelled request waiting its turn ends
    // as soon as the queue runs.
    virtual void cancelAllOperations();

    int maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(int count);
    bool isSuspended() const;
    void setSuspended(bool suspended);
    // Requests waiting or running.
    std::vector<std::shared_ptr<NetHTTPRequest>> operations() const;
    std::size_t operationCount() const;
    // Blocks until the queue holds no request; not from the main thread while requests
    // report to it.
    void waitUntilAllOperationsAreFinished();

protected:
    // Called on the network thread with each request that ends, before the queue starts
    // any other; the handler must not keep the queue alive.
    void setOperationEndedHandler(std::function<void(NetHTTPRequest&)> handler);

private:
    struct State;
    std::shared_ptr<State> state_;
};
