// The device's factories of the services nothing else in the application uses.
#include "device/AMDevice.h"
#include "device/AMFileRelay.h"
#include "device/AMIOSDiagnosticsRelay.h"
#include "device/AMInstallationProxy.h"
#include "device/AMMobileDiagnosticsRelay.h"
#include "device/AMMobileSync.h"
#include "device/AMNotificationProxy.h"
#include "device/AMScreenshotService.h"
#include "device/AMSyslogRelay.h"

std::shared_ptr<AMInstallationProxy> AMDevice::newAMInstallationProxyWithDelegate(
    const std::shared_ptr<AMServiceDelegate>& delegate) {
    auto proxy = newServiceHandler<AMInstallationProxy>();
    if (proxy) proxy->setDelegate(delegate);
    return proxy;
}

std::shared_ptr<AMSyslogRelay> AMDevice::newAMSyslogRelay(
    std::function<void(const std::string& message)> listener) {
    // The relay keeps only its socket, so it may watch it after the session has closed.
    auto relay = newServiceHandler<AMSyslogRelay>();
    if (relay) relay->listenWith(std::move(listener));
    return relay;
}

std::shared_ptr<AMFileRelay> AMDevice::newAMFileRelay() {
    return newServiceHandler<AMFileRelay>();
}

std::shared_ptr<AMIOSDiagnosticsRelay> AMDevice::newAMIOSDiagnosticsRelay() {
    return newServiceHandler<AMIOSDiagnosticsRelay>();
}

std::shared_ptr<AMMobileDiagnosticsRelay> AMDevice::newAMMobileDiagnosticsRelay() {
    return newServiceHandler<AMMobileDiagnosticsRelay>();
}

std::shared_ptr<AMNotificationProxy> AMDevice::newAMNotificationProxy() {
    return newServiceHandler<AMNotificationProxy>();
}

std::shared_ptr<AMMobileSync> AMDevice::newAMMobileSync() {
    return newServiceHandler<AMMobileSync>();
}

std::shared_ptr<AMScreenshotService> AMDevice::newAMScreenshotService() {
    return newServiceHandler<AMScreenshotService>();
}
