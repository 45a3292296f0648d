#include "device/iPhoneDevice.h"

#include <sys/stat.h>

#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "device/AFCDirectoryKinds.h"
#include "device/AFCFileInfo.h"
#include "device/AMDevice.h"
#include "device/AMSpringboardServices.h"
#include "foundation/PathComponents.h"
#include "foundation/PropertyList.h"
#include "foundation/ReplacingFileWriter.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {

constexpr const char* kDiskUsageDomain = "com.apple.disk_usage";

// A short name of its own in the destination's folder under which a file grows until it
// is whole; a destination whose name is near the longest a folder takes can still be made.
std::string partialName(const std::string& destination) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    return foundation::appendingPathComponent(foundation::deletingLastPathComponent(destination),
                                              fmt::format(".partial-{:016x}", random()));
}

// Whole seconds since 1970 of a nanosecond count or a date.
std::optional<double> wholeSeconds(const Value& value) {
    if (const auto* date = value.date()) return static_cast<double>(static_cast<std::int64_t>(date->secondsSince1970));
    if (const auto nanoseconds = value.toInt64(); nanoseconds && value.isNumber()) {
        return static_cast<double>(*nanoseconds / 1000000000);
    }
    return std::nullopt;
}

// The leading decimal number of a version: "8.4.1" reads as 8.4, whatever the locale's
// decimal mark.
double leadingVersion(std::string_view version) {
    while (!version.empty() && (version.front() == ' ' || version.front() == '\t')) version.remove_prefix(1);
    double number = 0;
    std::from_chars(version.data(), version.data() + version.size(), number);
    return number;
}

}  // namespace

iPhoneDevice::iPhoneDevice() = default;

iPhoneDevice::~iPhoneDevice() = default;

bool iPhoneDevice::createWithDeviceEnableAfc2(const std::shared_ptr<AMDevice>& device, bool) {
    isAFC2Mode_ = false;
    {
        std::lock_guard cache(cacheLock_);
        deviceInfo_ = Value();
    }
    // Every lockdown session costs the TLS handshake's wait: the test, the values and the
    // media connection that connect() makes current all share one.
    AMDevice::HeldSession session(device);
    if (device) {
        // Ordinary phones refuse the whole-file-system service: asking is no failure of
        // the device, and its refusal does not become the device's last error.
        const std::int32_t code = device->lastcode();
        const std::string text = device->lasterror();
        if (device->newAFCRootDirectory()) {
            isAFC2Mode_ = true;
            isJailbreak_ = true;
        } else {
            device->setLastcode(code);
            device->setLasterror(text);
        }
    }
    phoneDevice_ = device;
    loadAttributes();
    auto media = device ? device->newAFCMediaDirectory() : nullptr;
    std::lock_guard service(serviceLock_);
    spareMedia_ = std::move(media);
    return true;
}

std::shared_ptr<AFCMediaDirectory> iPhoneDevice::newMediaService() {
    if (spareMedia_) return std::move(spareMedia_);
    return phoneDevice_ ? phoneDevice_->newAFCMediaDirectory() : nullptr;
}

bool iPhoneDevice::isEqualToDevice(const std::shared_ptr<AMDevice>& device) const {
    return device && device == phoneDevice_;
}

// One session for the whole global domain and the disk usage; keys the domain lacks are
// asked one by one later by attributeForKey().
void iPhoneDevice::loadAttributes() {
    if (!phoneDevice_) return;
    const Value all = phoneDevice_->deviceValueForKeyInDomain({}, {});
    const Value usage = phoneDevice_->allDeviceValuesForDomain(kDiskUsageDomain);
    std::lock_guard cache(cacheLock_);
    if (const auto* values = all.dictionary()) {
        for (const auto& [key, value] : *values) attributes_.set(key, value);
    }
    if (usage.isDictionary()) diskUsage_ = usage;
}

Value iPhoneDevice::cachedAttribute(const std::string& key) const {
    std::lock_guard cache(cacheLock_);
    const Value& cached = attributes_[key];
    return cached.isNil() ? Value("") : cached;
}

