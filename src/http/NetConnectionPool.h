#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "foundation/Url.h"
#include "http/NetConnectionRecord.h"

// The idle persistent connections of the process and the counters around them.
class NetConnectionPool {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static NetConnectionPool& shared();

    // Guards the pool, every record, the counters and the running-request count.
    std::recursive_mutex& connectionsLock() { return lock_; }

    // Closes and drops every idle record whose time has come.
    void expirePersistentConnections(TimePoint now);

    struct Choice {
        std::shared_ptr<NetConnectionRecord> record;    // none: no persistent connection
        std::shared_ptr<net::NetHTTPStream> oldStream;  // to close once the new one is open
    };
    // Picks the connection for a request to `url` that opens `stream`: the request's own
    // record when it still fits, else (with `takeIdleRecords`) the last idle record for the
    // same scheme, host and port, proxy and TLS settings, else a new one. Gives the request
    // an id when it has none, marks the record as used by it and tags the stream with the
    // record's id.
    Choice chooseConnection(const foundation::Url& url, bool& shouldAttemptPersistentConnection,
                            std::shared_ptr<NetConnectionRecord> current,
                            std::optional<std::uint32_t>& requestID,
                            const std::shared_ptr<net::NetHTTPStream>& stream, TimePoint now,
                            const std::string& proxy = {}, const std::string& tls = {},
                            bool takeIdleRecords = true);

    void removeRecord(const std::shared_ptr<NetConnectionRecord>& record);
    std::vector<std::shared_ptr<NetConnectionRecord>> records();

    void incrementRunningRequestCount();
    // Returns whether the count dropped to 0.
    bool decrementRunningRequestCount();
    bool isNetworkInUse();

    // Whether the requests are to keep a network activity indicator up to date; on at first.
    bool shouldUpdateNetworkActivityIndicator();
    void setShouldUpdateNetworkActivityIndicator(bool update);

private:
    std::recursive_mutex lock_;
    std::vector<std::shared_ptr<NetConnectionRecord>> pool_;
    std::int32_t nextConnectionNumberToCreate_ = 0;
    std::uint32_t nextRequestID_ = 0;
    std::uint32_t runningRequestCount_ = 0;
    bool shouldUpdateNetworkActivityIndicator_ = true;
};
