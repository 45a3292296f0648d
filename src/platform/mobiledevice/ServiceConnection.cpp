// The service connection object handed out by the secure service start.

#include <algorithm>
#include <climits>

#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/MobileDevice.h"

namespace mobiledevice {

namespace {

constexpr std::uint32_t kLargestRecord = 16384;

}  // namespace

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
    if (length == 0) return 0;
    auto& surplus = connection->surplus;
    if (connection->surplusStart == surplus.size()) {
        // One record at most; asking for a whole one leaves nothing behind inside TLS.
        surplus.resize(kLargestRecord);
        connection->surplusStart = 0;
        std::uint32_t received = 0;
        const idevice_error_t error =
            idevice_connection_receive(connection->connection, surplus.data(), kLargestRecord, &received);
        surplus.resize(received);
        if (error != IDEVICE_E_SUCCESS && received == 0) return -1;
    }
    const std::size_t count = std::min(length, surplus.size() - connection->surplusStart);
    std::copy_n(surplus.data() + connection->surplusStart, count, static_cast<char*>(bytes));
    connection->surplusStart += count;
    return static_cast<long>(count);
}

bool AMDServiceConnectionHasReceivedBytes(const AMDServiceConnectionRef& connection) {
    return connection && connection->surplusStart < connection->surplus.size();
}

AMDStatus AMDServiceConnectionSendMessage(const AMDServiceConnectionRef& connection,
                                          const foundation::Value& message, std::uint32_t format) {
    if (!connection) return kAMDInvalidArgumentError;
    return sendFramedMessage(connection->connection, message, format);
}

AMDStatus AMDServiceConnectionReceiveMessage(const AMDServiceConnectionRef& connection,
                                             foundation::Value* message, std::uint32_t* format) {
    if (!connection) return kAMDInvalidArgumentError;
    const auto receiveExactly = [&](void* bytes, std::size_t length) -> AMDStatus {
        auto* cursor = static_cast<char*>(bytes);
        while (length > 0) {
            const long count = AMDServiceConnectionReceive(connection, cursor, length);
            if (count <= 0) return kAMDReceiveMessageError;
            cursor += count;
            length -= static_cast<std::size_t>(count);
        }
        return kAMDSuccess;
    };
    return receiveFramedMessage(receiveExactly, message, format);
}

}  // namespace mobiledevice
