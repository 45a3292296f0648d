// The device file service calls. The service is started through the device's lockdown
// session and its connection (with SSL when the device asks) carries packets framed here:
// libimobiledevice 1.3's own file service client allocates whatever length a reply
// claims and loops without end when the device closes in the middle of a packet.

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/mobiledevice/AFCPacket.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/FileService.h"
#include "platform/mobiledevice/StartedService.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

namespace packet = afcpacket;

constexpr const char* kHouseArrestService = "com.apple.mobile.house_arrest";
// Largest single read or write request.
constexpr std::size_t kLargestRequest = 1u << 20;

// The service's open modes.
constexpr std::uint64_t kReadOnly = 1;
constexpr std::uint64_t kReadWriteKeep = 2;
constexpr std::uint64_t kWriteTruncate = 3;
constexpr std::uint64_t kAppend = 5;

std::uint64_t serviceMode(AFCFileMode mode) {
    switch (mode) {
        case AFCFileMode::Read:
            return kReadOnly;
        case AFCFileMode::Write:
            return kWriteTruncate;
        case AFCFileMode::ReadWrite:
            return kReadWriteKeep;
        case AFCFileMode::Append:
            return kAppend;
    }
    return kReadOnly;
}

// A failed send of an exchange: a device that stopped taking bytes timed out, else the send
// failed.
AMDStatus sendFailure(AMDStatus status) {
    return status == kAMDTimeOutError ? status : kAMDSendMessageError;
}

// One request and its reply, handed out; a status reply also becomes the answer. A failed
// exchange leaves the connection unusable. Each wait for the device is bounded by the
// connection's time-out, or `timeoutMs` when given.
AMDStatus exchange(const AFCConnectionRef& afc, std::uint64_t operation,
                   const std::vector<std::uint8_t>& data, const void* payload,
                   std::size_t payloadLength, packet::Reply* reply,
                   std::span<std::uint8_t> replyInto = {}, unsigned int timeoutMs = 0) {
    if (!afc || !afc->connection) return kAMDInvalidArgumentError;
    if (afc->broken) return kAMDNotConnectedError;
    Wire wire = afc->wire;
    if (timeoutMs > 0) wire.timeoutMs = timeoutMs;
    const std::uint64_t number = afc->nextPacket++;
    const auto head = packet::encodeRequest(number, operation, data, payloadLength);
    afc->broken = true;
    if (AMDStatus status = sendAll(wire, head.data(), head.size())) return sendFailure(status);
    if (payloadLength > 0) {
        if (AMDStatus status = sendAll(wire, payload, payloadLength)) return sendFailure(status);
    }
    AMDStatus received = kAMDSuccess;
    auto answer = packet::readReply(
        [&](std::uint8_t* bytes, std::size_t length) {
            received = receiveExactly(wire, bytes, length);
            return received == kAMDSuccess;
        },
        replyInto);
    if (!answer) return received == kAMDTimeOutError ? received : kAMDInvalidResponseError;
    afc->broken = false;
    *reply = std::move(*answer);
    if (reply->operation != packet::kStatus) return kAMDSuccess;
    const auto code = packet::little64(reply->data);
    if (!code) return kAMDInvalidResponseError;
    if (*code > 0xffff) return kAMDUndefinedError;
    return statusFromFileService(static_cast<afc_error_t>(*code));
}

AMDStatus statusOnly(const AFCConnectionRef& afc, std::uint64_t operation,
                     const std::vector<std::uint8_t>& data, const void* payload = nullptr,
                     std::size_t payloadLength = 0) {
    packet::Reply reply;
    if (AMDStatus status = exchange(afc, operation, data, payload, payloadLength, &reply)) {
        return status;
    }
    // Success comes as status 0; any other answer is out of protocol.
    return reply.operation == packet::kStatus ? kAMDSuccess : kAMDInvalidResponseError;
}

std::vector<std::uint8_t> pathData(const std::string& path) {
    std::vector<std::uint8_t> data;
    packet::appendText(data, path);
    return data;
}

std::vector<std::uint8_t> numbers(std::initializer_list<std::uint64_t> values) {
    std::vector<std::uint8_t> data;
    for (auto value : values) packet::appendLittle64(data, value);
    return data;
}

AMDStatus keyValues(const AFCConnectionRef& afc, std::uint64_t operation,
                    const std::vector<std::uint8_t>& data, AFCKeyValues* pairs) {
    packet::Reply reply;
    if (AMDStatus status = exchange(afc, operation, data, nullptr, 0, &reply)) return status;
    if (reply.operation != packet::kData && reply.operation != packet::kStatus) {
        return kAMDInvalidResponseError;
    }
    const auto texts = packet::splitTexts(reply.payload);
    pairs->clear();
    for (std::size_t i = 0; i + 1 < texts.size(); i += 2) pairs->emplace_back(texts[i], texts[i + 1]);
    return kAMDSuccess;
}

// Takes over the started service's connection, encrypted when the device asks.
AMDStatus adopt(StartedService& started, AFCConnectionRef* connection) {
    if (AMDStatus status = started.secureWhenAsked()) return status;
    *connection = std::make_shared<AFCConnection>(started.device, started.wire());
    started.device = nullptr;
    started.connection = nullptr;
    return kAMDSuccess;
}

}  // namespace

