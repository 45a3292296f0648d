#pragma once

#include <cstdint>
#include <memory>

#include "foundation/PartialFiles.h"

// Told about a running transfer. A phone asks shouldContinue and then reports
// transferBytesOfTotal after every chunk, on the transferring thread and with the device's
// lock held: a delegate must not call file operations of the same device from inside.
// A disk-mode iPod asks shouldContinue after every piece and reports progress at most ten
// times a second. Both have defaults, so a delegate overrides
// only what it needs; the default shouldContinue answers true.
class iMobileDeviceCopyDelegate {
public:
    virtual ~iMobileDeviceCopyDelegate() = default;
    virtual void transferBytesOfTotal(std::int64_t /*bytes*/, std::int64_t /*total*/) {}
    virtual bool shouldContinue() { return true; }
    // Where the transfer keeps the partial file it writes on the computer, so that someone
    // else can take it away while the transfer waits for its device; null keeps it private.
    virtual std::shared_ptr<foundation::PartialFiles> partialFiles() { return nullptr; }
};
