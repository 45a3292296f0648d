#include "device/AMService.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include <fmt/format.h>

#include "device/AMDevice.h"
#include "device/MobileDeviceErrors.h"
#include "device/SocketCheck.h"
#include "foundation/PropertyList.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

constexpr const char* kEmptyParameter = "___EmptyParameterString___";

// A message as it goes on the wire: XML as the writer made it in the sender's room (no
// copy), binary as encoded.
struct Serialised {
    std::span<const std::uint8_t> xml;
    foundation::Data binary;
    std::span<const std::uint8_t> bytes() const {
        if (!binary.empty()) return binary;
        return xml;
    }
};

std::optional<Serialised> serialise(const Value& plist, bool binary, std::string& room) {
    Serialised out;
    if (binary) {
        auto encoded = foundation::plist::writeBinary(plist);
        if (!encoded) return std::nullopt;
        out.binary = std::move(*encoded);
    } else {
        if (!foundation::plist::writeXmlInto(plist, room)) return std::nullopt;
        out.xml = {reinterpret_cast<const std::uint8_t*>(room.data()), room.size()};
    }
    return out;
}

// Room kept for the next message, unless one very large message made it so.
constexpr std::size_t kKeptSendRoom = 1u << 20;

void putLength(std::uint8_t* out, std::uint32_t length) {
    out[0] = static_cast<std::uint8_t>(length >> 24);
    out[1] = static_cast<std::uint8_t>(length >> 16);
    out[2] = static_cast<std::uint8_t>(length >> 8);
    out[3] = static_cast<std::uint8_t>(length);
}

std::uint32_t getLength(const std::uint8_t* in) {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | in[3];
}

}  // namespace

AMService::SendRoomTrim::~SendRoomTrim() {
    if (room.capacity() > kKeptSendRoom) std::string().swap(room);
}

AMService::~AMService() {
    if (socket_ >= 0) ::close(socket_);
}

std::shared_ptr<AMService> AMService::withSocket(int socket, const std::string& name) {
    auto service = std::make_shared<AMService>();
    service->adoptSocket(socket, name);
    return service;
}

void AMService::adoptSocket(int socket, const std::string& name) {
    if (socket_ >= 0) ::close(socket_);
    socket_ = socket;
    connection_.reset();
    secureConnection_ = false;
    std::lock_guard lock(nameMutex_);
    servicename_ = name;
}

AMServiceHandle AMService::connection() const {
    return secureConnection_ ? AMServiceHandle{-1, connection_} : AMServiceHandle{socket_, nullptr};
}

bool AMService::isValidService() const {
    return secureConnection_ ? bool(connection_) : socket_ >= 0;
}

int AMService::sock() const {
    return secureConnection_ ? mobiledevice::AMDServiceConnectionGetSocket(connection_) : socket_;
}

std::string AMService::servicename() const {
    std::lock_guard lock(nameMutex_);
    return servicename_;
}

unsigned int AMService::limitOr(unsigned int timeoutMs) const {
    return timeoutMs > 0 ? timeoutMs : replyTimeoutMs_.load();
}

void AMService::interrupt() {
    const int fd = sock();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool AMService::waitWritable() {
    const int ready = socket_check_fd(socket_, FDM_WRITE, replyTimeoutMs_);
    if (ready == kSocketTimedOut) errno = ETIMEDOUT;
    return ready > 0;
}

long AMService::send(const void* bytes, std::size_t length) {
    if (secureConnection_) {
        const char* cursor = static_cast<const char*>(bytes);
        std::size_t left = length;
        while (left > 0) {
            long sent = mobiledevice::AMDServiceConnectionSend(connection_, cursor, left);
            if (sent <= 0) return -1;
            cursor += sent;
            left -= static_cast<std::size_t>(sent);
        }
        return static_cast<long>(length);
    }
    const char* cursor = static_cast<const char*>(bytes);
    std::size_t left = length;
    while (left > 0) {
        ssize_t sent = ::send(socket_, cursor, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) continue;
            // A device that stops reading fills the socket: it is waited for, within the limit.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitWritable()) continue;
            return -1;
        }
        cursor += sent;
        left -= static_cast<std::size_t>(sent);
    }
    return static_cast<long>(length);
}