bool iPhoneDevice::hasAttributes() {
    std::lock_guard cache(cacheLock_);
    const auto* values = attributes_.dictionary();
    return values && !values->empty();
}

bool iPhoneDevice::reloadAttributes() {
    {
        std::lock_guard cache(cacheLock_);
        deviceInfo_ = Value();
    }
    loadAttributes();
    return hasAttributes();
}

Value iPhoneDevice::attributeForKey(const std::string& key) {
    {
        std::lock_guard cache(cacheLock_);
        const Value& cached = attributes_[key];
        if (!cached.isNil()) return cached;
    }
    // Asked outside the cache's lock, which the device's description takes.
    Value value = phoneDevice_ ? phoneDevice_->deviceValueForKey(key) : Value();
    if (value.isNil()) return Value("");
    std::lock_guard cache(cacheLock_);
    attributes_.set(key, value);
    return value;
}

std::shared_ptr<AFCDirectoryAccess> iPhoneDevice::currentService() {
    std::lock_guard service(serviceLock_);
    return currentService_.lock();
}

void iPhoneDevice::setCurrentService(const std::shared_ptr<AFCDirectoryAccess>& service) {
    std::lock_guard lock(serviceLock_);
    currentService_ = service;
}

std::shared_ptr<AFCMediaDirectory> iPhoneDevice::afcService() {
    std::lock_guard lock(serviceLock_);
    return afcService_;
}

void iPhoneDevice::setAfcService(const std::shared_ptr<AFCMediaDirectory>& service) {
    std::lock_guard lock(serviceLock_);
    afcService_ = service;
}

iPhoneDevice::AppServices iPhoneDevice::appServices() {
    std::lock_guard lock(serviceLock_);
    return appServices_;
}

void iPhoneDevice::setAppServices(AppServices services) {
    std::lock_guard lock(serviceLock_);
    appServices_ = std::move(services);
}

namespace {

// The service a performOnService() call on this thread works on, by device.
thread_local std::vector<std::pair<const iPhoneDevice*, std::shared_ptr<AFCDirectoryAccess>>>
    pinnedServices;

}  // namespace

std::shared_ptr<AFCDirectoryAccess> iPhoneDevice::serviceForCall() {
    for (auto it = pinnedServices.rbegin(); it != pinnedServices.rend(); ++it) {
        if (it->first == this) return it->second;
    }
    return currentService();
}

template <class Result, class Call>
Result iPhoneDevice::locked(Result failed, Call&& call) {
    auto service = serviceForCall();
    if (!service) return failed;
    std::lock_guard access(accessLock_);
    return call(*service);
}

Value iPhoneDevice::itemInfoAtPath(const std::string& path) {
    const std::string full = fullPath(path);
    return locked(Value(), [&](AFCDirectoryAccess& service) { return service.getFileInfo(full); });
}

Value iPhoneDevice::getDeviceInfo() {
    std::lock_guard cache(cacheLock_);
    return deviceInfo_.size() > 0 ? deviceInfo_ : Value(foundation::Dictionary());
}

void iPhoneDevice::keepDeviceInfoOf(AFCDirectoryAccess& media) {
    {
        std::lock_guard cache(cacheLock_);
        if (deviceInfo_.size() > 0) return;
    }
    Value info = media.deviceInfo();
    if (info.size() == 0) return;  // asked again with the next media connection
    std::lock_guard cache(cacheLock_);
    deviceInfo_ = std::move(info);
}

std::string iPhoneDevice::fullPath(const std::string& path) const {
    return foundation::appendingPathComponent("/", path);
}

std::uint64_t iPhoneDevice::getSizeOfItemAtPath(const std::string& path) {
    const auto size = itemInfoAtPath(path)["st_size"].toInt64();
    return size && *size > 0 ? static_cast<std::uint64_t>(*size) : 0;
}

foundation::Date iPhoneDevice::creationDateOfItemAtPath(const std::string& path) {
    const Value info = itemInfoAtPath(path);
    auto seconds = wholeSeconds(info["st_ctime"]);
    if (!seconds) seconds = wholeSeconds(info["st_birthtime"]);
    return {seconds.value_or(0)};
}

