#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/AFCFileReference.h"
#include "foundation/Value.h"
#include "platform/mobiledevice/FileService.h"

class AMDevice;

// One opened device file service: the media area, the crash reports, the whole file
// system or an application's container (the kinds differ only in how they open). No
// locking of its own: the device's lock serialises every call. Failures answer false,
// nil, nullopt or null and leave words in lasterror(); a success clears them.
class AFCDirectoryAccess {
public:
    // Takes over an opened connection; the kinds open it (AFCDirectoryKinds.h).
    AFCDirectoryAccess(const std::shared_ptr<AMDevice>& device, std::string servicename,
                       mobiledevice::AFCConnectionRef afc);
    virtual ~AFCDirectoryAccess();
    AFCDirectoryAccess(const AFCDirectoryAccess&) = delete;
    AFCDirectoryAccess& operator=(const AFCDirectoryAccess&) = delete;

    // File information (see AFCFileInfo); nil when missing.
    foundation::Value getFileInfo(const std::string& path);
    bool fileExistsAtPath(const std::string& path);
    // The service's file-system information ("FSTotalBytes", "FSFreeBytes", ...).
    foundation::Value deviceInfo();
    // Entry names in the service's order without "." and "..". A name the device should
    // never send (empty, with "/" or NUL, or "..") fails the listing.
    std::optional<std::vector<std::string>> directoryContents(const std::string& path);
    // The path and everything below, folders with a trailing "/", sorted.
    std::optional<std::vector<std::string>> recursiveDirectoryContents(const std::string& path);
    bool mkdir(const std::string& path);
    bool unlink(const std::string& path);
    bool renameTo(const std::string& oldPath, const std::string& newPath);
    bool linkTo(const std::string& path, const std::string& target);
    bool symlinkTo(const std::string& path, const std::string& target);
    bool setmodtimeTo(const std::string& path, foundation::Date date);

    // Reading only; writing from the start with the old content dropped; reading and
    // writing keeping the content; writing at the end keeping the content.
    std::unique_ptr<AFCFileReference> openForRead(const std::string& path);
    std::unique_ptr<AFCFileReference> openForWrite(const std::string& path);
    std::unique_ptr<AFCFileReference> openForReadWrite(const std::string& path);
    std::unique_ptr<AFCFileReference> openForAppend(const std::string& path);

    // Whole-file copies that never overwrite and leave no partial file behind. Progress
    // goes out as "AFCFileCopyBegin", "AFCFileCopyProgress" and "AFCFileCopyDone".
    bool copyLocalFileToRemoteFile(const std::string& localPath, const std::string& remotePath);
    bool copyLocalFileToRemoteDir(const std::string& localPath, const std::string& remoteDir);
    bool copyRemoteFileToLocalFile(const std::string& remotePath, const std::string& localPath);
    std::optional<foundation::Data> contentOfFile(const std::string& path);

    void close();
    bool isOpen() const { return afc_ != nullptr; }
    const std::string& lasterror() const { return lasterror_; }
    void setLasterror(std::string text) { lasterror_ = std::move(text); }
    const std::string& servicename() const { return servicename_; }
    std::shared_ptr<AMDevice> device() const { return device_.lock(); }

private:
    bool checkStatus(mobiledevice::AMDStatus status, const char* function, int line);
    bool checkPath(const std::string& path);
    bool checkOpen();
    // Runs a prepared request; the service's refusal leaves its own words in lasterror().
    bool runOperation(const mobiledevice::AFCOperationRef& operation);
    std::unique_ptr<AFCFileReference> open(const std::string& path, mobiledevice::AFCFileMode mode);
    bool walk(const std::string& path, std::vector<std::string>& found, int depth);

    std::weak_ptr<AMDevice> device_;
    std::string servicename_;
    mobiledevice::AFCConnectionRef afc_;
    std::string lasterror_;
};