bool AMService::waitReadable(unsigned int timeoutMs, int* ready) {
    // Bytes a secure read already took off the socket are there without it showing them.
    *ready = secureConnection_ && mobiledevice::AMDServiceConnectionHasReceivedBytes(connection_)
                 ? 1
                 : socket_check_fd(sock(), FDM_READ, timeoutMs);
    return *ready >= 1;
}

long AMService::receive(void* bytes, std::size_t length, unsigned int timeoutMs) {
    int ready = 0;
    if (!waitReadable(timeoutMs, &ready)) return ready;
    long count;
    if (secureConnection_) {
        count = mobiledevice::AMDServiceConnectionReceive(connection_, bytes, length, timeoutMs);
        if (count == mobiledevice::kAMDServiceConnectionTimedOut) return kSocketTimedOut;
        if (count < 0) return -EIO;
    } else {
        do {
            count = ::recv(socket_, bytes, length, 0);
        } while (count < 0 && errno == EINTR);
        if (count < 0) return -errno;
    }
    return count == 0 && length > 0 ? kSocketPeerClosed : count;
}

long AMService::receiveRawBytesMaxLengthTimeout(void* bytes, std::size_t maxLength,
                                                unsigned int timeoutMs) {
    if (!isValidService()) return 0;
    return receive(bytes, maxLength, timeoutMs);
}

long AMService::receiveRawDataMaxLengthTimeout(foundation::Data* data, std::size_t maxLength,
                                               unsigned int timeoutMs) {
    foundation::Data buffer(maxLength);
    long count = receiveRawBytesMaxLengthTimeout(buffer.data(), maxLength, timeoutMs);
    if (count > 0) {
        buffer.resize(static_cast<std::size_t>(count));
        if (data) *data = std::move(buffer);
    }
    return count;
}

long AMService::sendRawData(const foundation::Data& data) {
    if (!isValidService()) return 0;
    long count = send(data.data(), data.size());
    if (count == -1) {
        lasterror_ = std::strerror(errno);
        return -1;
    }
    lasterror_.clear();
    return count;
}

long AMService::sendDataPacket(const foundation::Data& data) {
    if (!isValidService()) return 0;
    if (data.size() > kMaxPacketLength) {
        lasterror_ = std::strerror(EMSGSIZE);
        return -1;
    }
    std::size_t sent = 0;
    if (!sendFramed(data, &sent)) {
        lasterror_ = std::strerror(errno);
        return -1;
    }
    lasterror_.clear();
    return static_cast<long>(data.size());
}

