#include "shell/windows/WebviewDelegate.h"

#include <webkit2/webkit2.h>

#include "content/PageOrigins.h"
#include "data/helpers/NSURLQueryParameters.h"
#include "foundation/Json.h"
#include "logging/LogCall.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/AlertWebviewPanels.h"
#include "shell/windows/WVWindowController.h"
#include "shell/windows/WindowOpenOptions.h"

const char* const WebviewDelegate::kWindowOpenScript = R"JS(;(function () {
  if (!window.open || window.open.carriesFeatures) return;
  var open = window.open;
  var carrying = function (url, name, features) {
    url = url === undefined || url === null ? '' : String(url);
    var items = String(features || '').replace(/\s/g, '').split(',').filter(function (item) {
      return item.length > 0;
    }).map(function (item) {
      return item.indexOf('=') < 0 ? item + '=yes' : item;
    });
    if (items.length) {
      var hash = url.indexOf('#');
      var head = hash < 0 ? url : url.slice(0, hash);
      var tail = hash < 0 ? '' : url.slice(hash);
      url = head + (head.indexOf('?') < 0 ? '?' : '&') + items.join('&') + tail;
    }
    return open.call(window, url, name, features);
  };
  carrying.carriesFeatures = true;
  window.open = carrying;
})();)JS";

// Our pages take nothing dropped on them: WebKit would open a dropped address in the page
// (a "javascript:" one runs there, with "/fetch" and the bridge, and never passes the
// navigation policy). That holds on a file input too, where a dropped link is opened all
// the same; our pages pick files through the file chooser. A frame of any page inside one of
// ours is guarded as well.
const char* const WebviewDelegate::kDropGuardScript = R"JS(;(function (developmentOrigin) {
  var origins = location.ancestorOrigins ? Array.prototype.slice.call(location.ancestorOrigins) : [];
  var top = origins.length ? origins[origins.length - 1] : location.origin;
  if (!/^myapp:/.test(top) && !(developmentOrigin && top === developmentOrigin)) return;
  // Every drag is the page's to answer, so that its drop comes here and is swallowed.
  var take = function (event) {
    event.preventDefault();
    if (event.dataTransfer) event.dataTransfer.dropEffect = 'copy';
  };
  window.addEventListener('dragenter', take, true);
  window.addEventListener('dragover', take, true);
  window.addEventListener('drop', function (event) { event.preventDefault(); }, true);
}))JS";

std::string WebviewDelegate::dropGuardScript() {
    const std::string origin = content::PageOrigins::developmentOrigin();
    return std::string(kDropGuardScript) + "(" +
           foundation::json::write(foundation::Value(origin)) + ");";
}

WebviewDelegate::WebviewDelegate(std::weak_ptr<gtk::Window> window)
    : window_(std::move(window)), panels_(std::make_shared<AlertWebviewPanels>()) {}

GtkWindow* WebviewDelegate::gtkWindow() const {
    auto window = window_.lock();
    return window ? window->gtkWindow() : nullptr;
}

void WebviewDelegate::attachTo(webkit::WebView& view) {
    view.addUserScript(kWindowOpenScript);
    view.addUserScript(dropGuardScript());
    view.acceptsMainFramePage = &WebviewDelegate::acceptsMainFramePage;
    view.onScriptDialog = [this](std::shared_ptr<webkit::ScriptDialog> dialog) {
        return runScriptDialog(dialog);
    };
    view.onFileChooser = [this](std::shared_ptr<webkit::FileChooserRequest> request) {
        return runOpenPanel(request);
    };
    view.keepsContextMenuAction = &WebviewDelegate::keepsContextMenuAction;
}

