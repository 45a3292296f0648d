#include "platform/mobiledevice/ConnectionFraming.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

// What one send hands the library after a wait inside TLS: no more than a socket that polls
// writable takes whole, as the library's TLS write fails on a socket that fills. A plain
// send on the multiplexer's socket, which does not block, takes what fits.
constexpr std::size_t kEncryptedPiece = 16384;
constexpr std::size_t kPlainPiece = 1u << 30;

}  // namespace

AMDStatus waitForSocket(int fd, bool write, unsigned int timeoutMs, bool* hungUp) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const short events = write ? POLLOUT : (hungUp ? POLLIN | POLLRDHUP : POLLIN);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0) {
            if (hungUp) *hungUp = (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
            return (entry.revents & POLLNVAL) ? kAMDInvalidArgumentError : kAMDSuccess;
        }
        if (ready == 0) return kAMDTimeOutError;
        if (errno != EINTR) return kAMDMuxConnectError;
    }
}

AMDStatus sendAll(const Wire& wire, const void* bytes, std::size_t length) {
    int fd = -1;
    if (idevice_connection_get_fd(wire.connection, &fd) != IDEVICE_E_SUCCESS || fd < 0) {
        return kAMDNotConnectedError;
    }
    const std::size_t piece = wire.encrypted ? kEncryptedPiece : kPlainPiece;
    const char* cursor = static_cast<const char*>(bytes);
    while (length > 0) {
        if (AMDStatus status = waitForSocket(fd, true, wire.timeoutMs)) return status;
        std::uint32_t sent = 0;
        const auto chunk = static_cast<std::uint32_t>(std::min(length, piece));
        idevice_error_t error = idevice_connection_send(wire.connection, cursor, chunk, &sent);
        if (error != IDEVICE_E_SUCCESS) return statusFromDevice(error);
        if (sent == 0) return kAMDSendMessageError;
        cursor += sent;
        length -= sent;
    }
    return kAMDSuccess;
}

AMDStatus receiveExactly(const Wire& wire, void* bytes, std::size_t length) {
    char* cursor = static_cast<char*>(bytes);
    while (length > 0) {
        std::uint32_t received = 0;
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length, 1u << 30));
        idevice_error_t error = idevice_connection_receive_timeout(wire.connection, cursor, chunk,
                                                                   &received, wire.timeoutMs);
        if (error != IDEVICE_E_SUCCESS) return statusFromDevice(error);
        if (received == 0) return kAMDReceiveMessageError;
        cursor += received;
        length -= received;
    }
    return kAMDSuccess;
}

AMDStatus sendFramedMessage(const Wire& wire, const foundation::Value& message,
                            std::uint32_t format) {
    std::vector<std::uint8_t> payload;
    if (format == kAMDPropertyListBinary) {
        auto binary = foundation::plist::writeBinary(message);
        if (!binary) return kAMDInvalidArgumentError;
        payload = std::move(*binary);
    } else {
        auto xml = foundation::plist::writeXml(message);
        if (!xml) return kAMDInvalidArgumentError;
        payload.assign(xml->begin(), xml->end());
    }
    if (payload.size() > kMaxMessageLength) return kAMDTooBigError;
    const auto length = static_cast<std::uint32_t>(payload.size());
    const std::uint8_t prefix[4] = {
        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    if (AMDStatus status = sendAll(wire, prefix, sizeof prefix)) return status;
    return sendAll(wire, payload.data(), payload.size());
}

AMDStatus receiveFramedMessage(const Wire& wire, foundation::Value* message,
                               std::uint32_t* format) {
    return receiveFramedMessage(
        [&](void* bytes, std::size_t length) { return receiveExactly(wire, bytes, length); },
        message, format);
}

AMDStatus receiveFramedMessage(const ExactReceiver& receive, foundation::Value* message,
                               std::uint32_t* format) {
    std::uint8_t prefix[4];
    if (AMDStatus status = receive(prefix, sizeof prefix)) return status;
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                 (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | prefix[3];
    if (length == 0 || length > kMaxMessageLength) return kAMDInvalidResponseError;
    std::vector<std::uint8_t> payload(length);
    if (AMDStatus status = receive(payload.data(), length)) return status;
    foundation::plist::Format read = foundation::plist::Format::Xml;
    auto value = foundation::plist::read(payload, nullptr, &read);
    if (!value) return kAMDInvalidResponseError;
    if (message) *message = std::move(*value);
    if (format) {
        *format = read == foundation::plist::Format::Binary ? kAMDPropertyListBinary
                                                            : kAMDPropertyListXml;
    }
    return kAMDSuccess;
}

}  // namespace mobiledevice
