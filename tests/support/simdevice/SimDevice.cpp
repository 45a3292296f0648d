#include "simdevice/SimDevice.h"

#include <array>
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
    domains_[""] = Value::dict({
        {"DeviceName", config_.name},
        {"ProductType", config_.productType},
        {"ProductVersion", config_.productVersion},
        {"BuildVersion", "20H115"},
        {"DeviceClass", "iPhone"},
        {"UniqueDeviceID", config_.udid},
        {"SerialNumber", "SIM" + config_.udid.substr(0, 9)},
        {"WiFiAddress", "02:00:00:00:00:01"},
        {"DevicePublicKey", foundation::Data(pem.begin(), pem.end())},
        {"PhoneNumber", "+1 555 0100"},
        {"ModelNumber", "MWLT2"},
    });
    domains_["com.apple.disk_usage"] = Value::dict({
        {"TotalDiskCapacity", std::int64_t{64} << 30},
        {"AmountDataAvailable", std::int64_t{20} << 30},
    });
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

void SimDevice::addPairedHost(const std::string& hostId) {
    std::lock_guard lock(mutex_);
    pairedHosts_.insert(hostId);
}

bool SimDevice::removePairedHost(const std::string& hostId) {
    std::lock_guard lock(mutex_);
    return pairedHosts_.erase(hostId) > 0;
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

std::uint16_t SimDevice::openServicePort(const std::string& service) {
    std::lock_guard lock(mutex_);
    const std::uint16_t port = nextPort_++;
    if (nextPort_ == 0) nextPort_ = 49152;
    servicePorts_[port] = service;
    return port;
}

std::optional<std::string> SimDevice::serviceOnPort(std::uint16_t port) const {
    std::lock_guard lock(mutex_);
    auto found = servicePorts_.find(port);
    if (found == servicePorts_.end()) return std::nullopt;
    return found->second;
}

}  // namespace simdevice
