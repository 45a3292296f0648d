#pragma once

#include <map>
#include <memory>
#include <string>

#include "content/NSImage.h"
#include "device/AMDLService.h"

// The device's screenshot service, over DeviceLink: the screen as image data.
class AMScreenshotService : public AMDLService {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.screenshotr";

    static std::shared_ptr<AMScreenshotService> create(const std::shared_ptr<AMDevice>& device);

    // The screen as the device sends it; empty with lasterror set when it does not come or
    // is no image.
    NSImage::Image getScreenshot();
    // Writes the screenshot to the path in the image type ("png", "jpeg") with the
    // encoder's options, replacing the file only once all of it is written. False with
    // lasterror set when there is no screenshot or it cannot be written.
    bool getScreenshotOfTypeProperties(const std::string& path, const std::string& type,
                                       const std::map<std::string, std::string>& properties);
    bool getPNGScreenshot(const std::string& path);
    bool getJPEGScreenshot(const std::string& path);
};
