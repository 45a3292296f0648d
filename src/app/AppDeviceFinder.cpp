#include "app/AppDeviceFinder.h"

#include "device/iMobileDevice.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "platform/webkit/WebView.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "shell/windows/WVWindowController.h"

void AppDeviceFinder::setAppDelegate(const KolvexAppDelegate* delegate) {
    std::unique_lock lock(mutex_);
    delegate_ = delegate;
}

std::shared_ptr<iMobileDevice> AppDeviceFinder::findMobileDeviceById(const std::string& deviceId) {
    // Held while the delegate is asked, so that it cannot go meanwhile.
    std::shared_lock lock(mutex_);
    if (!delegate_) return nullptr;
    return std::dynamic_pointer_cast<iMobileDevice>(delegate_->findMobileDeviceById(deviceId));
}

void AppDeviceFinder::installIn(AppServices& services, const std::shared_ptr<AppDeviceFinder>& finder) {
    services.setupDevicePlugin = [finder](const std::shared_ptr<ScriptBridge>& bridge,
                                          const std::shared_ptr<void>& webview) {
        WVMobileDeviceFilesystemPlugin::setupWithBridgeWebviewDelegate(bridge, webview, finder);
    };
    services.makeDevicePlugin =
        [finder](const std::shared_ptr<WVWindowController>& controller) -> std::shared_ptr<WVPluginBase> {
        if (!controller || !controller->wvbridge()) return nullptr;
        return WVMobileDeviceFilesystemPlugin::create(controller->wvbridge(), controller->webview(), finder);
    };
}
