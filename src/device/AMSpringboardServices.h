#pragma once

#include <memory>
#include <string>

#include "content/NSImage.h"
#include "device/AMService.h"

// The device's springboard service: application icons as PNG data and the home screen's
// icon layout. One request and one reply each; made inside a session by
// AMDevice::newAMSpringboardServices.
class AMSpringboardServices : public AMService {
public:
    static std::shared_ptr<AMSpringboardServices> create(const std::shared_ptr<AMDevice>& device);

    // The reply dictionary (PNG bytes under "pngData"), or nil.
    foundation::Value getIconPNGData(const std::string& bundleId);
    // The icon decoded from that reply's "pngData"; empty without a reply or data.
    NSImage::Image getIcon(const std::string& bundleId);
    foundation::Value getIconState();
};