foundation::Date iPhoneDevice::modificationDateOfItemAtPath(const std::string& path) {
    return {wholeSeconds(itemInfoAtPath(path)["st_mtime"]).value_or(0)};
}

bool iPhoneDevice::createDirectory(const std::string& path) {
    const std::string full = fullPath(path);
    return locked(false, [&](AFCDirectoryAccess& service) { return service.mkdir(full); });
}

bool iPhoneDevice::renameItemAtPathTo(const std::string& path, const std::string& newName) {
    const std::string parent = foundation::deletingLastPathComponent(path);
    const std::string target = newName.find(parent) == std::string::npos
                                   ? foundation::appendingPathComponent(parent, newName)
                                   : newName;
    const std::string from = fullPath(path);
    const std::string to = fullPath(target);
    return locked(false, [&](AFCDirectoryAccess& service) { return service.renameTo(from, to); });
}

bool iPhoneDevice::deleteItemAtPath(const std::string& path) {
    const std::string full = fullPath(path);
    return locked(false, [&](AFCDirectoryAccess& service) { return service.unlink(full); });
}

bool iPhoneDevice::itemExistsAtPathIsDirectory(const std::string& path, bool* isDirectory) {
    if (isDirectory) *isDirectory = false;
    const std::string full = fullPath(path);
    const bool exists =
        locked(false, [&](AFCDirectoryAccess& service) { return service.fileExistsAtPath(full); });
    if (exists && isDirectory) *isDirectory = isDirectoryAtPath(path);
    return exists;
}

bool iPhoneDevice::isDirectoryAtPath(const std::string& path) {
    const std::string last = foundation::lastPathComponent(path);
    if (last == "." || last == "..") return true;
    return NSDictionary::isDirectory(itemInfoAtPath(path));
}

bool iPhoneDevice::isLinkAtPath(const std::string& path) {
    return NSDictionary::isSymLink(itemInfoAtPath(path));
}

std::vector<iMobileFileSystemNode> iPhoneDevice::contentsOfDirectoryPathType(
    const std::string& path, std::int32_t pathType) {
    const std::string full = fullPath(path);
    const auto names = locked(std::optional<std::vector<std::string>>(),
                              [&](AFCDirectoryAccess& service) { return service.directoryContents(full); });
    if (!names) return {};
    std::vector<iMobileFileSystemNode> folders;
    std::vector<iMobileFileSystemNode> files;
    for (const auto& name : *names) {
        const bool folder = isDirectoryAtPath(foundation::appendingPathComponent(full, name));
        (folder ? folders : files).emplace_back(name, full, folder);
    }
    return arrangeByPathType(std::move(folders), std::move(files), pathType);
}

std::vector<iMobileDirectoryEntry> iPhoneDevice::contentsOfDirectoryWithAttributes(
    const std::string& path) {
    const std::string full = fullPath(path);
    const auto names = locked(std::optional<std::vector<std::string>>(),
                              [&](AFCDirectoryAccess& service) { return service.directoryContents(full); });
    if (!names) return {};
    std::vector<iMobileDirectoryEntry> folders;
    std::vector<iMobileDirectoryEntry> files;
    for (const auto& name : *names) {
        if (name == "." || name == "..") continue;
        const Value info = itemInfoAtPath(foundation::appendingPathComponent(full, name));
        if (info.size() == 0) continue;  // gone since the folder was read
        const bool folder = NSDictionary::isDirectory(info);
        auto created = wholeSeconds(info["st_ctime"]);
        if (!created) created = wholeSeconds(info["st_birthtime"]);
        const auto size = info["st_size"].toInt64();
        iMobileItemAttributes attributes{folder,
                                         !folder && size && *size > 0 ? static_cast<std::uint64_t>(*size) : 0,
                                         {created.value_or(0)},
                                         {wholeSeconds(info["st_mtime"]).value_or(0)}};
        (folder ? folders : files).push_back({{name, full, folder}, attributes});
    }
    folders.insert(folders.end(), std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()));
    return folders;
}

bool iPhoneDevice::finishOf(const CopyDelegate& delegate, std::int64_t done, std::int64_t total) {
    if (!delegate) return true;
    const bool keepGoing = delegate->shouldContinue();
    delegate->transferBytesOfTotal(done, total);
    return keepGoing;
}

