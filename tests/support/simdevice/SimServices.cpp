#include "simdevice/SimServices.h"

#include <sys/socket.h>

#include "simdevice/SimAfcServer.h"
#include "simdevice/SimApplications.h"
#include "simdevice/SimDeviceLink.h"
#include "simdevice/SimRelays.h"
#include "simdevice/SimWire.h"

using foundation::Value;

namespace simdevice {

namespace {

constexpr const char* kHeartbeatService = "com.apple.mobile.heartbeat";
constexpr const char* kMediaService = "com.apple.afc";
constexpr const char* kCrashCopyService = "com.apple.crashreportcopymobile";
constexpr const char* kCrashMoverService = "com.apple.crashreportmover";
constexpr const char* kInstallationProxyService = "com.apple.mobile.installation_proxy";
constexpr const char* kSpringboardService = "com.apple.springboardservices";
constexpr const char* kHouseArrestService = "com.apple.mobile.house_arrest";
constexpr const char* kSyslogRelayService = "com.apple.syslog_relay";
constexpr const char* kFileRelayService = "com.apple.mobile.file_relay";
constexpr const char* kDiagnosticsRelayService = "com.apple.mobile.diagnostics_relay";
constexpr const char* kIOSDiagnosticsRelayService = "com.apple.iosdiagnostics.relay";
constexpr const char* kNotificationProxyService = "com.apple.mobile.notification_proxy";
constexpr const char* kMobileSyncService = "com.apple.mobilesync";
constexpr const char* kScreenshotService = "com.apple.mobile.screenshotr";

void serveHeartbeat(SimDevice& device, int fd) {
    // The host sends a beat; the device answers each while it is set to answer.
    for (;;) {
        auto beat = readFramedPlist(fd);
        if (!beat) return;
        if (!device.heartbeatAnswers()) continue;
        if (!writeFramedPlist(fd, Value::dict({{"Command", "Marco"}, {"Interval", 10}}), true)) {
            return;
        }
        device.countHeartbeat();
    }
}

// The crash-report mover says "ping" once the reports wait in the copy service's folder.
void serveCrashMover(int fd) {
    if (!writeAll(fd, "ping", 4)) return;
    char ignored[64];
    while (::recv(fd, ignored, sizeof ignored, 0) > 0) {
    }
}

void serveFiles(const SimDevice& device, const std::string& root, int fd) {
    SimAfcServer(root, device.volume(), device.afcHostility()).serve(fd);
}

}  // namespace

bool isKnownService(const SimDevice& device, const std::string& name) {
    const auto& config = device.config();
    if (name == kMediaService) return !config.root.empty();
    if (name == kCrashCopyService || name == kCrashMoverService) return !config.crashRoot.empty();
    if (name == kHouseArrestService) return !config.containersRoot.empty();
    for (const char* known :
         {kHeartbeatService, kInstallationProxyService, kSpringboardService, kSyslogRelayService,
          kFileRelayService, kDiagnosticsRelayService, kIOSDiagnosticsRelayService,
          kNotificationProxyService, kMobileSyncService, kScreenshotService}) {
        if (name == known) return true;
    }
    return false;
}

void serveService(const std::shared_ptr<SimDevice>& device, const std::string& name, int fd) {
    if (name == kHeartbeatService) {
        serveHeartbeat(*device, fd);
    } else if (name == kMediaService) {
        serveFiles(*device, device->config().root, fd);
    } else if (name == kCrashCopyService) {
        serveFiles(*device, device->config().crashRoot, fd);
    } else if (name == kCrashMoverService) {
        serveCrashMover(fd);
    } else if (name == kInstallationProxyService) {
        serveInstallationProxy(*device, fd);
    } else if (name == kSpringboardService) {
        serveSpringboard(fd);
    } else if (name == kHouseArrestService) {
        serveHouseArrest(*device, fd);
    } else if (name == kSyslogRelayService) {
        serveSyslogRelay(*device, fd);
    } else if (name == kFileRelayService) {
        serveFileRelay(*device, fd);
    } else if (name == kDiagnosticsRelayService || name == kIOSDiagnosticsRelayService) {
        serveDiagnosticsRelay(*device, fd);
    } else if (name == kNotificationProxyService) {
        serveNotificationProxy(*device, fd);
    } else if (name == kMobileSyncService) {
        serveMobileSync(*device, fd);
    } else if (name == kScreenshotService) {
        serveScreenshot(*device, fd);
    }
}

}  // namespace simdevice
