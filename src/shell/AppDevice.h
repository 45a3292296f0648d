#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the application shell reads of a connected device to describe it to the page. The
// device layer's devices are such objects; the shell knows nothing more of them.
class AppDevice {
public:
    virtual ~AppDevice() = default;
    // 512 disk-mode iPod, 513 iPod touch, 514 iPhone, 515 iPad, -1 any other.
    virtual std::int32_t deviceType() = 0;
    virtual std::string name() = 0;
    virtual std::uint64_t capacity() = 0;
    virtual std::uint64_t freeCapacity() = 0;
    virtual std::optional<std::string> serialNumber() = 0;
    virtual std::optional<std::string> phoneNumber() = 0;
    virtual std::optional<std::string> modelNumber() = 0;
    virtual std::optional<std::string> firmwareVersion() = 0;
    virtual std::optional<std::string> osVersion() = 0;
    virtual std::optional<std::string> buildVersion() = 0;
    // The identifier the page and every registry use.
    virtual std::string uuid() const = 0;
    virtual std::int32_t lastErrorCode() = 0;
    // Words for a status of the device service, for the page (which never shows a bare code).
    virtual std::string statusText(std::int32_t /*code*/) { return {}; }
};
