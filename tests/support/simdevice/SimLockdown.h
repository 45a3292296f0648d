#pragma once

#include <memory>
#include <string>

#include "foundation/Value.h"
#include "simdevice/SimDevice.h"
#include "simdevice/SimLink.h"

namespace simdevice {

inline constexpr std::uint16_t kLockdownPort = 62078;
// The lockdown service's name, as its QueryType gives it.
inline constexpr const char* kLockdownService = "com.apple.mobile.lockdown";

// One connection to the device's lockdown service. A session switches TLS on (unless the
// device is set not to) with the host's pair-record certificate, and its end switches it
// off again. serve() answers requests until the peer leaves or a hook drops the line.
class SimLockdown {
public:
    SimLockdown(std::shared_ptr<SimDevice> device, int fd);
    void serve();

private:
    // The answer to one request; nil means "close the connection".
    foundation::Value answer(const foundation::Value& request);
    foundation::Value getValue(const foundation::Value& request);
    foundation::Value startSession(const foundation::Value& request);
    foundation::Value stopSession(const foundation::Value& request);
    foundation::Value pair(const foundation::Value& request);
    foundation::Value validatePair(const foundation::Value& request);
    foundation::Value unpair(const foundation::Value& request);
    foundation::Value startService(const foundation::Value& request);

    std::shared_ptr<SimDevice> device_;
    SimLink link_;
    std::string sessionId_;
    std::string sessionHost_;  // the host the session was started for
};

}  // namespace simdevice