bool iPhoneDevice::uploadFileFrom(const std::string& devicePath, const std::string& computerPath,
                                  const CopyDelegate& delegate) {
    const std::string destination = fullPath(devicePath);
    std::ifstream source(computerPath, std::ios::binary);
    struct stat info {};
    if (!source || ::stat(computerPath.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    const auto total = static_cast<std::int64_t>(info.st_size);
    auto service = serviceForCall();
    if (!service) return false;
    const std::string partial = partialName(destination);
    std::lock_guard access(accessLock_);
    auto target = service->openForWrite(partial);
    if (!target) return false;
    std::vector<char> buffer(kChunkSize);
    std::int64_t done = 0;
    bool whole = true;
    while (whole) {
        source.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<std::size_t>(source.gcount());
        if (got == 0) {
            whole = !source.bad();
            break;
        }
        whole = target->writeNBytes(got, buffer.data());
        if (!whole) break;
        done += static_cast<std::int64_t>(got);
        whole = finishOf(delegate, done, total);
    }
    whole = target->closeFile() && whole;
    if (whole) whole = service->renameTo(partial, destination);
    if (!whole) {
        service->unlink(partial);
        return false;
    }
    finishOf(delegate, 100, 100);
    return true;
}

bool iPhoneDevice::downloadFileTo(const std::string& devicePath, const std::string& computerPath,
                                  const CopyDelegate& delegate) {
    const std::string sourcePath = fullPath(devicePath);
    auto service = serviceForCall();
    if (!service) return false;
    std::lock_guard access(accessLock_);
    const auto total = service->getFileInfo(sourcePath)["st_size"].toInt64().value_or(0);
    auto source = service->openForRead(sourcePath);
    if (!source) return false;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(computerPath).parent_path(), ignored);
    foundation::ReplacingFileWriter target(computerPath,
                                           delegate ? delegate->partialFiles() : nullptr);
    if (!target.open()) return false;
    std::vector<std::uint8_t> buffer(kChunkSize);
    std::int64_t done = 0;
    while (true) {
        const std::int64_t got = source->readNBytes(buffer.size(), buffer.data());
        if (got < 0) return false;
        if (got == 0) break;
        if (!target.append(buffer.data(), static_cast<std::size_t>(got))) return false;
        done += got;
        if (!finishOf(delegate, done, total)) return false;
    }
    return target.commit();
}

std::optional<foundation::Data> iPhoneDevice::contentsOfFileAtPath(const std::string& path) {
    return readFileAtPathOffsetLength(path, 0, UINT64_MAX);
}

std::optional<foundation::Data> iPhoneDevice::readFileAtPathOffsetLength(const std::string& path,
                                                                         std::uint64_t offset,
                                                                         std::uint64_t length) {
    const std::string full = fullPath(path);
    using Result = std::optional<foundation::Data>;
    return locked(Result(), [&](AFCDirectoryAccess& service) -> Result {
        auto file = service.openForRead(full);
        if (!file) return std::nullopt;
        if (offset > INT64_MAX || !file->seekMode(static_cast<std::int64_t>(offset), 0)) {
            return std::nullopt;
        }
        foundation::Data content;
        while (content.size() < length) {
            const std::size_t start = content.size();
            const auto ask = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, length - start));
            content.resize(start + ask);
            const std::int64_t got = file->readNBytes(ask, content.data() + start);
            if (got < 0) return std::nullopt;
            content.resize(start + static_cast<std::size_t>(got));
            if (static_cast<std::size_t>(got) < ask) break;  // the end of the file
        }
        return content;
    });
}

bool iPhoneDevice::writeDataToPath(const foundation::Data& data, const std::string& path) {
    // Written under a name of its own and renamed over the old file only when whole, so
    // that a write failing part-way (a full device) leaves the old content in place.
    const std::string full = fullPath(path);
    const std::string partial = partialName(full);
    return locked(false, [&](AFCDirectoryAccess& service) {
        auto file = service.openForWrite(partial);
        if (!file) return false;
        bool written = file->writeNSData(data);
        written = file->closeFile() && written && service.renameTo(partial, full);
        if (!written) service.unlink(partial);
        return written;
    });
}

