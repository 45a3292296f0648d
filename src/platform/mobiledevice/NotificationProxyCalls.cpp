#include "platform/mobiledevice/NotificationProxyCalls.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

#include "foundation/PropertyList.h"

namespace mobiledevice {

namespace {

bool sendAll(int socket, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t sent = ::send(socket, bytes, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

AMDStatus sendRequest(int socket, const foundation::Value& request) {
    if (socket < 0) return kAMDInvalidArgumentError;
    const auto xml = foundation::plist::writeXml(request);
    if (!xml) return kAMDInvalidArgumentError;
    const auto length = static_cast<std::uint32_t>(xml->size());
    const char prefix[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                            static_cast<char>(length >> 8), static_cast<char>(length)};
    if (!sendAll(socket, prefix, sizeof prefix) || !sendAll(socket, xml->data(), xml->size())) {
        return kAMDSendMessageError;
    }
    return kAMDSuccess;
}

}  // namespace

AMDStatus AMDObserveNotification(int socket, const std::string& name) {
    if (name.empty()) return kAMDInvalidArgumentError;
    return sendRequest(
        socket, foundation::Value::dict({{"Command", "ObserveNotification"}, {"Name", name}}));
}

AMDStatus AMDPostNotification(int socket, const std::string& name,
                              const foundation::Value& userInfo) {
    if (name.empty()) return kAMDInvalidArgumentError;
    auto request = foundation::Value::dict({{"Command", "PostNotification"}, {"Name", name}});
    if (userInfo.isDictionary()) request.set("UserInfo", userInfo);
    return sendRequest(socket, request);
}

}  // namespace mobiledevice
