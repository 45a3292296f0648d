#include "device/AMSpringboardServices.h"

using foundation::Value;

namespace {
constexpr const char* kSpringboardService = "com.apple.springboardservices";
}

std::shared_ptr<AMSpringboardServices> AMSpringboardServices::create(
    const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMSpringboardServices>();
    if (!service->startOnDevice(kSpringboardService, device)) return nullptr;
    return service;
}

Value AMSpringboardServices::getIconPNGData(const std::string& bundleId) {
    return sendRequestAndWaitForSingleReply(
        Value::dict({{"command", "getIconPNGData"}, {"bundleId", bundleId}}));
}

NSImage::Image AMSpringboardServices::getIcon(const std::string& bundleId) {
    const Value reply = getIconPNGData(bundleId);
    const foundation::Data* png = reply["pngData"].data();
    if (!png) return nullptr;
    return NSImage::safeImageWithDataIsPNG(*png, true);
}

Value AMSpringboardServices::getIconState() {
    return sendRequestAndWaitForSingleReply(Value::dict({{"command", "getIconState"}}));
}
