// The service connection object handed out by the secure service start.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
    const auto chunk = std::min<std::size_t>(length, INT_MAX);
    const AMDStatus status = sendAll(connection->wire, bytes, chunk);
    if (status == kAMDTimeOutError) {
        errno = ETIMEDOUT;
        return -1;
    }
    return status == kAMDSuccess ? static_cast<long>(chunk) : -1;
}

long AMDServiceConnectionReceive(const AMDServiceConnectionRef& connection, void* bytes,
                                 std::size_t length, unsigned int timeoutMs) {
    if (!connection) return -1;
    if (length == 0) return 0;
    auto& surplus = connection->surplus;
    if (connection->surplusStart == surplus.size()) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        const int fd = timeoutMs > 0 ? AMDServiceConnectionGetSocket(connection) : -1;
        for (;;) {
            bool hungUp = false;
            if (fd >= 0) {
                // Nothing is left inside TLS between reads (see below): the socket tells.
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
                const AMDStatus waited = waitForSocket(
                    fd, false, left.count() > 0 ? static_cast<unsigned int>(left.count()) : 0,
                    &hungUp);
                if (waited == kAMDTimeOutError) return kAMDServiceConnectionTimedOut;
                if (waited != kAMDSuccess && !hungUp) return -1;
            }
            // One record at most; asking for a whole one leaves nothing behind inside TLS.
            surplus.resize(kLargestRecord);
            connection->surplusStart = 0;
            std::uint32_t received = 0;
            const idevice_error_t error = idevice_connection_receive(
                connection->connection, surplus.data(), kLargestRecord, &received);
            surplus.resize(received);
            if (received > 0) break;
            // Without a wait, or once the device has gone, nothing more comes. Otherwise a
            // record may have come in part: its rest is waited for while the time lasts.
            if (fd < 0 || hungUp || error == IDEVICE_E_SUCCESS) return -1;
        }
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
    return sendFramedMessage(connection->wire, message, format);
}

AMDStatus AMDServiceConnectionReceiveMessage(const AMDServiceConnectionRef& connection,
                                             foundation::Value* message, std::uint32_t* format) {
    if (!connection) return kAMDInvalidArgumentError;
    const auto receiveExactly = [&](void* bytes, std::size_t length) -> AMDStatus {
        auto* cursor = static_cast<char*>(bytes);
        while (length > 0) {
            const long count =
                AMDServiceConnectionReceive(connection, cursor, length, connection->wire.timeoutMs);
            if (count == kAMDServiceConnectionTimedOut) return kAMDTimeOutError;
            if (count <= 0) return kAMDReceiveMessageError;
            cursor += count;
            length -= static_cast<std::size_t>(count);
        }
        return kAMDSuccess;
    };
    return receiveFramedMessage(receiveExactly, message, format);
}

}  // namespace mobiledevice
