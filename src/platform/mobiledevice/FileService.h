#pragma once

// The device file service calls, in the framework's shape, carried out by
// libimobiledevice's AFC client. A connection is opened from the device (the service is
// started through the device's lockdown session and the client connects to it itself);
// everything else takes the connection. Every call answers an AMDStatus, 0 on success.
// A connection is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Value.h"
#include "platform/mobiledevice/MobileDevice.h"

namespace mobiledevice {

struct AFCConnection;
using AFCConnectionRef = std::shared_ptr<AFCConnection>;
using AFCFileRef = std::uint64_t;

// Open modes, by meaning.
enum class AFCFileMode : std::uint32_t {
    Read = 1,       // read only; the file must exist
    Write = 2,      // write, created when missing, emptied first
    ReadWrite = 3,  // read and write, created when missing, never emptied
    Append = 4,     // write at the end, created when missing, never emptied
};
// Seek origins.
inline constexpr int kAFCSeekSet = 0;
inline constexpr int kAFCSeekCurrent = 1;
inline constexpr int kAFCSeekEnd = 2;
// Link kinds.
inline constexpr int kAFCHardLink = 1;
inline constexpr int kAFCSymbolicLink = 2;

// Key/value pairs of file or device information, in the order the service gave them.
using AFCKeyValues = std::vector<std::pair<std::string, std::string>>;

// Starts the named file service ("com.apple.afc", "com.apple.crashreportcopymobile",
// "com.apple.afc2"). The device needs an open session. Options: {"UnlockEscrowBag": true}.
AMDStatus AFCConnectionOpenService(const AMDeviceRef& device, const std::string& service,
                                   const foundation::Value& options, AFCConnectionRef* connection);
// The file service of one application's container through house arrest. Options:
// {"Command": "VendDocuments"} for the documents only; "VendContainer" otherwise.
AMDStatus AFCConnectionOpenHouseArrest(const AMDeviceRef& device, const std::string& bundleId,
                                       const foundation::Value& options,
                                       AFCConnectionRef* connection);
AMDStatus AFCConnectionClose(AFCConnectionRef& connection);

AMDStatus AFCFileInfoOpen(const AFCConnectionRef& connection, const std::string& path,
                          AFCKeyValues* info);
AMDStatus AFCDeviceInfoOpen(const AFCConnectionRef& connection, AFCKeyValues* info);
// Entry names as the service lists them ("." and ".." included).
AMDStatus AFCDirectoryRead(const AFCConnectionRef& connection, const std::string& path,
                           std::vector<std::string>* names);
AMDStatus AFCDirectoryCreate(const AFCConnectionRef& connection, const std::string& path);
AMDStatus AFCRemovePath(const AFCConnectionRef& connection, const std::string& path);
AMDStatus AFCRenamePath(const AFCConnectionRef& connection, const std::string& from,
                        const std::string& to);
AMDStatus AFCLinkPath(const AFCConnectionRef& connection, int kind, const std::string& target,
                      const std::string& link);

// A request made ahead and run later on a connection; it then holds the service's answer.
struct AFCOperation;
using AFCOperationRef = std::shared_ptr<AFCOperation>;
AFCOperationRef AFCOperationCreateSetModTime(const std::string& path,
                                             std::uint64_t nanosecondsSince1970);
// Sends the operation and waits at most `timeout` seconds (0: the connection's own wait) for
// the answer. Non-zero when no answer came; what the service answered is the operation's
// result status, and a refusal is also kept as the connection's last error information.
AMDStatus AFCConnectionProcessOperation(const AFCConnectionRef& connection,
                                        const AFCOperationRef& operation, double timeout);
// The service's answer to a processed operation; kAMDUndefinedError before that.
AMDStatus AFCOperationGetResultStatus(const AFCOperationRef& operation);
// Whole seconds the connection waits for an answer.
std::uint32_t AFCConnectionGetIOTimeout(const AFCConnectionRef& connection);
// {"NSLocalizedDescription": text} when the last operation was refused, else nil.
foundation::Value AFCConnectionCopyLastErrorInfo(const AFCConnectionRef& connection);

AMDStatus AFCFileRefOpen(const AFCConnectionRef& connection, const std::string& path,
                         AFCFileMode mode, AFCFileRef* file);
AMDStatus AFCFileRefClose(const AFCConnectionRef& connection, AFCFileRef file);
AMDStatus AFCFileRefSeek(const AFCConnectionRef& connection, AFCFileRef file, std::int64_t offset,
                         int origin);
AMDStatus AFCFileRefTell(const AFCConnectionRef& connection, AFCFileRef file,
                         std::uint64_t* position);
// Reads until `length` bytes arrived or the file ended; `*read` says how many came.
AMDStatus AFCFileRefRead(const AFCConnectionRef& connection, AFCFileRef file, void* bytes,
                         std::size_t length, std::size_t* read);
// Writes all `length` bytes or fails.
AMDStatus AFCFileRefWrite(const AFCConnectionRef& connection, AFCFileRef file, const void* bytes,
                          std::size_t length);
AMDStatus AFCFileRefSetFileSize(const AFCConnectionRef& connection, AFCFileRef file,
                                std::uint64_t size);
AMDStatus AFCFileRefLock(const AFCConnectionRef& connection, AFCFileRef file, bool exclusive);
AMDStatus AFCFileRefUnlock(const AFCConnectionRef& connection, AFCFileRef file);

}  // namespace mobiledevice
