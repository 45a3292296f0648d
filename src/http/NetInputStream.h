#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

class NetBandwidthThrottle;
class NetThrottleTarget;

// The stream a request body is read from, in memory or in a file. Every read first asks
// the bandwidth accounting how much may be read and reports afterwards what was read.
class NetInputStream {
public:
    enum class Status { NotOpen, Open, AtEnd, Closed, Error };

    // The source of the bytes: a small input stream over memory or a file.
    class Source {
    public:
        virtual ~Source() = default;
        virtual bool open(std::string* error) = 0;
        virtual std::ptrdiff_t read(std::uint8_t* buffer, std::size_t length,
                                    std::string* error) = 0;
        virtual void close() = 0;
        virtual bool hasBytesAvailable() const = 0;
    };

    NetInputStream(std::unique_ptr<Source> stream, NetThrottleTarget* request,
                   NetBandwidthThrottle& throttle);
    ~NetInputStream();
    NetInputStream(const NetInputStream&) = delete;
    NetInputStream& operator=(const NetInputStream&) = delete;

    static std::unique_ptr<NetInputStream> inputStreamWithData(
        std::shared_ptr<const foundation::Data> data, NetThrottleTarget* request);
    static std::unique_ptr<NetInputStream> inputStreamWithFileAtPath(const std::string& path,
                                                                     NetThrottleTarget* request);
    // The same with a throttle of the caller's, for tests and tools.
    static std::unique_ptr<NetInputStream> inputStreamWithData(
        std::shared_ptr<const foundation::Data> data, NetThrottleTarget* request,
        NetBandwidthThrottle& throttle);

    void open();
    void close();
    // Bytes read, 0 at the end, -1 on error (see streamError).
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength);
    bool hasBytesAvailable() const;
    Status streamStatus() const { return status_; }
    const std::optional<foundation::Error>& streamError() const { return error_; }

    NetThrottleTarget* request() const { return request_; }
    void setRequest(NetThrottleTarget* request) { request_ = request; }

private:
    std::unique_ptr<Source> stream_;
    NetThrottleTarget* request_;  // not owned
    NetBandwidthThrottle& throttle_;
    Status status_ = Status::NotOpen;
    std::optional<foundation::Error> error_;
};