bool iPhoneDevice::appendDataToPath(const foundation::Data& data, const std::string& path) {
    const std::string full = fullPath(path);
    return locked(false, [&](AFCDirectoryAccess& service) {
        auto file = service.openForAppend(full);
        if (!file) return false;
        const bool written = file->writeNSData(data);
        return file->closeFile() && written;
    });
}

std::int32_t iPhoneDevice::deviceType() {
    const std::string product = cachedAttribute("ProductType").stringOr();
    if (product.find("iPod") != std::string::npos) return kDeviceTypeiPodTouch;
    if (product.find("iPhone") != std::string::npos) return kDeviceTypeiPhone;
    if (product.find("iPad") != std::string::npos) return kDeviceTypeiPad;
    return kDeviceTypeOther;
}

std::string iPhoneDevice::name() { return cachedAttribute("DeviceName").stringOr(); }
std::optional<std::string> iPhoneDevice::serialNumber() {
    return cachedAttribute("SerialNumber").stringOr();
}
std::optional<std::string> iPhoneDevice::phoneNumber() {
    return cachedAttribute("PhoneNumber").stringOr();
}
std::optional<std::string> iPhoneDevice::modelNumber() {
    return cachedAttribute("ModelNumber").stringOr();
}
std::optional<std::string> iPhoneDevice::firmwareVersion() {
    return cachedAttribute("FirmwareVersion").stringOr();
}
std::optional<std::string> iPhoneDevice::osVersion() {
    return cachedAttribute("ProductVersion").stringOr();
}
std::optional<std::string> iPhoneDevice::buildVersion() {
    return cachedAttribute("BuildVersion").stringOr();
}

std::optional<std::uint64_t> iPhoneDevice::diskUsage(const char* key) const {
    std::lock_guard cache(cacheLock_);
    return diskUsage_[key].toUInt64();
}

std::uint64_t iPhoneDevice::capacity() {
    if (const auto total = getDeviceInfo()["FSTotalBytes"].toUInt64()) return *total;
    return diskUsage("TotalDataCapacity").value_or(0);
}

std::uint64_t iPhoneDevice::freeCapacity() {
    if (const auto free = getDeviceInfo()["FSFreeBytes"].toUInt64()) return *free;
    return diskUsage("AmountDataAvailable").value_or(0);
}

std::string iPhoneDevice::uuid() const { return phoneDevice_ ? phoneDevice_->udid() : std::string(); }

Value iPhoneDevice::deviceValueForKeyInDomain(const std::string& key, const std::string& domain) {
    return phoneDevice_ ? phoneDevice_->deviceValueForKeyInDomain(key, domain) : Value();
}

bool iPhoneDevice::paired() { return phoneDevice_ && phoneDevice_->paired(); }
bool iPhoneDevice::pair() { return phoneDevice_ && phoneDevice_->pair(); }
bool iPhoneDevice::unpair() { return phoneDevice_ && phoneDevice_->unpair(); }

void iPhoneDevice::resetService() {
    std::lock_guard service(serviceLock_);
    currentService_.reset();
}

std::int32_t iPhoneDevice::lastErrorCode() { return phoneDevice_ ? phoneDevice_->lastcode() : 0; }

bool iPhoneDevice::connect(bool keepCurrent) {
    std::lock_guard service(serviceLock_);
    if (!keepCurrent) {
        // A fresh connection, or none: a phone that refuses one is not shown as connected.
        // The file tree makes one anew when it next lists.
        afcService_ = newMediaService();
        if (afcService_) keepDeviceInfoOf(*afcService_);
        currentService_ = afcService_;
    }
    return !currentService_.expired();
}

