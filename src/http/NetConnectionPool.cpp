#include "http/NetConnectionPool.h"

#include <algorithm>

#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

NetConnectionPool& NetConnectionPool::shared() {
    static NetConnectionPool instance;
    return instance;
}

void NetConnectionPool::expirePersistentConnections(TimePoint now) {
    std::lock_guard guard(lock_);
    std::erase_if(pool_, [&](const std::shared_ptr<NetConnectionRecord>& record) {
        if (record->request || (record->expires && *record->expires > now)) return false;
        // The stream belongs to the thread that ran it, which may still be letting it go;
        // that thread closes it, and the socket waiting in its run loop's idle map.
        net::NetHTTPStream::closeOnItsThread(std::move(record->stream));
        return true;
    });
}

NetConnectionPool::Choice NetConnectionPool::chooseConnection(
    const foundation::Url& url, bool& shouldAttemptPersistentConnection,
    std::shared_ptr<NetConnectionRecord> current, std::optional<std::uint32_t>& requestID,
    const std::shared_ptr<net::NetHTTPStream>& stream, TimePoint now, const std::string& proxy,
    const std::string& tls, bool takeIdleRecords) {
    std::lock_guard guard(lock_);
    Choice choice;
    if (url.host().empty() || url.scheme().empty()) {
        shouldAttemptPersistentConnection = false;
        return choice;
    }
    if (!shouldAttemptPersistentConnection) return choice;
    const int port = url.port() ? *url.port() : 0;
    // A connection kept on another thread's run loop cannot serve a stream of this one.
    const void* loop = &net::NetRunLoop::current();
    auto fits = [&](const NetConnectionRecord& record) {
        return record.host == url.host() && record.scheme == url.scheme() && record.port == port &&
               record.runLoop == loop && record.proxy == proxy && record.tls == tls &&
               !(record.stream && record.stream->keptConnectionIsElsewhere());
    };
    if (current) {
        if (!fits(*current)) {
            current.reset();
        } else if (current->expires && *current->expires <= now) {
            removeRecord(current);
            current.reset();
        } else if (current->request) {
            current.reset();
        }
    }
    if (!current && takeIdleRecords) {
        for (const auto& record : pool_) {
            if (!record->request && fits(*record)) current = record;  // the last one wins
        }
    }
    if (current) choice.oldStream = current->stream;
    if (!current) {
        current = std::make_shared<NetConnectionRecord>();
        current->id = ++nextConnectionNumberToCreate_;
        current->host = url.host();
        current->port = port;
        current->scheme = url.scheme();
        current->proxy = proxy;
        current->tls = tls;
        current->runLoop = loop;
        pool_.push_back(current);
    }
    if (!requestID) requestID = ++nextRequestID_;
    current->request = requestID;
    current->stream = stream;
    if (stream) stream->setPersistentConnection(current->id);
    choice.record = current;
    return choice;
}

void NetConnectionPool::removeRecord(const std::shared_ptr<NetConnectionRecord>& record) {
    std::lock_guard guard(lock_);
    std::erase(pool_, record);
}

std::vector<std::shared_ptr<NetConnectionRecord>> NetConnectionPool::records() {
    std::lock_guard guard(lock_);
    return pool_;
}

void NetConnectionPool::incrementRunningRequestCount() {
    std::lock_guard guard(lock_);
    ++runningRequestCount_;
}

bool NetConnectionPool::decrementRunningRequestCount() {
    std::lock_guard guard(lock_);
    if (runningRequestCount_ == 0) return false;
    return --runningRequestCount_ == 0;
}

bool NetConnectionPool::isNetworkInUse() {
    std::lock_guard guard(lock_);
    return runningRequestCount_ != 0;
}

bool NetConnectionPool::shouldUpdateNetworkActivityIndicator() {
    std::lock_guard guard(lock_);
    return shouldUpdateNetworkActivityIndicator_;
}

void NetConnectionPool::setShouldUpdateNetworkActivityIndicator(bool update) {
    std::lock_guard guard(lock_);
    shouldUpdateNetworkActivityIndicator_ = update;
}