WebKitWebView* WebviewDelegate::createWebView(const std::string& uri, WebKitWebView* opener) {
    auto url = foundation::Url::parse(uri);
    const auto query = url ? NSURL::queryParameters(*url) : std::map<std::string, std::string>{};
    const auto options = WindowOpenOptions::read(query, WindowOpenOptions::featuresFromQuery(query));
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        options.rect, options.styleMask, options.native ? opener : nullptr);
    if (options.name) controller->setName(options.name);

    std::weak_ptr<gtk::Window> host = window_;
    auto show = [host, options](WVWindowController& shown) {
        auto opener = host.lock();
        if (options.sheet && opener) {
            shown.showSheetForWindowModal(opener, options.modal);
        } else if (options.modal && opener) {
            shown.showModalInWindow(opener);
        } else {
            shown.showWindow();
        }
    };
    if (!options.native) {
        controller->loadURLString(uri);
        show(*controller);
        return nullptr;
    }
    // WebKit loads the page into the view itself and says when the window may show.
    std::weak_ptr<WVWindowController> weak = controller;
    controller->webview()->onReadyToShow = [weak, show] {
        auto shown = weak.lock();
        if (!shown) return;
        auto showOnce = show;  // this handler goes away on the next line
        shown->webview()->onReadyToShow = nullptr;
        showOnce(*shown);
    };
    return controller->webview()->view();
}

bool WebviewDelegate::decidePolicyForNavigationAction(
    const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision) {
    if (!content::PageOrigins::isOwnPage(decision->fromPage()) || decision->requestedByHost() ||
        content::PageOrigins::isOwnPage(uri) || uri.starts_with("about:")) {
        return false;
    }
    LogWarn("Refused to leave our page for {}", uri);
    decision->cancel();
    return true;
}

bool WebviewDelegate::acceptsMainFramePage(const std::string& uri) {
    // An answer of "/fetch" holds a file of the person's: shown as a page it would be one of
    // ours in every other respect.
    const auto url = foundation::Url::parse(uri);
    if (!url || url->scheme() != "myapp" || content::PageOrigins::isOwnPage(uri)) return true;
    LogWarn("Refused to show {} as a page", uri);
    return false;
}

template <class... Args>
std::function<void(Args...)> WebviewDelegate::whileShowing(std::function<void(Args...)> done) {
    ++*panelsShowing_;
    return [count = panelsShowing_, done = std::move(done)](Args... args) {
        --*count;
        done(args...);
    };
}

bool WebviewDelegate::runScriptDialog(const std::shared_ptr<webkit::ScriptDialog>& dialog) {
    switch (dialog->kind()) {
        case webkit::ScriptDialog::Kind::Alert:
            panels_->alert(gtkWindow(), dialog->message(),
                           whileShowing(std::function<void()>([dialog] { dialog->close(); })));
            return true;
        case webkit::ScriptDialog::Kind::Confirm:
            panels_->confirm(gtkWindow(), dialog->message(),
                             whileShowing(std::function<void(bool)>(
                                 [dialog](bool confirmed) { dialog->confirm(confirmed); })));
            return true;
        case webkit::ScriptDialog::Kind::Prompt:
            panels_->prompt(gtkWindow(), dialog->message(), dialog->defaultText(),
                            whileShowing(std::function<void(std::optional<std::string>)>(
                                [dialog](std::optional<std::string> text) {
                                    if (text)
                                        dialog->setText(*text);
                                    else
                                        dialog->close();  // the page gets null, not ""
                                })));
            return true;
        case webkit::ScriptDialog::Kind::BeforeUnload:
            break;
    }
    return false;
}

bool WebviewDelegate::runOpenPanel(const std::shared_ptr<webkit::FileChooserRequest>& request) {
    panels_->openFiles(gtkWindow(), request->selectMultiple(),
                       [request](std::optional<std::vector<std::string>> paths) {
                           if (paths && !paths->empty())
                               request->select(*paths);
                           else
                               request->cancel();
                       });
    return true;
}

bool WebviewDelegate::keepsContextMenuAction(int stockAction) {
    switch (stockAction) {
        case WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD:
        case WEBKIT_CONTEXT_MENU_ACTION_COPY:
        case WEBKIT_CONTEXT_MENU_ACTION_CUT:
        case WEBKIT_CONTEXT_MENU_ACTION_PASTE:
            return true;
        default:
            return false;
    }
}