struct AFCOperation {
    std::uint64_t operation = 0;
    std::vector<std::uint8_t> data;
    AMDStatus result = kAMDUndefinedError;
};

AFCConnection::~AFCConnection() {
    if (connection) idevice_disconnect(connection);
    if (device) idevice_free(device);
}

AMDStatus AFCConnectionOpenService(const AMDeviceRef& device, const std::string& service,
                                   const foundation::Value& options, AFCConnectionRef* connection) {
    if (!connection) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(device, service, options, &started)) return status;
    return adopt(started, connection);
}

AMDStatus AFCConnectionOpenHouseArrest(const AMDeviceRef& device, const std::string& bundleId,
                                       const foundation::Value& options,
                                       AFCConnectionRef* connection) {
    if (!connection) return kAMDInvalidArgumentError;
    StartedService started;
    if (AMDStatus status = startService(device, kHouseArrestService, {}, &started)) return status;
    AFCConnectionRef afc;
    if (AMDStatus status = adopt(started, &afc)) return status;
    if (AMDStatus status = vendContainer(afc->wire, bundleId, options)) return status;
    // From here the connection speaks the file service's protocol.
    *connection = std::move(afc);
    return kAMDSuccess;
}

AMDStatus AFCConnectionClose(AFCConnectionRef& connection) {
    if (!connection) return kAMDInvalidArgumentError;
    connection.reset();
    return kAMDSuccess;
}

AMDStatus AFCFileInfoOpen(const AFCConnectionRef& connection, const std::string& path,
                          AFCKeyValues* info) {
    if (!info) return kAMDInvalidArgumentError;
    return keyValues(connection, packet::kFileInfo, pathData(path), info);
}

AMDStatus AFCDeviceInfoOpen(const AFCConnectionRef& connection, AFCKeyValues* info) {
    if (!info) return kAMDInvalidArgumentError;
    return keyValues(connection, packet::kDeviceInfo, {}, info);
}

AMDStatus AFCDirectoryRead(const AFCConnectionRef& connection, const std::string& path,
                           std::vector<std::string>* names) {
    if (!names) return kAMDInvalidArgumentError;
    packet::Reply reply;
    if (AMDStatus status = exchange(connection, packet::kReadDirectory, pathData(path), nullptr, 0,
                                    &reply)) {
        return status;
    }
    if (reply.operation != packet::kData && reply.operation != packet::kStatus) {
        return kAMDInvalidResponseError;
    }
    *names = packet::splitTexts(reply.payload);
    return kAMDSuccess;
}

AMDStatus AFCDirectoryCreate(const AFCConnectionRef& connection, const std::string& path) {
    return statusOnly(connection, packet::kMakeDirectory, pathData(path));
}

AMDStatus AFCRemovePath(const AFCConnectionRef& connection, const std::string& path) {
    return statusOnly(connection, packet::kRemovePath, pathData(path));
}

AMDStatus AFCRenamePath(const AFCConnectionRef& connection, const std::string& from,
                        const std::string& to) {
    auto data = pathData(from);
    packet::appendText(data, to);
    return statusOnly(connection, packet::kRenamePath, data);
}

AMDStatus AFCLinkPath(const AFCConnectionRef& connection, int kind, const std::string& target,
                      const std::string& link) {
    if (kind != kAFCHardLink && kind != kAFCSymbolicLink) return kAMDInvalidArgumentError;
    auto data = numbers({static_cast<std::uint64_t>(kind)});
    packet::appendText(data, target);
    packet::appendText(data, link);
    return statusOnly(connection, packet::kMakeLink, data);
}

AFCOperationRef AFCOperationCreateSetModTime(const std::string& path,
                                             std::uint64_t nanosecondsSince1970) {
    auto operation = std::make_shared<AFCOperation>();
    operation->operation = packet::kSetFileModTime;
    operation->data = numbers({nanosecondsSince1970});
    packet::appendText(operation->data, path);
    return operation;
}

AMDStatus AFCConnectionProcessOperation(const AFCConnectionRef& connection,
                                        const AFCOperationRef& operation, double timeout) {
    if (!operation || !(timeout >= 0)) return kAMDInvalidArgumentError;
    const auto timeoutMs =
        timeout > 0 && timeout < 86400 ? static_cast<unsigned int>(timeout * 1000) : 0u;
    packet::Reply reply;
    const AMDStatus status = exchange(connection, operation->operation, operation->data, nullptr, 0,
                                      &reply, {}, timeoutMs);
    // A status packet is the service's answer, whatever it says; anything else is no answer.
    if (status != kAMDSuccess && reply.operation != packet::kStatus) return status;
    if (status == kAMDSuccess && reply.operation != packet::kStatus) {
        return kAMDInvalidResponseError;
    }
    operation->result = status;
    connection->lastErrorInfo = foundation::Value();
    if (status != kAMDSuccess) {
        const auto code = packet::little64(reply.data).value_or(0);
        connection->lastErrorInfo = foundation::Value::dict(
            {{"NSLocalizedDescription", "The device's file service refused the request (error " +
                                            std::to_string(code) + ")."}});
    }
    return kAMDSuccess;
}

