#pragma once

// The mobile-device calls the device layer builds on, shaped like the platform framework
// they stand in for and carried out with libimobiledevice, libusbmuxd and libplist. Every
// call answers an AMDStatus (0 on success); property lists travel as foundation::Value.
//
// Threads: attach and detach notices are delivered on the main queue. The other calls may
// come from any thread; calls on one device handle are serialised by the handle.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/AMDStatus.h"
#include "platform/mobiledevice/DeviceTimeLimits.h"

namespace mobiledevice {

struct AMDeviceHandle;
using AMDeviceRef = std::shared_ptr<AMDeviceHandle>;
struct AMDServiceConnection;
using AMDServiceConnectionRef = std::shared_ptr<AMDServiceConnection>;
struct AMDeviceNotification;
using AMDeviceNotificationRef = std::shared_ptr<AMDeviceNotification>;

inline constexpr std::uint32_t kADNCIMessageConnected = 1;
inline constexpr std::uint32_t kADNCIMessageDisconnected = 2;
inline constexpr std::uint32_t kADNCIMessageUnsubscribed = 3;

inline constexpr std::uint32_t kAMDInterfaceUSB = 1;
inline constexpr std::uint32_t kAMDInterfaceWiFi = 2;
inline constexpr std::uint32_t kAMDInterfaceCompanionProxy = 3;

inline constexpr std::uint32_t kAMDPropertyListXml = 100;
inline constexpr std::uint32_t kAMDPropertyListBinary = 200;

struct AMDeviceNotificationCallbackInfo {
    AMDeviceRef device;  // one handle per attachment; the detach notice hands the same one
    std::uint32_t msg = 0;
};
using AMDeviceNotificationCallback = void (*)(const AMDeviceNotificationCallbackInfo* info,
                                              void* context);

// Attach and detach notices. Devices present at subscription are announced as attached.
AMDStatus AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, std::uint32_t,
                                        std::uint32_t, void* context,
                                        AMDeviceNotificationRef* subscription);
AMDStatus AMDeviceNotificationUnsubscribe(const AMDeviceNotificationRef& subscription);

// Connection to the device's lockdown service; a session needs a connection.
AMDStatus AMDeviceConnect(const AMDeviceRef& device);
AMDStatus AMDeviceDisconnect(const AMDeviceRef& device);
AMDStatus AMDeviceValidatePairing(const AMDeviceRef& device);
AMDStatus AMDevicePair(const AMDeviceRef& device);
AMDStatus AMDeviceUnpair(const AMDeviceRef& device);
AMDStatus AMDeviceStartSession(const AMDeviceRef& device);
AMDStatus AMDeviceStopSession(const AMDeviceRef& device);
// Non-zero when this host holds a pair record for the device.
int AMDeviceIsPaired(const AMDeviceRef& device);
// The value of a key in a domain (either may be null; a null key gives the whole domain);
// nil when missing or when the device is not connected.
foundation::Value AMDeviceCopyValue(const AMDeviceRef& device, const char* domain, const char* key);
std::string AMDeviceCopyDeviceIdentifier(const AMDeviceRef& device);
std::uint32_t AMDeviceGetInterfaceType(const AMDeviceRef& device);
// How long the device has to answer, for every exchange with it and its services.
DeviceTimeLimits AMDeviceGetTimeLimits(const AMDeviceRef& device);
// Companion proxies (interface type 3) do not exist on this platform: always null.
AMDeviceRef AMDeviceCopyPairedCompanion(const AMDeviceRef& device);
void AMDeviceRelease(AMDeviceRef& device);

// Services. The plain start hands out a socket the caller owns (close it); it fails for
// services that need encryption, which the secure start handles.
AMDStatus AMDeviceStartService(const AMDeviceRef& device, const std::string& name, int* socket,
                               void* unused);
AMDStatus AMDeviceSecureStartService(const AMDeviceRef& device, const std::string& name,
                                     const foundation::Value& options,
                                     AMDServiceConnectionRef* connection);
AMDStatus AMDeviceCreateHouseArrestService(const AMDeviceRef& device, const std::string& bundleId,
                                           const foundation::Value& options, int* socket);
AMDStatus AMDeviceLookupApplications(const AMDeviceRef& device, const foundation::Value& options,
                                     foundation::Value* applications);

// Service connection objects made by the secure start. Each carries the device's time
// limit for a service's replies: every wait for the device to take or give bytes is given
// up after it, and the exchange fails as timed out (kAMDTimeOutError).
int AMDServiceConnectionGetSocket(const AMDServiceConnectionRef& connection);
// Everything or -1 (errno ETIMEDOUT when the device stopped taking bytes).
long AMDServiceConnectionSend(const AMDServiceConnectionRef& connection, const void* bytes,
                              std::size_t length);
inline constexpr long kAMDServiceConnectionTimedOut = -60;
// What one read gives, at most `length` bytes. With a time-out (milliseconds) it waits that
// long at most for bytes that can be handed out (inside TLS, a whole record):
// kAMDServiceConnectionTimedOut once it has passed; without, it takes only what has come.
// -1 on failure, the device's hanging up included.
long AMDServiceConnectionReceive(const AMDServiceConnectionRef& connection, void* bytes,
                                 std::size_t length, unsigned int timeoutMs = 0);
// Whether bytes have arrived that a receive hands out without waiting for the socket.
bool AMDServiceConnectionHasReceivedBytes(const AMDServiceConnectionRef& connection);
AMDStatus AMDServiceConnectionSendMessage(const AMDServiceConnectionRef& connection,
                                          const foundation::Value& message, std::uint32_t format);
AMDStatus AMDServiceConnectionReceiveMessage(const AMDServiceConnectionRef& connection,
                                             foundation::Value* message, std::uint32_t* format);

std::string AFCGetClientVersionString();

}  // namespace mobiledevice
