#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/Value.h"
#include "platform/mobiledevice/FileService.h"

// One open device file, made by the open operations of AFCDirectoryAccess. It keeps its
// connection alive and closes the file when released. No locking: the device's lock
// serialises every use. Failures leave words in lasterror() and the framework status in
// laststatus().
class AFCFileReference {
public:
    AFCFileReference(std::string path, mobiledevice::AFCFileRef reference,
                     mobiledevice::AFCConnectionRef afc);
    ~AFCFileReference();
    AFCFileReference(const AFCFileReference&) = delete;
    AFCFileReference& operator=(const AFCFileReference&) = delete;

    bool closeFile();
    bool seekMode(std::int64_t offset, int mode);
    bool tell(std::uint64_t* position);
    // Up to `count` bytes, fewer only at the end of the file: the count read, 0 at the
    // end, -1 on failure, so that a failed read is never taken for the end.
    std::int64_t readNBytes(std::size_t count, void* bytes);
    // Writes all bytes or fails; 0 bytes succeed without a call.
    bool writeNBytes(std::size_t count, const void* bytes);
    bool writeNSData(const foundation::Data& data);
    bool setFileSize(std::uint64_t size);
    // The out status is -900 when the file is not open, else the framework's.
    bool lock(int* status = nullptr);
    bool unlock(int* status = nullptr);

    bool isOpen() const { return reference_ != 0; }
    const std::string& path() const { return path_; }
    const std::string& lasterror() const { return lasterror_; }
    mobiledevice::AMDStatus laststatus() const { return laststatus_; }

private:
    bool checkStatus(mobiledevice::AMDStatus status, const char* function, int line);
    bool checkOpen();

    std::string path_;
    mobiledevice::AFCFileRef reference_;
    mobiledevice::AFCConnectionRef afc_;
    std::string lasterror_;
    mobiledevice::AMDStatus laststatus_ = 0;
};
