#include "simdevice/SimApplications.h"

#include <zlib.h>

#include <filesystem>
#include <functional>

#include "simdevice/SimAfcServer.h"
#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

struct Application {
    const char* bundleId;
    const char* displayName;  // "" as some applications leave it, the bundle name stands
    const char* bundleName;
    const char* container;
    bool fileSharing;
    bool fromStore;
};

constexpr Application kApplications[] = {
    {"com.example.reader", "Reader", "Reader", "5B0E6C3D-2F41-4E0B-9C8A-1D7E3F2A6B90", true, true},
    {"com.example.recorder", "", "Voice Memos Pro", "8C1F7D4E-3A52-4F1C-8D9B-2E8F4A3B7CA1", true,
     false},
    {"com.example.weather", "Weather Now", "WeatherNow", "9D2A8E5F-4B63-4A2D-9EAC-3F9A5B4C8DB2",
     false, true},
    {"com.example.podcasts", "Podcasts+", "Podcasts", "AE3B9F6A-5C74-4B3E-8FBD-4A0B6C5D9EC3", true,
     true},
};

const Application* findApplication(const std::string& bundleId) {
    for (const auto& app : kApplications) {
        if (bundleId == app.bundleId) return &app;
    }
    return nullptr;
}

Value recordOf(const Application& app) {
    const std::string executable = std::string(app.bundleName);
    Value record = Value::dict({
        {"CFBundleIdentifier", app.bundleId},
        {"ApplicationType", "User"},
        {"ApplicationDSID", std::int64_t{1234567890}},
        {"CFBundleExecutable", executable},
        {"CFBundleDisplayName", app.displayName},
        {"CFBundleName", app.bundleName},
        {"CFBundleIconFile", "AppIcon60x60"},
        {"CFBundleShortVersionString", "2.4.1"},
        {"CFBundleVersion", "241"},
        {"CFBundleSupportedPlatforms", Value::list({"iPhoneOS"})},
        {"CodeInfoIdentifier", app.bundleId},
        {"Container",
         std::string("/private/var/mobile/Containers/Data/Application/") + app.container},
        {"Path", std::string("/private/var/containers/Bundle/Application/") + app.container + "/" +
                     executable + ".app"},
        {"Entitlements", Value::dict({{"application-identifier", app.bundleId}})},
        {"HasSettingsBundle", false},
        {"IsUpgradeable", true},
        {"MinimumOSVersion", "15.0"},
        {"UIDeviceFamily", Value::list({1, 2})},
        {"UIFileSharingEnabled", app.fileSharing},
        {"UIStatusBarHidden", false},
        {"UISupportedInterfaceOrientations", Value::list({"UIInterfaceOrientationPortrait"})},
    });
    if (app.fromStore) record.set("SignerIdentity", "Apple iPhone OS Application Signing");
    return record;
}

Value withAttributes(const Value& record, const Value& attributes) {
    const auto* names = attributes.array();
    if (!names) return record;
    Value chosen = Value::dict({});
    for (const auto& name : *names) {
        const std::string key = name.stringOr();
        if (!record[key].isNil()) chosen.set(key, record[key]);
    }
    return chosen;
}

void appendChunk(foundation::Data& png, const char* type, const foundation::Data& body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<std::uint8_t>(length >> shift));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    const uLong crc = ::crc32(0, png.data() + start, static_cast<uInt>(png.size() - start));
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<std::uint8_t>(crc >> shift));
}

// A 60-point square in a colour of the application's own with a light diagonal band.
foundation::Data iconFor(const std::string& bundleId) {
    constexpr std::uint32_t kSide = 60;
    const std::size_t hash = std::hash<std::string>{}(bundleId);
    const std::uint8_t colour[3] = {static_cast<std::uint8_t>(hash),
                                    static_cast<std::uint8_t>(hash >> 8),
                                    static_cast<std::uint8_t>(hash >> 16)};
    foundation::Data pixels;
    for (std::uint32_t y = 0; y < kSide; ++y) {
        pixels.push_back(0);  // no filter
        for (std::uint32_t x = 0; x < kSide; ++x) {
            const bool band = (x + y) / 10 == 5;
            for (auto channel : colour) pixels.push_back(band ? 0xf0 : channel);
        }
    }
    foundation::Data packed(::compressBound(static_cast<uLong>(pixels.size())));
    uLongf packedLength = packed.size();
    ::compress(packed.data(), &packedLength, pixels.data(), static_cast<uLong>(pixels.size()));
    packed.resize(packedLength);
    foundation::Data png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const foundation::Data header = {0, 0, 0, kSide, 0, 0, 0, kSide, 8, 2, 0, 0, 0};
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

}  // namespace

Value lookupApplications(const Value& clientOptions) {
    const Value& wanted = clientOptions["BundleIDs"];
    const std::string type = clientOptions["ApplicationType"].stringOr("Any");
    Value result = Value::dict({});
    for (const auto& app : kApplications) {
        if (type != "Any" && type != "User") continue;
        if (const auto* ids = wanted.array()) {
            if (std::find(ids->begin(), ids->end(), Value(app.bundleId)) == ids->end()) continue;
        }
        result.set(app.bundleId, withAttributes(recordOf(app), clientOptions["ReturnAttributes"]));
    }
    return result;
}

foundation::Data applicationIcon(const std::string& bundleId) {
    return findApplication(bundleId) ? iconFor(bundleId) : foundation::Data();
}

