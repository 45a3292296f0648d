#include "simdevice/SimDevice.h"

#include <array>
#include <cctype>
#include <ctime>
#include <string_view>

#include "simdevice/SimDeviceKey.h"

using foundation::Value;

namespace simdevice {

namespace {

// Keys of the global domain a device gives before a session is open.
constexpr std::array<std::string_view, 9> kPublicKeys = {
    "BuildVersion",   "DeviceClass",    "DeviceName",  "DevicePublicKey", "ProductType",
    "ProductVersion", "UniqueDeviceID", "WiFiAddress", "SerialNumber"};

bool isPublic(std::string_view key) {
    for (auto k : kPublicKeys) {
        if (k == key) return true;
    }
    return false;
}

}  // namespace

SimDevice::SimDevice(SimDeviceConfig config) : config_(std::move(config)) {
    const std::string& pem = devicePublicKeyPem();
    // Letters and digits only, as a phone's: the UDID's dashes left out.
    std::string serial = "SIM";
    for (const char c : config_.udid) {
        if (serial.size() == 12) break;
        if (std::isalnum(static_cast<unsigned char>(c))) serial += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const double now = static_cast<double>(std::time(nullptr));
    // What an iPhone 11 answers, less the keys nothing here reads.
    domains_[""] = Value::dict({
        {"ActivationState", "Activated"},
        {"ActivationStateAcknowledged", true},
        {"BasebandStatus", "BBInfoAvailable"},
        {"BasebandVersion", "5.00.00"},
        {"BluetoothAddress", "02:00:00:00:00:02"},
        {"BoardId", 4},
        {"BrickState", false},
        {"BuildVersion", "20H115"},
        {"CPUArchitecture", "arm64e"},
        {"ChipID", 32816},
        {"DeviceClass", "iPhone"},
        {"DeviceColor", "1"},
        {"DeviceName", config_.name},
        {"DevicePublicKey", foundation::Data(pem.begin(), pem.end())},
        {"EthernetAddress", "02:00:00:00:00:03"},
        {"FirmwareVersion", "iBoot-8422.141.2"},
        {"HardwareModel", "N104AP"},
        {"HardwarePlatform", "t8030"},
        {"HostAttached", true},
        {"HumanReadableProductVersionString", config_.productVersion},
        {"IntegratedCircuitCardIdentity", "89490200001234567890"},
        {"InternationalMobileEquipmentIdentity", "356789101234567"},
        {"InternationalMobileSubscriberIdentity", "262011234567890"},
        {"MobileSubscriberCountryCode", "262"},
        {"MobileSubscriberNetworkCode", "01"},
        {"ModelNumber", "MWLT2"},
        {"PasswordProtected", false},
        {"PhoneNumber", "+1 555 0100"},
        {"ProductName", "iPhone OS"},
        {"ProductType", config_.productType},
        {"ProductVersion", config_.productVersion},
        {"ProtocolVersion", "2"},
        {"RegionInfo", "LL/A"},
        {"SIMStatus", "kCTSIMSupportSIMStatusReady"},
        {"SerialNumber", serial},
        {"SupportedDeviceFamilies", Value::list({1})},
        {"TelephonyCapability", true},
        {"TimeIntervalSince1970", now},
        {"TimeZone", "Europe/Berlin"},
        {"TimeZoneOffsetFromUTC", 3600.0},
        {"TrustedHostAttached", true},
        {"UniqueChipID", std::int64_t{0x1a2b3c4d5e6f}},
        {"UniqueDeviceID", config_.udid},
        {"Uses24HourClock", true},
        {"WiFiAddress", "02:00:00:00:00:01"},
    });
    domains_["com.apple.disk_usage"] = Value::dict({
        {"TotalDiskCapacity", std::int64_t{64} << 30},
        {"TotalSystemCapacity", std::int64_t{6} << 30},
        {"TotalSystemAvailable", std::int64_t{1} << 30},
        {"TotalDataCapacity", std::int64_t{58} << 30},
        {"TotalDataAvailable", std::int64_t{21} << 30},
        {"AmountDataAvailable", std::int64_t{20} << 30},
        {"AmountDataReserved", std::int64_t{1} << 30},
        {"CalculateDiskUsage", "OkilyDokily"},
    });
    domains_["com.apple.mobile.battery"] = Value::dict({
        {"BatteryCurrentCapacity", 87},
        {"BatteryIsCharging", true},
        {"ExternalConnected", true},
        {"FullyCharged", false},
    });
    domains_["com.apple.international"] = Value::dict({
        {"Language", "en"},
        {"Locale", "en_US"},
        {"SupportedLanguages", Value::list({"en", "de", "fr"})},
    });
}

SimAfcVolume SimDevice::volume() const {
    std::lock_guard lock(mutex_);
    const Value& usage = domains_.at("com.apple.disk_usage");
    return {config_.productType,
            static_cast<std::uint64_t>(usage["TotalDataCapacity"].toInt64().value_or(0)),
            static_cast<std::uint64_t>(usage["AmountDataAvailable"].toInt64().value_or(0))};
}

void SimDevice::failRequest(const std::string& request, const std::string& error) {
    std::lock_guard lock(mutex_);
    failures_[request] = error;
}

void SimDevice::clearFailures() {
    std::lock_guard lock(mutex_);
    failures_.clear();
}

std::optional<std::string> SimDevice::failureFor(const std::string& request) const {
    std::lock_guard lock(mutex_);
    auto found = failures_.find(request);
    if (found == failures_.end()) return std::nullopt;
    return found->second;
}

void SimDevice::dropConnectionOn(const std::string& request) {
    std::lock_guard lock(mutex_);
    drops_.insert(request);
}

bool SimDevice::takeDrop(const std::string& request) {
    std::lock_guard lock(mutex_);
    return drops_.erase(request) > 0;
}

void SimDevice::addPairedHost(const std::string& hostId, std::string deviceCertificate) {
    std::lock_guard lock(mutex_);
    pairedHosts_[hostId] = std::move(deviceCertificate);
}

std::string SimDevice::deviceCertificateFor(const std::string& hostId) const {
    std::lock_guard lock(mutex_);
    auto found = pairedHosts_.find(hostId);
    return found == pairedHosts_.end() ? std::string() : found->second;
}

bool SimDevice::removePairedHost(const std::string& hostId) {
    std::lock_guard lock(mutex_);
    return pairedHosts_.erase(hostId) > 0;
}

void SimDevice::forgetPairedHosts() {
    std::lock_guard lock(mutex_);
    pairedHosts_.clear();
}

bool SimDevice::isPairedHost(const std::string& hostId) const {
    std::lock_guard lock(mutex_);
    return pairedHosts_.count(hostId) > 0;
}

Value SimDevice::value(const std::string& domain, const std::string& key, bool inSession) const {
    std::lock_guard lock(mutex_);
    auto found = domains_.find(domain);
    if (found == domains_.end()) return {};
    const Value& values = found->second;
    if (inSession) return key.empty() ? values : values[key];
    if (!domain.empty()) return {};
    if (!key.empty()) return isPublic(key) ? values[key] : Value();
    Value visible = Value::dict({});
    for (const auto& [name, item] : *values.dictionary()) {
        if (isPublic(name)) visible.set(name, item);
    }
    return visible;
}

void SimDevice::setValue(const std::string& domain, const std::string& key, Value value) {
    std::lock_guard lock(mutex_);
    domains_[domain].set(key, std::move(value));
}

std::uint16_t SimDevice::openServicePort(const std::string& service, const std::string& tlsHost) {
    std::function<bool(std::uint16_t)> opener;
    {
        std::lock_guard lock(mutex_);
        opener = portOpener_;
    }
    for (int tries = 0; tries < 64; ++tries) {
        std::uint16_t port;
        {
            std::lock_guard lock(mutex_);
            port = nextPort_++;
            if (nextPort_ == 0) nextPort_ = 49152;
        }
        if (opener && !opener(port)) continue;
        std::lock_guard lock(mutex_);
        servicePorts_[port] = service;
        if (tlsHost.empty()) {
            tlsHosts_.erase(port);
        } else {
            tlsHosts_[port] = tlsHost;
        }
        return port;
    }
    return 0;
}

std::optional<std::string> SimDevice::serviceOnPort(std::uint16_t port) const {
    std::lock_guard lock(mutex_);
    auto found = servicePorts_.find(port);
    if (found == servicePorts_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> SimDevice::tlsHostOnPort(std::uint16_t port) const {
    std::lock_guard lock(mutex_);
    auto found = tlsHosts_.find(port);
    if (found == tlsHosts_.end()) return std::nullopt;
    return found->second;
}

void SimDevice::setPortOpener(std::function<bool(std::uint16_t)> opener) {
    std::lock_guard lock(mutex_);
    portOpener_ = std::move(opener);
}

}  // namespace simdevice
