#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "foundation/Value.h"

// One installed application, from a record of the device's application lookup.
// Immutable; copies are cheap.
class AMApplication {
public:
    explicit AMApplication(foundation::Value info);

    const std::string& bundleid() const { return bundleid_; }
    // The display name, else the bundle name, else the executable's; nullopt without any.
    const std::optional<std::string>& appname() const { return appname_; }
    const foundation::Value& info() const { return info_; }
    // The container path on the device.
    std::string appdir() const;
    // "appname" and "bundleid" from the fields, other keys from the record.
    foundation::Value valueForKey(const std::string& key) const;
    std::string description() const;
    std::size_t hash() const;
    // Names compared without regard to case; a missing name sorts first.
    int compare(const AMApplication& other) const;
    bool isEqual(const AMApplication& other) const { return compare(other) == 0; }

    bool fileSharingEnabled() const;
    bool isFromAppStore() const;

private:
    foundation::Value info_;
    std::optional<std::string> appname_;
    std::string bundleid_;
};
