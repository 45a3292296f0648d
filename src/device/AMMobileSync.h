#pragma once

#include <memory>

#include "device/AMService.h"

// The device's sync service, over DeviceLink: the version exchange when it is made, a
// contact request, and a parting message when it goes.
class AMMobileSync : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.mobilesync";

    static std::shared_ptr<AMMobileSync> create(const std::shared_ptr<AMDevice>& device);
    ~AMMobileSync() override;

    // Asks for every contact record and logs the answer; there is never a result.
    foundation::Value getContactData();

private:
    void exchangeVersions();
};
