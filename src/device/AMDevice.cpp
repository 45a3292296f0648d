#include "device/AMDevice.h"

#include <unistd.h>

#include <fmt/format.h>

#include "device/AMHeartBeatService.h"
#include "device/MobileDeviceErrors.h"
#include "logging/LogCall.h"

using foundation::Value;
namespace md = mobiledevice;

namespace {

constexpr const char* kStatusUnit = "MobileDeviceHub";

// As "%#x" prints it: no prefix for zero.
std::string alternateHex(std::uint32_t value) {
    return value == 0 ? std::string("0") : fmt::format("{:#x}", value);
}

void logServiceStartFailure(md::AMDStatus status) {
    LogInfo("AMDeviceStartService failed: {},{},{}", alternateHex(status >> 26),
            alternateHex((status >> 14) & 0xfff), alternateHex(status & 0x3fff));
}

}  // namespace

std::shared_ptr<AMDevice> AMDevice::deviceFrom(const md::AMDeviceRef& handle) {
    auto device = std::make_shared<AMDevice>();
    std::string error;
    if (!device->initWithDeviceOrBust(handle, &error)) {
        LogInfo("Failed to create AMDevice: {}", error);
        return nullptr;
    }
    return device;
}

bool AMDevice::initWithDeviceOrBust(const md::AMDeviceRef& handle, std::string* error) {
    std::lock_guard lock(mutex_);
    device_ = handle;
    handleIdentity_ = handle.get();
    timeLimits_ = md::AMDeviceGetTimeLimits(handle);
    if (!deviceConnect()) {
        if (error) *error = lasterror();
        device_.reset();
        handleIdentity_ = nullptr;
        return false;
    }
    interfaceType_ = static_cast<std::uint8_t>(md::AMDeviceGetInterfaceType(device_));
    if (interfaceType_ == md::kAMDInterfaceWiFi) {
        heartbeatService_ = newHeartbeatService();
        if (heartbeatService_) heartbeatService_->keepAlive();
    }
    deviceName_ = deviceValueForKey("DeviceName").stringOr();
    udid_ = md::AMDeviceCopyDeviceIdentifier(device_);
    deviceDisconnect();
    return true;
}

AMDevice::~AMDevice() {
    if (heartbeatService_) heartbeatService_->die();
    std::lock_guard lock(mutex_);
    if (!attached()) return;
    if (insession_) stopSession();
    if (connected_) deviceDisconnect();
}

bool AMDevice::isDevice(const md::AMDeviceRef& handle) const {
    return handle && !forgotten_ && handleIdentity_ == handle.get();
}

void AMDevice::forgetDevice() {
    forgotten_ = true;
    handleIdentity_ = nullptr;
    // Its beats have no device to keep; made before the device was handed out.
    if (heartbeatService_) heartbeatService_->die();
    // A thread in the middle of an operation holds the lock: it lets the handle go itself.
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) attached();
}

bool AMDevice::attached() {
    if (forgotten_ && device_) device_.reset();
    return device_ != nullptr;
}

// The name and identifier are written once, while the device is made, before any other
// thread can reach it.
std::string AMDevice::udid() const {
    return udid_;
}

std::string AMDevice::deviceName() const {
    return deviceName_;
}

std::uint8_t AMDevice::interfaceType() const {
    return interfaceType_;
}

std::int32_t AMDevice::lastcode() const {
    return lastcode_;
}

std::string AMDevice::lasterror() const {
    std::lock_guard lock(errorMutex_);
    return lasterror_;
}

void AMDevice::setLasterror(std::string text) {
    std::lock_guard lock(errorMutex_);
    lasterror_ = std::move(text);
}

void AMDevice::setLastcode(std::int32_t code) {
    lastcode_ = code;
}

void AMDevice::recordFailure(md::AMDStatus status, std::string text) {
    lastcode_ = static_cast<std::int32_t>(status);
    setLasterror(std::move(text));
}

std::string AMDevice::description() const {
    return fmt::format("AMDevice('{}')", deviceName());
}

bool AMDevice::checkStatus(md::AMDStatus status, const char* operation, int line) {
    if (status == 0) return true;
    recordFailure(status, fmt::format("{}@{} -> {} failed: {} (0x{:08x})", kStatusUnit, line,
                                      operation, describeStatus(status), status));
    return false;
}

bool AMDevice::deviceConnect() {
    std::lock_guard lock(mutex_);
    if (!attached()) {
        recordFailure(md::kAMDDeviceDisconnectedError,
                      fmt::format("{}@{} -> AMDeviceConnect failed: {} (0x{:08x})", kStatusUnit,
                                  __LINE__, describeStatus(md::kAMDDeviceDisconnectedError),
                                  md::kAMDDeviceDisconnectedError));
        return false;
    }
    if (!checkStatus(md::AMDeviceConnect(device_), "AMDeviceConnect", __LINE__)) return false;
    // A failed validation is kept in lastcode but does not stop the connection; one that
    // passes means the device trusts this computer again, and an old failure is over.
    if (checkStatus(md::AMDeviceValidatePairing(device_), "AMDeviceValidatePairing", __LINE__)) {
        lastcode_ = 0;
    }
    connected_ = true;
    setLasterror({});
    return true;
}

