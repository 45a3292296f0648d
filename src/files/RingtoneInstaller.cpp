#include "files/RingtoneInstaller.h"

#include <filesystem>
#include <memory>
#include <utility>

#include <fmt/format.h>

#include "data/helpers/NSStringHelpers.h"
#include "device/iMobileDevice.h"
#include "files/FileSystemNode.h"
#include "foundation/AtomicFile.h"
#include "foundation/PropertyList.h"

using foundation::Value;

namespace {

constexpr const char* kLockKey = "RingtoneRegistryLock";
constexpr const char* kUnreadableRegistry =
    "The ringtone list on the device is not a property list that can be read.";

Value failure(const std::string& error) { return Value::dict({{"result", false}, {"error", error}}); }

}  // namespace

void RingtoneInstaller::addTo(std::map<std::string, Plugin::Command>& commands) {
    commands["device-add-ringtone"] = [](Plugin&, Plugin::Request& request) {
        const Value& title = request.data["title"];
        const auto name = title.isString() ? std::optional(*title.string()) : std::nullopt;
        const std::string source = request.data["source"].stringOr();
        Value answer = failure("internal error");
        const auto mediaArea = FileSystemNode::fileSystemRootNodeWithMobileDevicePath(request.device, kPurchases);
        const auto lock = registryLockOf(*request.device);
        std::lock_guard guard(*lock);
        mediaArea->performOnDevice([&](iMobileDevice& device) { answer = install(device, name, source); });
        return answer;
    };
}

std::shared_ptr<std::mutex> RingtoneInstaller::registryLockOf(iMobileDevice& device) {
    std::lock_guard guard(device.objectLock());
    const std::any kept = device.userInfoForKey(kLockKey);
    if (const auto* lock = std::any_cast<std::shared_ptr<std::mutex>>(&kept)) return *lock;
    auto lock = std::make_shared<std::mutex>();
    device.setUserInfoForKey(lock, kLockKey);
    return lock;
}

Value RingtoneInstaller::install(iMobileDevice& device, const std::optional<std::string>& title,
                                 const std::string& source) {
    bool isDirectory = false;
    if (!device.itemExistsAtPathIsDirectory(kPurchases, &isDirectory)) {
        if (!device.createDirectory(kPurchases)) return failure("Failed to create purchases folder on device.");
    } else if (!isDirectory) {
        return failure("file \"/Purchases\" exists on device.");
    }
    Value registry;
    if (const std::string error = loadRegistry(device, registry); !error.empty()) return failure(error);

    const std::string guid = NSString::guid();
    const std::string fileName = fmt::format("import_{}.m4r", guid);
    const std::string devicePath = fmt::format("{}/{}", kPurchases, fileName);
    Value ringtones = registry["Ringtones"].isDictionary() ? registry["Ringtones"] : Value(foundation::Dictionary{});
    if (!device.uploadFileFrom(devicePath, source)) return failure("Failed to transfer ringtone file to device.");
    ringtones.set(fileName, Value::dict({{"Name", title.value_or("Ringtones")},
                                         {"Purchased", false},
                                         {"Total Time", std::int64_t{0}},
                                         {"Protected Content", false},
                                         {"GUID", guid}}));
    registry.set("Ringtones", std::move(ringtones));

    std::string error;
    const auto bytes = foundation::plist::writeBinary(registry, &error);
    if (!bytes || !device.writeDataToPath(*bytes, kRegistry)) {
        device.deleteItemAtPath(devicePath);
        if (bytes) return failure("Failed to update ringtones configuration");
        return failure(error.empty() ? "Failed to create PropertyList" : error);
    }
    return Value::dict({{"result", true}});
}

std::string RingtoneInstaller::loadRegistry(iMobileDevice& device, Value& registry) {
    bool isDirectory = false;
    if (!device.itemExistsAtPathIsDirectory(kRegistry, &isDirectory)) {
        registry = foundation::Dictionary{};
        return {};
    }
    if (isDirectory) return "internal error";
    const auto bytes = device.contentsOfFileAtPathWithin(kRegistry, Plugin::kMaxReadBytes);
    if (!bytes || bytes->empty()) return "Failed to read data of purchases.plist";
    if (!device.itemExistsAtPath(kBackup)) {
        if (std::string error = backUp(device, *bytes); !error.empty()) return error;
    }
    auto parsed = foundation::plist::read(std::span<const std::uint8_t>(*bytes));
    // Anything but a dictionary, or a "Ringtones" that is not one, would lose what the
    // device keeps there once written back.
    if (!parsed || !parsed->isDictionary()) return kUnreadableRegistry;
    const Value& ringtones = (*parsed)["Ringtones"];
    if (!ringtones.isNil() && !ringtones.isDictionary()) return kUnreadableRegistry;
    registry = std::move(*parsed);
    return {};
}

std::string RingtoneInstaller::backUp(iMobileDevice& device, const foundation::Data& bytes) {
    const std::string temporary = Plugin::getTempFilepathWithPrefix("purchases");
    if (!foundation::writeFileAtomically(temporary, bytes)) return "Failed to write tmp file";
    const bool copied = device.uploadFileFrom(kBackup, temporary);
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return copied ? std::string() : "failed to write purchase.plist.bak";
}
