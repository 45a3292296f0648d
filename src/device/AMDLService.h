#pragma once

#include <memory>
#include <string>

#include "device/AMService.h"

// A service that speaks the DeviceLink conventions: a version handshake when it is made,
// then process messages answered by typed replies.
class AMDLService : public AMService {
public:
    // Starts the named service and shakes hands; null when either fails.
    static std::shared_ptr<AMDLService> create(const std::string& name,
                                               const std::shared_ptr<AMDevice>& device);
    // Over an open socket, before any handshake (the caller runs versionHandshake).
    static std::shared_ptr<AMDLService> withSocket(int socket, const std::string& name);

    // The whole reply when its first element is the expected message, else nil.
    foundation::Value waitForDLResponse(const std::string& message);
    bool versionHandshake();
    foundation::Value sendDLProcessMessageAndWaitForReply(const foundation::Value& message,
                                                          const std::string& messageType);

protected:
    bool startAndShakeHands(const std::string& name, const std::shared_ptr<AMDevice>& device);
    bool shakeHands();
};