namespace {

// Progress of a long operation, then its end: "Complete", or the error.
bool answerOperation(int fd, const std::string& error) {
    if (!error.empty()) return writeFramedPlist(fd, Value::dict({{"Error", error}}));
    for (const auto& [status, percent] :
         {std::pair{"CreatingStagingDirectory", 5}, std::pair{"InstallingApplication", 60}}) {
        if (!writeFramedPlist(fd, Value::dict({{"Status", status}, {"PercentComplete", percent}})))
            return false;
    }
    return writeFramedPlist(fd, Value::dict({{"Status", "Complete"}}));
}

std::string packageError(const SimDevice& device, const Value& request) {
    const std::string package = request["PackagePath"].stringOr();
    std::error_code ignored;
    const bool found = !package.empty() && package.find("..") == std::string::npos &&
                       std::filesystem::is_regular_file(
                           std::filesystem::path(device.config().root) / package, ignored);
    return found ? "" : "PackageInspectionFailed";
}

std::string operationError(SimDevice& device, const std::string& command, const Value& request) {
    const std::string id = request["ApplicationIdentifier"].stringOr();
    if (command == "Install") return packageError(device, request);
    if (command == "Upgrade" || command == "Archive") {
        if (!findApplication(id)) return "ApplicationNotInstalled";
        if (command == "Upgrade") return packageError(device, request);
    }
    const bool archived = device.services().locked([&](auto& f) {
        if (command == "Archive") f.archives.insert(id);
        if (command == "RemoveArchive") return f.archives.erase(id) > 0;
        return f.archives.count(id) > 0;
    });
    if (command == "Archive" || command == "Restore" || command == "RemoveArchive") {
        return archived ? "" : "ArchiveNotFound";
    }
    return "UnknownCommand";
}

}  // namespace

void serveInstallationProxy(SimDevice& device, int fd) {
    while (auto request = readFramedPlist(fd)) {
        device.services().record("com.apple.mobile.installation_proxy", *request);
        const std::string command = (*request)["Command"].stringOr();
        const Value found = lookupApplications((*request)["ClientOptions"]);
        if (command == "Lookup" && device.services().locked([](auto& f) { return f.endlessLookups; })) {
            // A batch of records after another, until the host hangs up or the test lets
            // the host go.
            const Value batch = Value::dict(
                {{"LookupResult", found}, {"Status", "InProgress"}, {"Padding", std::string(1 << 20, 'x')}});
            while (device.services().locked([](auto& f) { return f.endlessLookups; }) &&
                   writeFramedPlist(fd, batch)) {
            }
            return;
        } else if (command == "Lookup") {
            if (!writeFramedPlist(fd,
                                  Value::dict({{"LookupResult", found}, {"Status", "Complete"}})))
                return;
        } else if (command == "Browse") {
            Value list = Value::list({});
            for (const auto& [id, record] : *found.dictionary()) list.append(record);
            const auto total = static_cast<std::int64_t>(list.size());
            const Value page = Value::dict({{"CurrentIndex", 0},
                                            {"CurrentAmount", total},
                                            {"Total", total},
                                            {"CurrentList", list},
                                            {"Status", "BrowsingApplications"}});
            if (!writeFramedPlist(fd, page) ||
                !writeFramedPlist(fd, Value::dict({{"Status", "Complete"}})))
                return;
        } else if (command == "LookupArchives") {
            Value archives = Value::dict({});
            for (const auto& id : device.services().locked([](auto& f) { return f.archives; })) {
                archives.set(id, Value::dict({{"CFBundleIdentifier", id}}));
            }
            if (!writeFramedPlist(fd, Value::dict({{"LookupResult", archives}}))) return;
        } else if (!answerOperation(fd, operationError(device, command, *request))) {
            return;
        }
    }
}

void serveSpringboard(int fd) {
    while (auto request = readFramedPlist(fd)) {
        const std::string command = (*request)["command"].stringOr();
        Value reply = Value::dict({});
        if (command == "getIconPNGData") {
            foundation::Data png = applicationIcon((*request)["bundleId"].stringOr());
            if (!png.empty()) reply.set("pngData", std::move(png));
        } else if (command == "getIconState") {
            Value page = Value::list({});
            for (const auto& app : kApplications) {
                page.append(Value::dict({{"bundleIdentifier", app.bundleId},
                                         {"displayIdentifier", app.bundleId},
                                         {"displayName", app.bundleName}}));
            }
            reply = Value::list({Value::list({}), page});
        }
        if (!writeFramedPlist(fd, reply, true)) return;
    }
}

void serveHouseArrest(SimDevice& device, int fd) {
    auto request = readFramedPlist(fd);
    if (!request) return;
    device.services().record("com.apple.mobile.house_arrest", *request);
    const std::string command = (*request)["Command"].stringOr();
    const std::string id = (*request)["Identifier"].stringOr();
    const Application* app = findApplication(id);
    std::string error;
    if (command.empty()) {
        error = "MissingCommand";
    } else if (command != "VendContainer" && command != "VendDocuments") {
        error = "UnknownCommand";
    } else if (id.empty()) {
        error = "MissingIdentifier";
    } else if (!app) {
        error = "ApplicationLookupFailed";
    } else if (command == "VendContainer" ? app->fromStore : !app->fileSharing) {
        // Store applications hand out only their shared documents, and only when they share.
        error = "InstallationLookupFailed";
    }
    if (!error.empty()) {
        writeFramedPlist(fd, Value::dict({{"Error", error}}));
        return;
    }
    const std::filesystem::path container =
        std::filesystem::path(device.config().containersRoot) / id;
    std::error_code ignored;
    for (const char* folder : {"Documents", "Library/Preferences", "tmp"}) {
        std::filesystem::create_directories(container / folder, ignored);
    }
    if (!writeFramedPlist(fd, Value::dict({{"Status", "Complete"}}))) return;
    SimAfcServer(container.string(), device.volume(), device.afcHostility()).serve(fd);
}

}  // namespace simdevice
