#pragma once

#include <memory>
#include <string>
#include <vector>

#include "device/AMService.h"

// The device's diagnostics relay: diagnostics by type, MobileGestalt values, sleep.
// Results are nil (or false) when the device answers with any status but "Success".
class AMMobileDiagnosticsRelay : public AMService {
public:
    static constexpr const char* kServiceName = "com.apple.mobile.diagnostics_relay";

    static std::shared_ptr<AMMobileDiagnosticsRelay> create(
        const std::shared_ptr<AMDevice>& device);

    foundation::Value getDiagnostics(const std::string& type);
    foundation::Value getWiFiDiagnostics() { return getDiagnostics("WiFi"); }
    foundation::Value getHDMIDiagnostics() { return getDiagnostics("HDMI"); }
    foundation::Value getGasGaugeDiagnostics() { return getDiagnostics("GasGauge"); }
    foundation::Value getNANDDiagnostics() { return getDiagnostics("NAND"); }
    bool sleep();
    bool goodbye();
    // The values under the reply's "Diagnostics" → "MobileGestalt".
    foundation::Value getMobileGestaltValues(const std::vector<std::string>& keys);
    foundation::Value getMobileGestaltValue(const std::string& key);
    foundation::Value test();

private:
    // The reply when it succeeded, else nil.
    foundation::Value request(const foundation::Value& message);
};
