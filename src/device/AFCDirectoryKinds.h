#pragma once

// The kinds of device file service connection; they differ only in how they open. Each
// is made inside an open session of the device (AMDevice's factories open it) and is
// null when the service does not open.

#include <memory>
#include <string>

#include "device/AFCDirectoryAccess.h"

// The media area, "com.apple.afc".
class AFCMediaDirectory : public AFCDirectoryAccess {
public:
    static std::shared_ptr<AFCMediaDirectory> create(const std::shared_ptr<AMDevice>& device);
    using AFCDirectoryAccess::AFCDirectoryAccess;
};

// The crash reports, "com.apple.crashreportcopymobile".
class AFCCrashLogDirectory : public AFCDirectoryAccess {
public:
    static std::shared_ptr<AFCCrashLogDirectory> create(const std::shared_ptr<AMDevice>& device);
    using AFCDirectoryAccess::AFCDirectoryAccess;
};

// The whole file system, "com.apple.afc2", which only some devices offer.
class AFCRootDirectory : public AFCDirectoryAccess {
public:
    static std::shared_ptr<AFCRootDirectory> create(const std::shared_ptr<AMDevice>& device);
    using AFCDirectoryAccess::AFCDirectoryAccess;
};

// One application's container, through house arrest.
class AFCApplicationDirectory : public AFCDirectoryAccess {
public:
    static std::shared_ptr<AFCApplicationDirectory> create(const std::shared_ptr<AMDevice>& device,
                                                           const std::string& bundleId);
    // The flag does not change what opens: the container is the same either way.
    static std::shared_ptr<AFCApplicationDirectory> create(const std::shared_ptr<AMDevice>& device,
                                                           const std::string& bundleId,
                                                           bool enableFileSharing);
    using AFCDirectoryAccess::AFCDirectoryAccess;
};
