#include "device/AMScreenshotService.h"

#include <vector>

#include "foundation/AtomicFile.h"

using foundation::Value;

std::shared_ptr<AMScreenshotService> AMScreenshotService::create(
    const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMScreenshotService>();
    if (!service->startAndShakeHands(kServiceName, device)) return nullptr;
    return service;
}

NSImage::Image AMScreenshotService::getScreenshot() {
    const Value reply = sendDLProcessMessageAndWaitForReply(
        Value::dict({{"MessageType", "ScreenShotRequest"}}), "ScreenShotReply");
    if (reply.isNil()) return nullptr;
    const foundation::Data* data = reply["ScreenShotData"].data();
    NSImage::Image image = data ? NSImage::safeImageWithDataIsPNG(*data, false) : nullptr;
    if (!image) setLasterror("Bad image data in ScreenShotData");
    return image;
}

bool AMScreenshotService::getScreenshotOfTypeProperties(
    const std::string& path, const std::string& type,
    const std::map<std::string, std::string>& properties) {
    NSImage::Image image = getScreenshot();
    if (!image) return false;
    std::vector<char*> keys;
    std::vector<char*> values;
    for (const auto& [key, value] : properties) {
        keys.push_back(const_cast<char*>(key.c_str()));
        values.push_back(const_cast<char*>(value.c_str()));
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    gchar* buffer = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!gdk_pixbuf_save_to_bufferv(image.get(), &buffer, &length, type.c_str(), keys.data(),
                                    values.data(), &error)) {
        setLasterror(error ? error->message : "could not encode the screenshot");
        if (error) g_error_free(error);
        return false;
    }
    std::string reason;
    const bool written = foundation::writeFileAtomically(
        path, {reinterpret_cast<const std::uint8_t*>(buffer), length}, &reason);
    g_free(buffer);
    if (!written) setLasterror(reason);
    return written;
}

bool AMScreenshotService::getPNGScreenshot(const std::string& path) {
    return getScreenshotOfTypeProperties(path, "png", {});
}

bool AMScreenshotService::getJPEGScreenshot(const std::string& path) {
    return getScreenshotOfTypeProperties(path, "jpeg", {});
}