bool AMDevice::deviceDisconnect() {
    std::lock_guard lock(mutex_);
    const bool done = checkStatus(md::AMDeviceDisconnect(device_), "AMDeviceDisconnect", __LINE__);
    if (done) {
        connected_ = false;
        insession_ = false;
    }
    return done;
}

bool AMDevice::startSession() {
    std::lock_guard lock(mutex_);
    checkStatus(md::AMDeviceStopSession(device_), "AMDeviceStopSession", __LINE__);
    const bool started =
        checkStatus(md::AMDeviceStartSession(device_), "AMDeviceStartSession", __LINE__);
    if (started) insession_ = true;
    return started;
}

bool AMDevice::stopSession() {
    std::lock_guard lock(mutex_);
    const bool stopped =
        checkStatus(md::AMDeviceStopSession(device_), "AMDeviceStopSession", __LINE__);
    if (stopped) insession_ = false;
    return stopped;
}

bool AMDevice::startNewSession() {
    std::lock_guard lock(mutex_);
    if (deviceConnect()) {
        if (startSession()) {
            openedNewSession_ = true;
            return true;
        }
        deviceDisconnect();
    }
    openedNewSession_ = false;
    return false;
}

void AMDevice::stopOpenedSession() {
    std::lock_guard lock(mutex_);
    if (!openedNewSession_) return;
    stopSession();
    deviceDisconnect();
}

AMDevice::HeldSession::HeldSession(const std::shared_ptr<AMDevice>& device) : device_(device) {
    if (!device_) return;
    std::lock_guard lock(device_->mutex_);
    if (!device_->attached()) return;
    Opened opened;
    if (device_->openConnection(&opened) && !device_->openSession(&opened)) {
        // Without a session each operation fails on its own, as it would have anyway.
        device_->closeOpened(opened);
        opened = {};
    }
    connection_ = opened.connection;
    session_ = opened.session;
}

AMDevice::HeldSession::~HeldSession() {
    if (!device_) return;
    std::lock_guard lock(device_->mutex_);
    device_->closeOpened({connection_, session_});
}

void AMDevice::applicationWillTerminate() {
    std::lock_guard lock(mutex_);
    if (!attached()) return;
    if (insession_) stopSession();
    if (connected_) deviceDisconnect();
}

bool AMDevice::openConnection(Opened* opened) {
    if (connected_ && attached()) return true;
    if (!deviceConnect()) return false;
    opened->connection = true;
    return true;
}

bool AMDevice::openSession(Opened* opened) {
    if (insession_) return true;
    if (!startSession()) return false;
    opened->session = true;
    return true;
}

void AMDevice::closeOpened(const Opened& opened) {
    if (opened.session) stopSession();
    if (opened.connection) deviceDisconnect();
}

Value AMDevice::deviceValueForKeyInDomain(const std::string& key, const std::string& domain) {
    std::lock_guard lock(mutex_);
    Opened opened;
    if (!openConnection(&opened)) return {};
    Value value;
    if (openSession(&opened)) {
        value = md::AMDeviceCopyValue(device_, domain.empty() ? nullptr : domain.c_str(),
                                      key.empty() ? nullptr : key.c_str());
    }
    closeOpened(opened);
    return value;
}

Value AMDevice::deviceValueForKey(const std::string& key) {
    return deviceValueForKeyInDomain(key, {});
}

Value AMDevice::allDeviceValuesForDomain(const std::string& domain) {
    return deviceValueForKeyInDomain({}, domain);
}

std::string AMDevice::productType() {
    return deviceValueForKey("ProductType").stringOr();
}
std::string AMDevice::deviceClass() {
    return deviceValueForKey("DeviceClass").stringOr();
}
std::string AMDevice::serialNumber() {
    return deviceValueForKey("SerialNumber").stringOr();
}
std::string AMDevice::productVersion() {
    return deviceValueForKey("ProductVersion").stringOr();
}

bool AMDevice::paired() {
    std::lock_guard lock(mutex_);
    if (!attached()) return false;
    Opened opened;
    if (!openConnection(&opened)) return false;
    // A pair record alone is not enough: the device may have forgotten this computer.
    const bool result =
        md::AMDeviceIsPaired(device_) != 0 && md::AMDeviceValidatePairing(device_) == 0;
    closeOpened(opened);
    return result;
}

bool AMDevice::pair() {
    std::lock_guard lock(mutex_);
    if (!attached()) return false;
    const bool already = paired();
    Opened opened;
    if (!openConnection(&opened)) return already;
    const bool result = already || checkStatus(md::AMDevicePair(device_), "AMDevicePair", __LINE__);
    closeOpened(opened);
    return result;
}

