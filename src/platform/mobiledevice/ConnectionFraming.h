#pragma once

// Length-prefixed property lists over a device connection: a 4-byte big-endian length,
// then an XML or binary property list. Every wait for the device is bounded: the wire's
// time-out limits each wait for it to take more bytes or to give more, and a device that
// lets it pass fails the exchange with kAMDTimeOutError.

#include <libimobiledevice/libimobiledevice.h>

#include <cstddef>
#include <cstdint>
#include <functional>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"

namespace mobiledevice {

// Longest message accepted from a device; longer length fields are refused unread.
inline constexpr std::uint32_t kMaxMessageLength = 64u << 20;

// Waits until the socket can take bytes (`write`) or has bytes or news of the peer's end
// to give: kAMDSuccess, kAMDTimeOutError once `timeoutMs` has passed, another status when
// the wait fails. Interrupted waits resume with the time that is left. With `hungUp`, a
// wait to read also says whether the peer has ended its side or the socket failed.
AMDStatus waitForSocket(int fd, bool write, unsigned int timeoutMs, bool* hungUp = nullptr);

// A device connection as it is spoken over: whether TLS carries it, and how long the device
// has for each wait (more than 0).
struct Wire {
    idevice_connection_t connection;
    bool encrypted;
    unsigned int timeoutMs;
};

AMDStatus sendAll(const Wire& wire, const void* bytes, std::size_t length);
AMDStatus receiveExactly(const Wire& wire, void* bytes, std::size_t length);
AMDStatus sendFramedMessage(const Wire& wire, const foundation::Value& message,
                            std::uint32_t format);
AMDStatus receiveFramedMessage(const Wire& wire, foundation::Value* message, std::uint32_t* format);
// The same over any source of exactly the bytes asked for.
using ExactReceiver = std::function<AMDStatus(void* bytes, std::size_t length)>;
AMDStatus receiveFramedMessage(const ExactReceiver& receive, foundation::Value* message,
                               std::uint32_t* format);

}  // namespace mobiledevice
