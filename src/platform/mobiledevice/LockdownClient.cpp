#include "platform/mobiledevice/LockdownClient.h"

#include <cstdlib>
#include <cstring>

#include "platform/mobiledevice/ConnectionFraming.h"
#include "platform/mobiledevice/MobileDevice.h"
#include "platform/mobiledevice/SslHandshake.h"
#include "platform/mobiledevice/StatusMapping.h"

using foundation::Value;

namespace mobiledevice {

namespace {

constexpr std::uint16_t kLockdownPort = 62078;

// A pair record as the device is shown it: everything but this host's private keys.
Value publicPairRecord(const Value& record) {
    Value shown = Value::dict({});
    if (const auto* entries = record.dictionary()) {
        for (const auto& [key, item] : *entries) {
            if (key != "HostPrivateKey" && key != "RootPrivateKey") shown.set(key, item);
        }
    }
    return shown;
}

}  // namespace

AMDStatus LockdownClient::open(idevice_t device, std::unique_ptr<LockdownClient>* client,
                               const DeviceTimeLimits& limits) {
    idevice_connection_t connection = nullptr;
    if (idevice_connect(device, kLockdownPort, &connection) != IDEVICE_E_SUCCESS) {
        return kAMDMuxConnectError;
    }
    *client = std::make_unique<LockdownClient>(connection, limits);
    return kAMDSuccess;
}

LockdownClient::~LockdownClient() {
    idevice_disconnect(connection_);
}

AMDStatus LockdownClient::exchange(const char* name, Value request, Value* reply) {
    request.set("Label", kLockdownLabel);
    request.set("Request", name);
    const Wire wire{connection_, secure_, limitMs(limits_.lockdownReply)};
    if (AMDStatus status = sendFramedMessage(wire, request, kAMDPropertyListXml)) return status;
    if (AMDStatus status = receiveFramedMessage(wire, reply, nullptr)) {
        return status;
    }
    if (!reply->isDictionary()) return kAMDInvalidResponseError;
    if (const std::string* error = (*reply)["Error"].string()) {
        return statusFromLockdownError(*error);
    }
    return (*reply)["Result"].stringOr() == "Failure" ? kAMDUndefinedError : kAMDSuccess;
}

AMDStatus LockdownClient::queryType(std::string* type) {
    Value reply;
    if (AMDStatus status = exchange("QueryType", Value::dict({}), &reply)) return status;
    *type = reply["Type"].stringOr();
    return kAMDSuccess;
}

AMDStatus LockdownClient::validatePair(const Value& pairRecord) {
    Value reply;
    return exchange(
        "ValidatePair",
        Value::dict({{"PairRecord", publicPairRecord(pairRecord)}, {"ProtocolVersion", "2"}}),
        &reply);
}

AMDStatus LockdownClient::getValue(const char* domain, const char* key, Value* value) {
    Value request = Value::dict({});
    if (domain) request.set("Domain", domain);
    if (key) request.set("Key", key);
    Value reply;
    if (AMDStatus status = exchange("GetValue", std::move(request), &reply)) return status;
    *value = reply["Value"];
    return kAMDSuccess;
}

AMDStatus LockdownClient::startSession(const Value& pairRecord, std::string* sessionId) {
    Value request = Value::dict({{"HostID", pairRecord["HostID"]}});
    if (!pairRecord["SystemBUID"].isNil()) request.set("SystemBUID", pairRecord["SystemBUID"]);
    Value reply;
    if (AMDStatus status = exchange("StartSession", std::move(request), &reply)) return status;
    *sessionId = reply["SessionID"].stringOr();
    if (!reply["EnableSessionSSL"].toBool().value_or(false)) return kAMDSuccess;
    if (enableSsl(connection_, limits_.handshake) != IDEVICE_E_SUCCESS) return kAMDCryptoError;
    secure_ = true;
    return kAMDSuccess;
}

AMDStatus LockdownClient::stopSession(const std::string& sessionId) {
    Value reply;
    const AMDStatus status =
        exchange("StopSession", Value::dict({{"SessionID", sessionId}}), &reply);
    if (secure_) idevice_connection_disable_ssl(connection_);
    secure_ = false;
    return status;
}

AMDStatus LockdownClient::startService(const std::string& name, const Value* escrowBag,
                                       lockdownd_service_descriptor_t* descriptor) {
    Value request = Value::dict({{"Service", name}});
    if (escrowBag) request.set("EscrowBag", *escrowBag);
    Value reply;
    if (AMDStatus status = exchange("StartService", std::move(request), &reply)) return status;
    const auto port = reply["Port"].toUInt64();
    if (!port || *port == 0 || *port > 0xffff) return kAMDInvalidResponseError;
    auto* made = static_cast<lockdownd_service_descriptor_t>(
        std::calloc(1, sizeof(struct lockdownd_service_descriptor)));
    if (!made) return kAMDNoResourcesError;
    made->port = static_cast<std::uint16_t>(*port);
    made->ssl_enabled = reply["EnableServiceSSL"].toBool().value_or(false) ? 1 : 0;
    made->identifier = strdup(name.c_str());
    *descriptor = made;
    return kAMDSuccess;
}

}  // namespace mobiledevice
