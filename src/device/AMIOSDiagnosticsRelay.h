#pragma once

#include <memory>

#include "device/AMService.h"

// The older diagnostics relay: all diagnostics in one request, and a packet-level goodbye.
class AMIOSDiagnosticsRelay : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.iosdiagnostics.relay";
    static constexpr unsigned int kReceiveTimeoutMs = 30000;

    static std::shared_ptr<AMIOSDiagnosticsRelay> create(const std::shared_ptr<AMDevice>& device);

    foundation::Value getDiagnostics();
    // 0 when the device answered; -2 otherwise.
    int goodbye();

    // 0 when sent, -255 otherwise.
    int relaySend(const foundation::Value& message);
    // Out code: 0 a list arrived, -255 a list arrived with a failing read code, -2 none.
    foundation::Value relayReceiveWithReturn(int* returnCode);
    // 0 for a dictionary whose "Status" is "Success", else -1.
    static int checkResult(const foundation::Value& reply);
};