bool AMService::sendFramed(std::span<const std::uint8_t> payload, std::size_t* sent) {
    std::uint8_t prefix[4];
    putLength(prefix, static_cast<std::uint32_t>(payload.size()));
    *sent = 0;
    if (secureConnection_) {
        if (send(prefix, sizeof prefix) == -1) return false;
        *sent = sizeof prefix;
        if (send(payload.data(), payload.size()) == -1) return false;
        *sent += payload.size();
        return true;
    }
    iovec parts[2] = {{prefix, sizeof prefix},
                      {const_cast<std::uint8_t*>(payload.data()), payload.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const std::size_t total = sizeof prefix + payload.size();
    while (*sent < total) {
        const ssize_t n = ::sendmsg(socket_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitWritable()) continue;
            return false;
        }
        *sent += static_cast<std::size_t>(n);
        // Past what went: whole parts dropped, the part it stopped in cut at the front.
        auto left = static_cast<std::size_t>(n);
        while (message.msg_iovlen > 0 && left >= message.msg_iov->iov_len) {
            left -= message.msg_iov->iov_len;
            ++message.msg_iov;
            --message.msg_iovlen;
        }
        if (message.msg_iovlen > 0) {
            message.msg_iov->iov_base = static_cast<char*>(message.msg_iov->iov_base) + left;
            message.msg_iov->iov_len -= left;
        }
    }
    return true;
}

std::unique_ptr<SocketReadStream> AMService::inputStreamFromSocket() const {
    if (!isValidService()) return nullptr;
    return std::make_unique<SocketReadStream>(sock(), replyTimeoutMs_);
}

long AMService::receiveAll(void* bytes, std::size_t length, unsigned int timeoutMs,
                           bool* timedOut) {
    std::size_t got = 0;
    while (got < length) {
        long count = receive(static_cast<char*>(bytes) + got, length - got, timeoutMs);
        if (count <= 0) {
            *timedOut = count == kSocketTimedOut;
            return got > 0 ? static_cast<long>(got) : count;
        }
        got += static_cast<std::size_t>(count);
    }
    return static_cast<long>(got);
}

AMService::PacketResult AMService::readPacket(unsigned int timeoutMs, foundation::Data* payload,
                                              long* detail, bool* timedOut) {
    std::uint8_t prefix[4];
    *timedOut = false;
    long count = receiveAll(prefix, sizeof prefix, limitOr(timeoutMs), timedOut);
    *detail = count;
    if (count <= 0) {
        return count == kSocketTimedOut || count == 0 ? PacketResult::NothingArrived
                                                      : PacketResult::Failed;
    }
    if (count < 4) return PacketResult::Incomplete;
    const std::uint32_t length = getLength(prefix);
    *detail = length;
    if (length == 0 || length > kMaxPacketLength) return PacketResult::Undecodable;
    payload->resize(length);
    count = receiveAll(payload->data(), length, replyTimeoutMs_, timedOut);
    if (count < static_cast<long>(length)) {
        *detail = static_cast<long>(length) - (count > 0 ? count : 0);
        return PacketResult::Incomplete;
    }
    return PacketResult::Ok;
}

bool AMService::sendXMLRequestTimeout(const Value& request, unsigned int /*timeoutMs*/,
                                      bool binary) {
    if (request.isNil()) {
        lasterror_ = "Can't convert request to xml";
        return false;
    }
    const std::uint32_t format =
        binary ? mobiledevice::kAMDPropertyListBinary : mobiledevice::kAMDPropertyListXml;
    if (secureConnection_) {
        LogInfo("sending plist >>>>>>>>: ");
        return mobiledevice::AMDServiceConnectionSendMessage(connection_, request, format) == 0;
    }
    std::lock_guard sending(sendMutex_);
    const SendRoomTrim trim{sendRoom_};
    const auto serialised = serialise(request, binary, sendRoom_);
    if (!serialised) return false;
    const auto payload = serialised->bytes();
    if (payload.empty() || payload.size() > kMaxPacketLength) return false;
    std::size_t sent = 0;
    if (!sendFramed(payload, &sent)) {
        lasterror_ = sent < 4 ? "Can't send message size" : "Can't send message text";
        return false;
    }
    lasterror_.clear();
    return true;
}

bool AMService::sendXMLRequest(const Value& request) {
    return sendXMLRequestTimeout(request, 0, false);
}

Value AMService::readXMLReplyTimeoutReturnCode(unsigned int timeoutMs, int* returnCode) {
    const auto timedOut = [returnCode] {
        LogInfo("socket time out");
        if (returnCode) *returnCode = kSocketTimedOut;
    };
    int ready = 0;
    if (!waitReadable(timeoutMs, &ready) && ready < 0) {
        if (ready == kSocketTimedOut) LogInfo("socket time out");
        if (returnCode) *returnCode = ready;
        return {};
    }
    if (secureConnection_) {
        Value reply;
        mobiledevice::AMDStatus status =
            mobiledevice::AMDServiceConnectionReceiveMessage(connection_, &reply, nullptr);
        if (status != 0) {
            LogInfo("{}: {}", "AMDServiceConnectionReceiveMessage", describeStatus(status));
            if (status == mobiledevice::kAMDTimeOutError) timedOut();
            return {};
        }
        return reply;
    }
    foundation::Data payload;
    long detail = 0;
    bool late = false;
    const PacketResult result = readPacket(timeoutMs, &payload, &detail, &late);
    if (late) timedOut();
    switch (result) {
        case PacketResult::Ok:
            break;
        case PacketResult::NothingArrived:
        case PacketResult::Failed:
            lasterror_ = "Can't receive reply size";
            if (returnCode && detail < 0) *returnCode = static_cast<int>(detail);
            return {};
        case PacketResult::Incomplete:
            lasterror_ = payload.empty()
                             ? "Can't receive reply size"
                             : fmt::format("Reply was truncated, expected {} more bytes", detail);
            return {};
        case PacketResult::Undecodable:
            if (detail != 0) lasterror_ = "Failed to decode XML reply";
            return {};
    }
    std::string error;
    auto reply = foundation::plist::read(payload, &error);
    if (!reply) {
        lasterror_ = error.empty() ? "Failed to decode XML reply" : error;
        return {};
    }
    lasterror_.clear();
    return std::move(*reply);
}

Value AMService::readXMLReplyWithReturn(int* returnCode) {
    return readXMLReplyTimeoutReturnCode(replyTimeoutMs_, returnCode);
}

Value AMService::readXMLReply() {
    return readXMLReplyTimeoutReturnCode(replyTimeoutMs_, nullptr);
}

Value AMService::sendRequestAndWaitForSingleReply(const Value& request) {
    if (!sendXMLRequest(request)) return {};
    return readXMLReply();
}

bool AMService::sendRequestAndWaitUntilDone(const Value& request) {
    auto listener = delegate();
    if (listener) listener->operationStarted(request);
    bool done = false;
    if (sendXMLRequest(request)) {
        for (;;) {
            Value reply = readXMLReply();
            if (reply.isNil()) break;
            if (listener) listener->operationContinues(reply);
            if (const Value& error = reply["Error"]; !error.isNil()) {
                lasterror_ = error.stringOr("Error");
                break;
            }
            if (reply["Status"].stringOr() == "Complete") {
                done = true;
                break;
            }
        }
    }
    if (listener) listener->operationCompleted(request);
    return done;
}

bool AMService::sendPlistIsBinary(const Value& plist, bool binary) {
    std::lock_guard sending(sendMutex_);
    const SendRoomTrim trim{sendRoom_};
    const auto serialised = serialise(plist, binary, sendRoom_);
    if (!serialised) return false;
    const auto payload = serialised->bytes();
    if (payload.size() > kMaxPacketLength) return false;
    const std::string name = servicename();
    LogInfo("{} sending {} bytes", name, payload.size());
    std::size_t sent = 0;
    if (isValidService() && sendFramed(payload, &sent)) {
        lasterror_.clear();
        LogInfo("{} sent {} bytes", name, payload.size());
        return true;
    }
    if (isValidService()) lasterror_ = std::strerror(errno);
    LogError("ERROR: sending to device failed.");
    return false;
}

Value AMService::readPlistTimeoutReturnCode(unsigned int timeoutMs, int* returnCode) {
    int code = -3;
    Value result;
    if (!isValidService()) {
        code = -1;
    } else {
        foundation::Data payload;
        code = readPlistPayload(timeoutMs, &payload);
        if (code == 0) {
            auto decoded = foundation::plist::read(payload);
            if (decoded) {
                result = std::move(*decoded);
            } else {
                code = -2;
            }
        }
    }
    if (returnCode) *returnCode = code;
    return result;
}

int AMService::readPlistPayload(unsigned int timeoutMs, foundation::Data* payload) {
    const std::string name = servicename();
    // No limit given is the service's own: every wait below is bounded alike.
    timeoutMs = limitOr(timeoutMs);
    foundation::Data prefix;
    const long first = receiveRawDataMaxLengthTimeout(&prefix, 4, timeoutMs);
    if (first == 0 || first == kSocketTimedOut) return -5;
    if (first < 1) {
        LogInfo("{} initial read failed!", name);
        return -3;
    }
    // A prefix split over reads is completed under the same time limit.
    while (prefix.size() < 4) {
        foundation::Data rest;
        if (receiveRawDataMaxLengthTimeout(&rest, 4 - prefix.size(), timeoutMs) < 1) {
            LogInfo("{} initial read failed!", name);
            return -3;
        }
        prefix.insert(prefix.end(), rest.begin(), rest.end());
    }
    const std::uint32_t length = getLength(prefix.data());
    LogInfo("{} intial read={}", name, prefix.size());
    LogInfo("{} {} bytes following", name, length);
    if (length == 0 || length > kMaxPacketLength) return -2;
    try {
        payload->resize(length);
    } catch (const std::bad_alloc&) {
        LogError("{} out of memory when allocating {} bytes", name, length);
        return -256;
    }
    std::size_t got = 0;
    while (got < length) {
        const long count =
            receiveRawBytesMaxLengthTimeout(payload->data() + got, length - got, replyTimeoutMs_);
        if (count < 1) {
            LogInfo("{} received incomplete packet ({} of {} bytes)", name, got, length);
            if (got > 0) LogInfo("{} incomplete packet following:", name);
            return -3;
        }
        LogInfo("{} received {} bytes", name, count);
        got += static_cast<std::size_t>(count);
    }
    return 0;
}

std::optional<std::string> AMService::getDLMessage(const Value& reply) {
    const std::string* name = reply[std::size_t{0}].string();
    if (!reply.isArray() || !name || name->size() < 9 || name->rfind("DL", 0) != 0) {
        return std::nullopt;
    }
    return *name;
}

bool AMService::exchangeVersionMajorMinor(std::int64_t major, std::int64_t minor) {
    if (!isValidService()) {
        lasterror_ = "service is not started";
        return false;
    }
    Value reply = readXMLReply();
    if (!reply.isArray()) {
        lasterror_ = "DLMessageVersionExchange has unexpected format!";
        return false;
    }
    if (reply.size() < 3) return false;
    const Value& majorValue = reply[std::size_t{1}];
    const Value& minorValue = reply[std::size_t{2}];
    if (!majorValue.isNumber() || !minorValue.isNumber()) {
        lasterror_ = "Can't get correct version from device";
        return false;
    }
    const std::int64_t deviceMajor = majorValue.toInt64().value_or(0);
    const std::int64_t deviceMinor = minorValue.toInt64().value_or(0);
    if (deviceMajor > major) {
        lasterror_ = fmt::format("Version mismatch: device=({}, {}) > exepected=({},{})",
                                 deviceMajor, deviceMinor, major, minor);
        return false;
    }
    if (deviceMajor == major && deviceMinor > minor) {
        lasterror_ = fmt::format("Waring: Version mismatch: device=({}, {}) > exepected=({},{})",
                                 deviceMajor, deviceMinor, major, minor);
        return false;
    }
    if (!sendXMLRequest(Value::list({"DLMessageVersionExchange", "DLVersionsOk", major, minor}))) {
        return false;
    }
    Value ready = readXMLReply();
    return ready.isArray() && ready[std::size_t{0}].stringOr() == "DLMessageDeviceReady";
}

bool AMService::disconnectWithMessage(const std::optional<std::string>& message) {
    if (!isValidService()) {
        lasterror_ = "service is not started!";
        return false;
    }
    return sendXMLRequest(Value::list({"DLMessageDisconnect", message.value_or(kEmptyParameter)}));
}

int AMService::sendProcessMessage(const Value& message) {
    if (!message.isDictionary()) return -1;
    return sendPlistIsBinary(Value::list({"DLMessageProcessMessage", message}), true) ? 0 : -256;
}

Value AMService::receiveProcessMessageReturn(int* returnCode) {
    Value reply = readXMLReply();
    if (reply.isNil()) return {};
    if (getDLMessage(reply).value_or("") != "DLMessageProcessMessage") {
        LogWarn("Did not receive DLMessageProcessMessage as expected!");
    }
    if (reply.size() != 2 || !reply.isArray()) {
        LogWarn("Malformed plist received from DLMessageProcessMessage");
        if (returnCode) *returnCode = -2;
        return {};
    }
    if (returnCode) *returnCode = 0;
    return reply[std::size_t{1}];
}