bool iPhoneDevice::changeServiceFileSharingEnabled(const std::string& service, bool) {
    std::lock_guard serviceLock(serviceLock_);
    if (service == kMediaService || service == "/") {
        const auto current = currentService_.lock();
        if (!current || current != afcService_) {
            if (!afcService_) {
                afcService_ = newMediaService();
                if (afcService_) keepDeviceInfoOf(*afcService_);
            }
            currentService_ = afcService_;
        }
    } else if (service != kRootService) {
        auto& cached = appServices_[service];
        if (!cached && phoneDevice_) cached = phoneDevice_->newAFCApplicationDirectory(service);
        currentService_ = cached;
        if (!cached) appServices_.erase(service);
    }
    return !currentService_.expired();
}

bool iPhoneDevice::performOnService(const std::string& service, bool fileSharingEnabled,
                                    const std::function<void()>& work) {
    std::shared_ptr<AFCDirectoryAccess> chosen;
    {
        std::lock_guard serviceLock(serviceLock_);
        if (!changeServiceFileSharingEnabled(service, fileSharingEnabled)) return false;
        chosen = currentService_.lock();
    }
    // No lock is held while `work` runs (a transfer may take minutes); the calls it makes
    // on this thread reach the chosen service, whatever others make current meanwhile.
    pinnedServices.emplace_back(this, std::move(chosen));
    struct Unpin {
        ~Unpin() { pinnedServices.pop_back(); }
    } unpin;
    work();
    return true;
}

Value iPhoneDevice::appBundles() {
    {
        std::lock_guard cache(cacheLock_);
        if (bundles_.size() > 0) return bundles_;
    }
    const double version = leadingVersion(attributeForKey("ProductVersion").stringOr());
    const auto applications =
        phoneDevice_ ? phoneDevice_->installedApplications() : std::nullopt;
    Value bundles = Value(foundation::Array());
    for (const auto& application : applications.value_or(std::vector<AMApplication>())) {
        const bool sharing = version >= 8.3;
        if (sharing && !application.fileSharingEnabled()) continue;
        const std::string iconPath =
            fmt::format("/{}/{}", foundation::lastPathComponent(application.appdir()),
                        application.info()["CFBundleIconFile"].stringOr());
        bundles.append(Value::dict({
            {"name", application.appname() ? Value(*application.appname()) : Value("")},
            {"ID", application.bundleid()},
            {"iconPath", iconPath},
            {"fileSharingEnabled", sharing},
            {"root", sharing ? "/Documents" : "/"},
        }));
    }
    std::lock_guard cache(cacheLock_);
    if (bundles.size() > 0) bundles_ = bundles;
    return bundles;
}

std::optional<foundation::Data> iPhoneDevice::getIconDataForApp(const std::string& bundleId) {
    if (!phoneDevice_) return std::nullopt;
    Value reply;
    {
        std::lock_guard access(accessLock_);
        auto springboard = phoneDevice_->newAMSpringboardServices();
        if (!springboard) return std::nullopt;
        reply = springboard->getIconPNGData(bundleId);
    }
    return iconDataFromReply(reply);
}

Value iPhoneDevice::defaultReturnAttributes() const {
    Value keys = foundation::Array{};
    for (const char* key :
         {"CFBundleIdentifier", "ApplicationDSID", "ApplicationType", "CFBundleExecutable",
          "CFBundleDisplayName", "CFBundleIconFile", "CFBundleName", "CFBundleShortVersionString",
          "CFBundleSupportedPlatforms", "CFBundleURLTypes", "Container", "MinimumOSVersion",
          "UIDeviceFamily", "UIFileSharingEnabled", "UIStatusBarHidden",
          "UISupportedInterfaceOrientations"}) {
        keys.append(key);
    }
    return Value::dict({{"ReturnAttributes", keys}});
}

std::optional<foundation::Data> iPhoneDevice::iconDataFromReply(const Value& reply) {
    if (!reply.isDictionary()) return std::nullopt;
    const auto* png = reply["pngData"].data();
    if (!png) return std::nullopt;
    static constexpr std::string_view kWrapped = "bplist";
    if (png->size() >= 7 && std::equal(kWrapped.begin(), kWrapped.end(), png->begin())) {
        const auto unwrapped = foundation::plist::read(*png);
        const auto* inner = unwrapped ? (*unwrapped)["pngData"].data() : nullptr;
        if (!inner) return std::nullopt;
        return *inner;
    }
    return *png;
}