AMDStatus AFCOperationGetResultStatus(const AFCOperationRef& operation) {
    return operation ? operation->result : kAMDInvalidArgumentError;
}

std::uint32_t AFCConnectionGetIOTimeout(const AFCConnectionRef& connection) {
    return connection ? connection->wire.timeoutMs / 1000 : 0;
}

foundation::Value AFCConnectionCopyLastErrorInfo(const AFCConnectionRef& connection) {
    return connection ? connection->lastErrorInfo : foundation::Value();
}

AMDStatus AFCFileRefOpen(const AFCConnectionRef& connection, const std::string& path,
                         AFCFileMode mode, AFCFileRef* file) {
    if (!file) return kAMDInvalidArgumentError;
    auto data = numbers({serviceMode(mode)});
    packet::appendText(data, path);
    packet::Reply reply;
    if (AMDStatus status = exchange(connection, packet::kFileOpen, data, nullptr, 0, &reply)) {
        return status;
    }
    const auto handle = packet::little64(reply.data);
    if (reply.operation != packet::kFileOpenResult || !handle) return kAMDInvalidResponseError;
    *file = *handle;
    return kAMDSuccess;
}

AMDStatus AFCFileRefClose(const AFCConnectionRef& connection, AFCFileRef file) {
    return statusOnly(connection, packet::kFileClose, numbers({file}));
}

AMDStatus AFCFileRefSeek(const AFCConnectionRef& connection, AFCFileRef file, std::int64_t offset,
                         int origin) {
    if (origin < kAFCSeekSet || origin > kAFCSeekEnd) return kAMDInvalidArgumentError;
    return statusOnly(connection, packet::kFileSeek,
                      numbers({file, static_cast<std::uint64_t>(origin),
                               static_cast<std::uint64_t>(offset)}));
}

AMDStatus AFCFileRefTell(const AFCConnectionRef& connection, AFCFileRef file,
                         std::uint64_t* position) {
    if (!position) return kAMDInvalidArgumentError;
    packet::Reply reply;
    if (AMDStatus status = exchange(connection, packet::kFileTell, numbers({file}), nullptr, 0,
                                    &reply)) {
        return status;
    }
    const auto value = packet::little64(reply.data);
    if (reply.operation != packet::kFileTellResult || !value) return kAMDInvalidResponseError;
    *position = *value;
    return kAMDSuccess;
}

AMDStatus AFCFileRefRead(const AFCConnectionRef& connection, AFCFileRef file, void* bytes,
                         std::size_t length, std::size_t* read) {
    if (!read || (!bytes && length > 0)) return kAMDInvalidArgumentError;
    *read = 0;
    auto* out = static_cast<std::uint8_t*>(bytes);
    while (*read < length) {
        const std::size_t ask = std::min(length - *read, kLargestRequest);
        packet::Reply reply;
        if (AMDStatus status = exchange(connection, packet::kFileRead, numbers({file, ask}), nullptr,
                                        0, &reply, {out + *read, ask})) {
            return status;
        }
        if (reply.operation != packet::kData && reply.operation != packet::kStatus) {
            return kAMDInvalidResponseError;
        }
        // A device may answer less than asked; more is out of protocol.
        const std::size_t got = reply.payloadLength + reply.data.size();
        if (got > ask || !reply.payload.empty()) return kAMDOverrunError;
        if (got == 0) break;  // the end of the file
        if (!reply.data.empty()) {
            // Bytes in the operation's data come first.
            std::memmove(out + *read + reply.data.size(), out + *read, reply.payloadLength);
            std::copy(reply.data.begin(), reply.data.end(), out + *read);
        }
        *read += got;
    }
    return kAMDSuccess;
}

AMDStatus AFCFileRefWrite(const AFCConnectionRef& connection, AFCFileRef file, const void* bytes,
                          std::size_t length) {
    if (!bytes && length > 0) return kAMDInvalidArgumentError;
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    for (std::size_t done = 0; done < length;) {
        const std::size_t give = std::min(length - done, kLargestRequest);
        if (AMDStatus status =
                statusOnly(connection, packet::kFileWrite, numbers({file}), in + done, give)) {
            return status;
        }
        done += give;
    }
    return kAMDSuccess;
}

AMDStatus AFCFileRefSetFileSize(const AFCConnectionRef& connection, AFCFileRef file,
                                std::uint64_t size) {
    return statusOnly(connection, packet::kFileSetSize, numbers({file, size}));
}

AMDStatus AFCFileRefLock(const AFCConnectionRef& connection, AFCFileRef file, bool exclusive) {
    return statusOnly(connection, packet::kFileLock, numbers({file, exclusive ? 2u | 4u : 1u | 4u}));
}

AMDStatus AFCFileRefUnlock(const AFCConnectionRef& connection, AFCFileRef file) {
    return statusOnly(connection, packet::kFileLock, numbers({file, 8u | 4u}));
}

}  // namespace mobiledevice
