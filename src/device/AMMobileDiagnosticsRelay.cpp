#include "device/AMMobileDiagnosticsRelay.h"

#include "device/DiagnosticsReply.h"
#include "foundation/Json.h"
#include "logging/LogCall.h"

using foundation::Value;

std::shared_ptr<AMMobileDiagnosticsRelay> AMMobileDiagnosticsRelay::create(
    const std::shared_ptr<AMDevice>& device) {
    auto relay = std::make_shared<AMMobileDiagnosticsRelay>();
    if (!relay->startOnDevice(kServiceName, device)) return nullptr;
    return relay;
}

Value AMMobileDiagnosticsRelay::request(const Value& message) {
    Value reply = sendRequestAndWaitForSingleReply(message);
    return diagnosticsReplySucceeded(*this, reply) ? reply : Value();
}

Value AMMobileDiagnosticsRelay::getDiagnostics(const std::string& type) {
    Value reply = sendRequestAndWaitForSingleReply(Value::dict({{"Request", type}}));
    LogInfo("reply={}", foundation::json::write(reply));
    return diagnosticsReplySucceeded(*this, reply) ? reply["Diagnostics"] : Value();
}

bool AMMobileDiagnosticsRelay::sleep() {
    return !request(Value::dict({{"Request", "Sleep"}})).isNil();
}

bool AMMobileDiagnosticsRelay::goodbye() {
    return !request(Value::dict({{"Request", "Goodbye"}})).isNil();
}

Value AMMobileDiagnosticsRelay::getMobileGestaltValues(const std::vector<std::string>& keys) {
    Value names = Value::list({});
    for (const auto& key : keys) names.append(key);
    return request(Value::dict({{"Request", "MobileGestalt"},
                                {"MobileGestaltKeys", names}}))["Diagnostics"]["MobileGestalt"];
}

Value AMMobileDiagnosticsRelay::getMobileGestaltValue(const std::string& key) {
    return getMobileGestaltValues({key})[key];
}

Value AMMobileDiagnosticsRelay::test() {
    return request(Value::dict(
        {{"Request", "MobileGestalt"},
         {"MobileGestaltKeys",
          Value::list({"DeviceSupports3DMaps", "BatteryIsFullyCharged"})}}))["Diagnostics"];
}
