#include "shell/windows/WebviewDelegate.h"

#include "data/helpers/NSURLQueryParameters.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/WVWindowController.h"
#include "shell/windows/WindowOpenOptions.h"

WebKitWebView* WebviewDelegate::createWebView(const std::string& uri, WebKitWebView* opener) {
    auto url = foundation::Url::parse(uri);
    const auto query = url ? NSURL::queryParameters(*url) : std::map<std::string, std::string>{};
    const auto options = WindowOpenOptions::read(query, {});
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        options.rect, options.styleMask, options.native ? opener : nullptr);
    if (options.name) controller->setName(options.name);
    // A native window gets its page from WebKit itself.
    if (!options.native) controller->loadURLString(uri);

    auto host = window_.lock();
    if (options.sheet && host) {
        controller->showSheetForWindowModal(host, options.modal);
    } else if (options.modal && host) {
        controller->showModalInWindow(host);
    } else {
        controller->showWindow();
    }
    return options.native ? controller->webview()->view() : nullptr;
}
