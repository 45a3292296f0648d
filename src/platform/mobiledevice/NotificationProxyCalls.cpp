#include "platform/mobiledevice/NotificationProxyCalls.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

#include "foundation/PropertyList.h"
#include "platform/mobiledevice/ConnectionFraming.h"

namespace mobiledevice {

namespace {

AMDStatus sendAll(int socket, const char* bytes, std::size_t length, unsigned int timeoutMs) {
    while (length > 0) {
        if (AMDStatus status = waitForSocket(socket, true, timeoutMs)) return status;
        const ssize_t sent = ::send(socket, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (sent <= 0) return kAMDSendMessageError;
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return kAMDSuccess;
}

AMDStatus sendRequest(int socket, const foundation::Value& request, unsigned int timeoutMs) {
    if (socket < 0) return kAMDInvalidArgumentError;
    const auto xml = foundation::plist::writeXml(request);
    if (!xml) return kAMDInvalidArgumentError;
    const auto length = static_cast<std::uint32_t>(xml->size());
    const char prefix[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                            static_cast<char>(length >> 8), static_cast<char>(length)};
    if (AMDStatus status = sendAll(socket, prefix, sizeof prefix, timeoutMs)) return status;
    return sendAll(socket, xml->data(), xml->size(), timeoutMs);
}

}  // namespace

AMDStatus AMDObserveNotification(int socket, const std::string& name, unsigned int timeoutMs) {
    if (name.empty()) return kAMDInvalidArgumentError;
    return sendRequest(
        socket, foundation::Value::dict({{"Command", "ObserveNotification"}, {"Name", name}}),
        timeoutMs);
}

AMDStatus AMDPostNotification(int socket, const std::string& name,
                              const foundation::Value& userInfo, unsigned int timeoutMs) {
    if (name.empty()) return kAMDInvalidArgumentError;
    auto request = foundation::Value::dict({{"Command", "PostNotification"}, {"Name", name}});
    if (userInfo.isDictionary()) request.set("UserInfo", userInfo);
    return sendRequest(socket, request, timeoutMs);
}

}  // namespace mobiledevice
