// The service connection object handed out by the secure service start.

#include <algorithm>
#include <climits>

#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/MobileDevice.h"

namespace mobiledevice {

AMDServiceConnection::~AMDServiceConnection() {
    if (connection) idevice_disconnect(connection);
    if (device) idevice_free(device);
}

int AMDServiceConnectionGetSocket(const AMDServiceConnectionRef& connection) {
    if (!connection) return -1;
    int fd = -1;
    if (idevice_connection_get_fd(connection->connection, &fd) != IDEVICE_E_SUCCESS) return -1;
    return fd;
}

long AMDServiceConnectionSend(const AMDServiceConnectionRef& connection, const void* bytes,
                              std::size_t length) {
    if (!connection) return -1;
    std::uint32_t sent = 0;
    const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length, INT_MAX));
    if (idevice_connection_send(connection->connection, static_cast<const char*>(bytes), chunk,
                                &sent) != IDEVICE_E_SUCCESS) {
        return -1;
    }
    return static_cast<long>(sent);
}

long AMDServiceConnectionReceive(const AMDServiceConnectionRef& connection, void* bytes,
                                 std::size_t length) {
    if (!connection) return -1;
    std::uint32_t received = 0;
    const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(length, INT_MAX));
    idevice_error_t error = idevice_connection_receive(connection->connection,
                                                       static_cast<char*>(bytes), chunk, &received);
    if (error != IDEVICE_E_SUCCESS) return received > 0 ? static_cast<long>(received) : -1;
    return static_cast<long>(received);
}

AMDStatus AMDServiceConnectionSendMessage(const AMDServiceConnectionRef& connection,
                                          const foundation::Value& message, std::uint32_t format) {
    if (!connection) return kAMDInvalidArgumentError;
    return sendFramedMessage(connection->connection, message, format);
}

AMDStatus AMDServiceConnectionReceiveMessage(const AMDServiceConnectionRef& connection,
                                             foundation::Value* message, std::uint32_t* format) {
    if (!connection) return kAMDInvalidArgumentError;
    return receiveFramedMessage(connection->connection, message, format);
}

}  // namespace mobiledevice
