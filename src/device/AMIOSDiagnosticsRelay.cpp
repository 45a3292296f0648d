#include "device/AMIOSDiagnosticsRelay.h"

#include "device/DiagnosticsReply.h"
#include "logging/LogCall.h"

using foundation::Value;

std::shared_ptr<AMIOSDiagnosticsRelay> AMIOSDiagnosticsRelay::create(
    const std::shared_ptr<AMDevice>& device) {
    auto relay = std::make_shared<AMIOSDiagnosticsRelay>();
    if (!relay->startOnDevice(kServiceName, device)) return nullptr;
    return relay;
}

Value AMIOSDiagnosticsRelay::getDiagnostics() {
    Value reply = sendRequestAndWaitForSingleReply(Value::dict({{"Request", "All"}}));
    return diagnosticsReplySucceeded(*this, reply) ? reply["Diagnostics"] : Value();
}

int AMIOSDiagnosticsRelay::goodbye() {
    int code = -2;
    if (relaySend(Value::dict({{"Request", "Goodbye"}})) == 0) relayReceiveWithReturn(&code);
    if (code == 0) return 0;
    LogInfo("did not get goodbye response back");
    return -2;
}

int AMIOSDiagnosticsRelay::relaySend(const Value& message) {
    return sendPlistIsBinary(message, false) ? 0 : -255;
}

Value AMIOSDiagnosticsRelay::relayReceiveWithReturn(int* returnCode) {
    int code = 0;
    Value reply = readPlistTimeoutReturnCode(kReceiveTimeoutMs, &code);
    if (returnCode) *returnCode = reply.isNil() ? -2 : code == 0 ? 0 : -255;
    return reply;
}

int AMIOSDiagnosticsRelay::checkResult(const Value& reply) {
    return reply.isDictionary() && reply["Status"].stringOr() == "Success" ? 0 : -1;
}
