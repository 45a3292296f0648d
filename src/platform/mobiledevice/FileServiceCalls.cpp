// The device file service calls over libimobiledevice's AFC client.

#include <algorithm>
#include <climits>

#include "platform/mobiledevice/AMDeviceHandle.h"
#include "platform/mobiledevice/FileService.h"
#include "platform/mobiledevice/StatusMapping.h"

namespace mobiledevice {

namespace {

// Largest single request: the service's packets carry 32-bit lengths, and a device
// answers large reads in parts anyway.
constexpr std::size_t kLargestRequest = 1u << 20;

AMDStatus status(afc_error_t error) { return statusFromFileService(error); }

bool usable(const AFCConnectionRef& connection) { return connection && connection->afc; }

// The NULL-terminated list of alternating keys and values the client hands out.
AFCKeyValues pairsFrom(char** list) {
    AFCKeyValues pairs;
    if (!list) return pairs;
    for (std::size_t i = 0; list[i] && list[i + 1]; i += 2) pairs.emplace_back(list[i], list[i + 1]);
    afc_dictionary_free(list);
    return pairs;
}

afc_file_mode_t clientMode(AFCFileMode mode) {
    switch (mode) {
        case AFCFileMode::Read:
            return AFC_FOPEN_RDONLY;
        case AFCFileMode::Write:
            return AFC_FOPEN_WRONLY;
        case AFCFileMode::ReadWrite:
            return AFC_FOPEN_RW;
        case AFCFileMode::Append:
            return AFC_FOPEN_APPEND;
    }
    return AFC_FOPEN_RDONLY;
}

}  // namespace

AFCConnection::~AFCConnection() {
    // The client goes before the container service it was made from.
    if (afc) afc_client_free(afc);
    if (houseArrest) house_arrest_client_free(houseArrest);
    if (device) idevice_free(device);
}

AMDStatus AFCConnectionClose(AFCConnectionRef& connection) {
    if (!connection) return kAMDInvalidArgumentError;
    connection.reset();
    return kAMDSuccess;
}

AMDStatus AFCFileInfoOpen(const AFCConnectionRef& connection, const std::string& path,
                          AFCKeyValues* info) {
    if (!usable(connection) || !info) return kAMDInvalidArgumentError;
    char** list = nullptr;
    if (afc_error_t error = afc_get_file_info(connection->afc, path.c_str(), &list)) {
        if (list) afc_dictionary_free(list);
        return status(error);
    }
    if (!list) return kAMDNotFoundError;
    *info = pairsFrom(list);
    return kAMDSuccess;
}

AMDStatus AFCDeviceInfoOpen(const AFCConnectionRef& connection, AFCKeyValues* info) {
    if (!usable(connection) || !info) return kAMDInvalidArgumentError;
    char** list = nullptr;
    if (afc_error_t error = afc_get_device_info(connection->afc, &list)) {
        if (list) afc_dictionary_free(list);
        return status(error);
    }
    *info = pairsFrom(list);
    return kAMDSuccess;
}

AMDStatus AFCDirectoryRead(const AFCConnectionRef& connection, const std::string& path,
                           std::vector<std::string>* names) {
    if (!usable(connection) || !names) return kAMDInvalidArgumentError;
    char** list = nullptr;
    if (afc_error_t error = afc_read_directory(connection->afc, path.c_str(), &list)) {
        if (list) afc_dictionary_free(list);
        return status(error);
    }
    names->clear();
    for (std::size_t i = 0; list && list[i]; ++i) names->emplace_back(list[i]);
    if (list) afc_dictionary_free(list);
    return kAMDSuccess;
}

AMDStatus AFCDirectoryCreate(const AFCConnectionRef& connection, const std::string& path) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_make_directory(connection->afc, path.c_str()));
}

AMDStatus AFCRemovePath(const AFCConnectionRef& connection, const std::string& path) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_remove_path(connection->afc, path.c_str()));
}

AMDStatus AFCRenamePath(const AFCConnectionRef& connection, const std::string& from,
                        const std::string& to) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_rename_path(connection->afc, from.c_str(), to.c_str()));
}

