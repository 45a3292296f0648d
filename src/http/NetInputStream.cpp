#include "http/NetInputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "http/NetBandwidthThrottle.h"

namespace {

// Serialises the allowance step of every body stream of the process, so that two uploads
// never take the same share at once.
std::mutex& readLock() {
    static std::mutex lock;
    return lock;
}

class DataSource : public NetInputStream::Source {
public:
    explicit DataSource(std::shared_ptr<const foundation::Data> data) : data_(std::move(data)) {}
    bool open(std::string*) override { return true; }
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t length, std::string*) override {
        std::size_t n = std::min(length, data_->size() - offset_);
        std::memcpy(buffer, data_->data() + offset_, n);
        offset_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }
    void close() override {}
    bool hasBytesAvailable() const override { return offset_ < data_->size(); }

private:
    std::shared_ptr<const foundation::Data> data_;
    std::size_t offset_ = 0;
};

class FileSource : public NetInputStream::Source {
public:
    explicit FileSource(std::string path) : path_(std::move(path)) {}
    ~FileSource() override { close(); }
    bool open(std::string* error) override {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0 && error != nullptr) *error = std::strerror(errno);
        return fd_ >= 0;
    }
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t length, std::string* error) override {
        ssize_t n;
        do {
            n = ::read(fd_, buffer, length);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && error != nullptr) *error = std::strerror(errno);
        if (n == 0) atEnd_ = true;
        return n;
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool hasBytesAvailable() const override { return fd_ >= 0 && !atEnd_; }

private:
    std::string path_;
    int fd_ = -1;
    bool atEnd_ = false;
};

}  // namespace

NetInputStream::NetInputStream(std::unique_ptr<Source> stream, NetThrottleTarget* request,
                               NetBandwidthThrottle& throttle)
    : stream_(std::move(stream)), request_(request), throttle_(throttle) {}

NetInputStream::~NetInputStream() {
    close();
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithData(
    std::shared_ptr<const foundation::Data> data, NetThrottleTarget* request) {
    return inputStreamWithData(std::move(data), request, NetBandwidthThrottle::shared());
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithData(
    std::shared_ptr<const foundation::Data> data, NetThrottleTarget* request,
    NetBandwidthThrottle& throttle) {
    if (!data) data = std::make_shared<foundation::Data>();
    return std::make_unique<NetInputStream>(std::make_unique<DataSource>(std::move(data)), request,
                                            throttle);
}

std::unique_ptr<NetInputStream> NetInputStream::inputStreamWithFileAtPath(
    const std::string& path, NetThrottleTarget* request) {
    return std::make_unique<NetInputStream>(std::make_unique<FileSource>(path), request,
                                            NetBandwidthThrottle::shared());
}

void NetInputStream::open() {
    if (status_ != Status::NotOpen) return;
    std::string reason;
    if (stream_->open(&reason)) {
        status_ = Status::Open;
    } else {
        status_ = Status::Error;
        error_ = foundation::Error{"NSPOSIXErrorDomain", 0, reason, {}};
    }
}

void NetInputStream::close() {
    if (status_ == Status::Open || status_ == Status::AtEnd) {
        stream_->close();
        status_ = Status::Closed;
    }
}

std::ptrdiff_t NetInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    if (status_ != Status::Open) return status_ == Status::AtEnd ? 0 : -1;
    bool throttled = false;
    {
        std::lock_guard guard(readLock());
        throttled = throttle_.isBandwidthThrottled();
        if (throttled) {
            std::uint64_t allowance = throttle_.maxUploadReadLength();
            // A read is never asked for zero bytes.
            if (allowance <= maxLength)
                maxLength = allowance == 0 ? 1 : static_cast<std::size_t>(allowance);
        }
    }
    // Outside the lock: the request may put its stream back on the run loop, which may
    // come back here for more of the body.
    if (throttled && request_ != nullptr) throttle_.performThrottling(*request_);
    std::string reason;
    std::ptrdiff_t n = stream_->read(buffer, maxLength, &reason);
    if (n > 0) {
        throttle_.incrementBandwidthUsedInLastSecond(static_cast<std::uint64_t>(n));
    } else if (n == 0) {
        status_ = Status::AtEnd;
    } else {
        status_ = Status::Error;
        error_ = foundation::Error{"NSPOSIXErrorDomain", 0, reason, {}};
    }
    return n;
}

bool NetInputStream::hasBytesAvailable() const {
    return status_ == Status::Open && stream_->hasBytesAvailable();
}
