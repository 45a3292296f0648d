#include "device/AMDLService.h"

#include <fmt/format.h>

#include "logging/LogCall.h"

using foundation::Value;

std::shared_ptr<AMDLService> AMDLService::create(const std::string& name,
                                                 const std::shared_ptr<AMDevice>& device) {
    auto service = std::make_shared<AMDLService>();
    if (!service->startAndShakeHands(name, device)) return nullptr;
    return service;
}

std::shared_ptr<AMDLService> AMDLService::withSocket(int socket, const std::string& name) {
    auto service = std::make_shared<AMDLService>();
    service->adoptSocket(socket, name);
    return service;
}

bool AMDLService::startAndShakeHands(const std::string& name,
                                     const std::shared_ptr<AMDevice>& device) {
    return startOnDevice(name, device) && shakeHands();
}

bool AMDLService::shakeHands() {
    if (versionHandshake()) return true;
    LogInfo("failed to handshake: {}", lasterror());
    return false;
}

Value AMDLService::waitForDLResponse(const std::string& message) {
    Value reply = readXMLReply();
    if (reply.isNil()) return {};
    const Value& first = reply[std::size_t{0}];
    if (first.isNil()) {
        setLasterror("Response truncated");
        return {};
    }
    const std::string name = first.stringOr();
    if (name == message) return reply;
    if (name == "DLMessageDisconnect") {
        setLasterror(reply[std::size_t{1}].stringOr());
    } else {
        setLasterror(fmt::format("Expected '{}', got '{}'", message, name));
    }
    return {};
}

bool AMDLService::versionHandshake() {
    Value offer = waitForDLResponse("DLMessageVersionExchange");
    if (offer.isNil()) return false;
    const std::int64_t major = offer[std::size_t{1}].toInt64().value_or(0);
    const std::int64_t minor = offer[std::size_t{2}].toInt64().value_or(0);
    LogInfo("Device requesting DeviceLinkProtocol {},{}", major, minor);
    if (!sendXMLRequest(Value::list({"DLMessageVersionExchange", "DLVersionsOk", major}))) {
        return false;
    }
    return !waitForDLResponse("DLMessageDeviceReady").isNil();
}

Value AMDLService::sendDLProcessMessageAndWaitForReply(const Value& message,
                                                       const std::string& messageType) {
    if (!sendXMLRequest(Value::list({"DLMessageProcessMessage", message}))) return {};
    Value reply = waitForDLResponse("DLMessageProcessMessage");
    if (reply.isNil()) return {};
    if (reply.size() < 2) {
        setLasterror("Reply is too short");
        return {};
    }
    Value answer = reply[std::size_t{1}];
    if (const Value& error = answer["ErrorMessage"]; !error.isNil()) {
        setLasterror(error.stringOr());
        return {};
    }
    const std::string type = answer["MessageType"].stringOr();
    if (type != messageType) {
        setLasterror(fmt::format("Expected '{}', got '{}'", messageType, type));
        return {};
    }
    return answer;
}