AMDStatus AFCLinkPath(const AFCConnectionRef& connection, int kind, const std::string& target,
                      const std::string& link) {
    if (!usable(connection) || (kind != kAFCHardLink && kind != kAFCSymbolicLink)) {
        return kAMDInvalidArgumentError;
    }
    const auto type = kind == kAFCHardLink ? AFC_HARDLINK : AFC_SYMLINK;
    return status(afc_make_link(connection->afc, type, target.c_str(), link.c_str()));
}

AMDStatus AFCSetModTime(const AFCConnectionRef& connection, const std::string& path,
                        std::uint64_t nanosecondsSince1970) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_set_file_time(connection->afc, path.c_str(), nanosecondsSince1970));
}

AMDStatus AFCFileRefOpen(const AFCConnectionRef& connection, const std::string& path,
                         AFCFileMode mode, AFCFileRef* file) {
    if (!usable(connection) || !file) return kAMDInvalidArgumentError;
    std::uint64_t handle = 0;
    if (afc_error_t error = afc_file_open(connection->afc, path.c_str(), clientMode(mode), &handle)) {
        return status(error);
    }
    *file = handle;
    return kAMDSuccess;
}

AMDStatus AFCFileRefClose(const AFCConnectionRef& connection, AFCFileRef file) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_file_close(connection->afc, file));
}

AMDStatus AFCFileRefSeek(const AFCConnectionRef& connection, AFCFileRef file, std::int64_t offset,
                         int origin) {
    if (!usable(connection) || origin < kAFCSeekSet || origin > kAFCSeekEnd) {
        return kAMDInvalidArgumentError;
    }
    return status(afc_file_seek(connection->afc, file, offset, origin));
}

AMDStatus AFCFileRefTell(const AFCConnectionRef& connection, AFCFileRef file,
                         std::uint64_t* position) {
    if (!usable(connection) || !position) return kAMDInvalidArgumentError;
    return status(afc_file_tell(connection->afc, file, position));
}

AMDStatus AFCFileRefRead(const AFCConnectionRef& connection, AFCFileRef file, void* bytes,
                         std::size_t length, std::size_t* read) {
    if (!usable(connection) || !read || (!bytes && length > 0)) return kAMDInvalidArgumentError;
    *read = 0;
    auto* out = static_cast<char*>(bytes);
    while (*read < length) {
        const auto ask = static_cast<std::uint32_t>(std::min(length - *read, kLargestRequest));
        std::uint32_t got = 0;
        if (afc_error_t error = afc_file_read(connection->afc, file, out + *read, ask, &got)) {
            return status(error);
        }
        if (got == 0) break;  // the end of the file
        if (got > ask) return kAMDOverrunError;
        *read += got;
    }
    return kAMDSuccess;
}

AMDStatus AFCFileRefWrite(const AFCConnectionRef& connection, AFCFileRef file, const void* bytes,
                          std::size_t length) {
    if (!usable(connection) || (!bytes && length > 0)) return kAMDInvalidArgumentError;
    const auto* in = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < length) {
        const auto give = static_cast<std::uint32_t>(std::min(length - done, kLargestRequest));
        std::uint32_t written = 0;
        if (afc_error_t error = afc_file_write(connection->afc, file, in + done, give, &written)) {
            return status(error);
        }
        if (written == 0 || written > give) return kAMDWriteError;
        done += written;
    }
    return kAMDSuccess;
}

AMDStatus AFCFileRefSetFileSize(const AFCConnectionRef& connection, AFCFileRef file,
                                std::uint64_t size) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_file_truncate(connection->afc, file, size));
}

AMDStatus AFCFileRefLock(const AFCConnectionRef& connection, AFCFileRef file, bool exclusive) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_file_lock(connection->afc, file, exclusive ? AFC_LOCK_EX : AFC_LOCK_SH));
}

AMDStatus AFCFileRefUnlock(const AFCConnectionRef& connection, AFCFileRef file) {
    if (!usable(connection)) return kAMDInvalidArgumentError;
    return status(afc_file_lock(connection->afc, file, AFC_LOCK_UN));
}

}  // namespace mobiledevice
