#include "platform/mobiledevice/ConnectionFraming.h"

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/PropertyList.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

AMDStatus sendAll(idevice_connection_t connection, const void* bytes, std::size_t length) {
    const char* cursor = static_cast<const char*>(bytes);
    while (length > 0) {
        std::uint32_t sent = 0;
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length, 1u << 30));
        idevice_error_t error = idevice_connection_send(connection, cursor, chunk, &sent);
        if (error != IDEVICE_E_SUCCESS) return statusFromDevice(error);
        if (sent == 0) return kAMDSendMessageError;
        cursor += sent;
        length -= sent;
    }
    return kAMDSuccess;
}

AMDStatus receiveExactly(idevice_connection_t connection, void* bytes, std::size_t length,
                         unsigned int timeoutMs) {
    char* cursor = static_cast<char*>(bytes);
    while (length > 0) {
        std::uint32_t received = 0;
        const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length, 1u << 30));
        idevice_error_t error =
            timeoutMs > 0 ? idevice_connection_receive_timeout(connection, cursor, chunk, &received,
                                                               timeoutMs)
                          : idevice_connection_receive(connection, cursor, chunk, &received);
        if (error != IDEVICE_E_SUCCESS) return statusFromDevice(error);
        if (received == 0) return kAMDReceiveMessageError;
        cursor += received;
        length -= received;
    }
    return kAMDSuccess;
}

AMDStatus sendFramedMessage(idevice_connection_t connection, const foundation::Value& message,
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
    if (AMDStatus status = sendAll(connection, prefix, sizeof prefix)) return status;
    return sendAll(connection, payload.data(), payload.size());
}

AMDStatus receiveFramedMessage(idevice_connection_t connection, foundation::Value* message,
                               std::uint32_t* format, unsigned int timeoutMs) {
    return receiveFramedMessage(
        [&](void* bytes, std::size_t length) { return receiveExactly(connection, bytes, length, timeoutMs); },
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
