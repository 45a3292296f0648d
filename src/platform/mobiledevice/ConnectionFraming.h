#pragma once

// Length-prefixed property lists over a device connection: a 4-byte big-endian length,
// then an XML or binary property list.

#include <libimobiledevice/libimobiledevice.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"

namespace mobiledevice {

// Longest message accepted from a device; longer length fields are refused unread.
inline constexpr std::uint32_t kMaxMessageLength = 64u << 20;

AMDStatus sendAll(idevice_connection_t connection, const void* bytes, std::size_t length);
// With a time-out (milliseconds), each wait for more bytes polls the socket for at most that
// long, which a TLS connection on a non-blocking socket needs; 0 receives plainly.
AMDStatus receiveExactly(idevice_connection_t connection, void* bytes, std::size_t length,
                         unsigned int timeoutMs = 0);
AMDStatus sendFramedMessage(idevice_connection_t connection, const foundation::Value& message,
                            std::uint32_t format);
AMDStatus receiveFramedMessage(idevice_connection_t connection, foundation::Value* message,
                               std::uint32_t* format, unsigned int timeoutMs = 0);
// The same over any source of exactly the bytes asked for.
using ExactReceiver = std::function<AMDStatus(void* bytes, std::size_t length)>;
AMDStatus receiveFramedMessage(const ExactReceiver& receive, foundation::Value* message,
                               std::uint32_t* format);

}  // namespace mobiledevice