bool AMDevice::unpair() {
    std::lock_guard lock(mutex_);
    if (!attached()) return false;
    Opened opened;
    if (!openConnection(&opened)) return false;
    const bool result = checkStatus(md::AMDeviceUnpair(device_), "AMDeviceUnpair", __LINE__);
    closeOpened(opened);
    return result;
}

bool AMDevice::startServiceWithOptionsReturnHandleSecure(const std::string& name,
                                                         const Value& options,
                                                         AMServiceHandle* handle, bool* secure) {
    std::lock_guard lock(mutex_);
    if (secure) *secure = false;
    int socket = -1;
    if (md::AMDeviceStartService(device_, name, &socket, nullptr) == 0) {
        if (handle) {
            handle->socket = socket;
        } else {
            ::close(socket);
        }
        return true;
    }
    md::AMDServiceConnectionRef connection;
    md::AMDStatus status = md::AMDeviceSecureStartService(device_, name, options, &connection);
    if (status == 0) {
        if (secure) *secure = true;
        if (handle) handle->connection = std::move(connection);
        return true;
    }
    lastcode_ = static_cast<std::int32_t>(status);
    logServiceStartFailure(status);
    return false;
}

bool AMDevice::startServiceReturnHandleSecure(const std::string& name, AMServiceHandle* handle,
                                              bool* secure) {
    return startServiceWithOptionsReturnHandleSecure(name, {}, handle, secure);
}

bool AMDevice::startServiceOutServiceConnectionOptionsInSecure(const std::string& name,
                                                               AMServiceHandle* handle,
                                                               const Value& options, bool secure) {
    std::lock_guard lock(mutex_);
    md::AMDStatus status;
    if (secure) {
        md::AMDServiceConnectionRef connection;
        status = md::AMDeviceSecureStartService(device_, name, options, &connection);
        if (status == 0 && handle) handle->connection = std::move(connection);
    } else {
        int socket = -1;
        status = md::AMDeviceStartService(device_, name, &socket, nullptr);
        if (status == 0) {
            if (handle) {
                handle->socket = socket;
            } else {
                ::close(socket);
            }
        }
    }
    if (status == 0) return true;
    lastcode_ = static_cast<std::int32_t>(status);
    logServiceStartFailure(status);
    return false;
}

int AMDevice::startApplicationHouseArrestService(const std::string& bundleId) {
    std::lock_guard lock(mutex_);
    int socket = -1;
    if (md::AMDeviceCreateHouseArrestService(device_, bundleId, {}, &socket) == 0) return socket;
    const Value vend = Value::dict({{"Command", "VendDocuments"}});
    if (md::AMDeviceCreateHouseArrestService(device_, bundleId, vend, &socket) == 0) return socket;
    setLasterror(fmt::format("Unable to find bundle with id: {}", bundleId));
    return -1;
}

std::shared_ptr<AMHeartBeatService> AMDevice::newHeartbeatService() {
    return newServiceHandler<AMHeartBeatService>();
}

std::shared_ptr<AMHeartBeatService> AMDevice::heartbeatService() const {
    std::lock_guard lock(mutex_);
    return heartbeatService_;
}

Value AMDevice::defaultReturnAttributes() const {
    static const char* const kAttributes[] = {
        "CFBundleIdentifier",
        "ApplicationDSID",
        "ApplicationType",
        "CFBundleExecutable",
        "CFBundleDisplayName",
        "CFBundleIconFile",
        "CFBundleName",
        "CFBundleShortVersionString",
        "CFBundleSupportedPlatforms",
        "CFBundleURLTypes",
        "CFBundleVersion",
        "CodeInfoIdentifier",
        "Container",
        "Entitlements",
        "HasSettingsBundle",
        "IsUpgradeable",
        "MinimumOSVersion",
        "Path",
        "SignerIdentity",
        "UIDeviceFamily",
        "UIFileSharingEnabled",
        "UIStatusBarHidden",
        "UISupportedInterfaceOrientations",
        "CFBundleIdentifier",
        "ApplicationSINF",
        "iTunesMetadata",
    };
    std::lock_guard lock(mutex_);
    Value list = Value::list({});
    if (applAttributes_) {
        for (const auto& name : *applAttributes_) list.append(name);
    } else {
        for (const char* name : kAttributes) list.append(name);
    }
    return Value::dict({{"ReturnAttributes", list}});
}

void AMDevice::setApplicationAttributes(std::optional<std::vector<std::string>> attributes) {
    std::lock_guard lock(mutex_);
    applAttributes_ = std::move(attributes);
}

Value AMDevice::lookupApplications() {
    std::lock_guard lock(mutex_);
    Opened opened;
    if (!openConnection(&opened)) return {};
    if (!openSession(&opened)) {
        closeOpened(opened);
        return {};
    }
    Value applications;
    if (!checkStatus(
            md::AMDeviceLookupApplications(device_, defaultReturnAttributes(), &applications),
            "AMDeviceLookupApplications", __LINE__)) {
        applications = Value();
    }
    closeOpened(opened);
    return applications;
}
