#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/gtk/Window.h"
#include "shell/bridge/WebViewNavigationDelegate.h"
#include "shell/windows/WebviewPanels.h"

typedef struct _WebKitWebView WebKitWebView;

namespace webkit {
class WebView;
class ScriptDialog;
class FileChooserRequest;
}  // namespace webkit

// What the browser view asks of its window's user interface: the page's script panels,
// file inputs, new windows the page opens with window.open (ordinary, modal or sheets of
// this one, as the URL's query says), and which context-menu items stay.
//
// WebKit tells a new view its window features only once it is shown, too late to place
// the window. So every page gets a window.open that carries its features into the URL's
// query ("width=500,resizable" becomes "&width=500&resizable=yes"), where they are read
// with the other window options, for every kind of window alike.
//
// It is the bridge front's further delegate: our page gives way only to another of ours or
// to what the application itself loads, so that a file or link dropped on the window (or
// anything else a person or a page sends it to) never replaces it. Other pages navigate
// freely.
class WebviewDelegate : public WebViewNavigationDelegate {
public:
    // The script that makes window.open carry its features in the URL.
    static const char* const kWindowOpenScript;
    // The script that keeps dropped links and text out of our pages, for this process's
    // own origins.
    static std::string dropGuardScript();
    // Whether the main frame may show the answer for the address: never one of "/fetch".
    static bool acceptsMainFramePage(const std::string& uri);

    explicit WebviewDelegate(std::weak_ptr<gtk::Window> window);

    // Serves the view: panels, file inputs, context menus and the window.open script.
    void attachTo(webkit::WebView& view);

    // Opens the web window for the URI. Answers its browser view when the page asked for a
    // "native" window (WebKit then shows the page's own window object in it, and the
    // window is shown once the view is ready), else null.
    WebKitWebView* createWebView(const std::string& uri, WebKitWebView* opener);

    bool decidePolicyForNavigationAction(
        const std::string& uri, const std::shared_ptr<webkit::NavigationDecision>& decision) override;
    bool runScriptDialog(const std::shared_ptr<webkit::ScriptDialog>& dialog);
    bool runOpenPanel(const std::shared_ptr<webkit::FileChooserRequest>& request);
    // The browser's copy image, copy, cut and paste items stay; all others go.
    static bool keepsContextMenuAction(int stockAction);

    // How the panels are shown (message boxes and an open panel unless replaced).
    void setPanels(std::shared_ptr<WebviewPanels> panels) { panels_ = std::move(panels); }
    // Whether a script panel of the page is waiting for an answer.
    bool showsPanel() const { return *panelsShowing_ > 0; }

private:
    static const char* const kDropGuardScript;
    GtkWindow* gtkWindow() const;
    // Counts the panel as showing until the returned completion wrapper has run.
    template <class... Args>
    std::function<void(Args...)> whileShowing(std::function<void(Args...)> done);

    std::weak_ptr<gtk::Window> window_;
    std::shared_ptr<WebviewPanels> panels_;
    // Shared with the panels' completions, which may outlive the delegate.
    std::shared_ptr<int> panelsShowing_ = std::make_shared<int>(0);
};
