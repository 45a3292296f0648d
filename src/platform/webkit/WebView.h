#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;

namespace webkit {

// A navigation the view asks about; decided once, later if need be. One that goes out of
// scope undecided is allowed.
class NavigationDecision {
public:
    explicit NavigationDecision(WebKitPolicyDecision* decision);
    ~NavigationDecision();
    NavigationDecision(const NavigationDecision&) = delete;
    NavigationDecision& operator=(const NavigationDecision&) = delete;

    void allow();
    void cancel();

private:
    WebKitPolicyDecision* decision_;
    bool decided_ = false;
};

// The outcome of a script: its value as JSON text, or the reason it failed.
struct ScriptResult {
    std::optional<std::string> json;
    // The text itself when the value is a string.
    std::optional<std::string> string;
    std::optional<std::string> error;
    bool isTrue() const { return json && *json == "true"; }
};

// One browser view over WebKitGTK. Main thread only.
class WebView {
public:
    struct Options {
        WebKitWebContext* context = nullptr;  // the default context when null
        bool developerExtras = false;
        // A view the page asked for (window.open) must be made related to its opener.
        WebKitWebView* relatedTo = nullptr;
    };

    explicit WebView(const Options& options);
    // Wraps a view WebKit made itself (for a window the page opened).
    explicit WebView(WebKitWebView* adopted);
    ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    GtkWidget* widget() const;
    WebKitWebView* view() const { return view_; }

    void loadURI(const std::string& uri);
    std::string uri() const;
    std::string title() const;
    void evaluateJavascript(const std::string& script,
                            std::function<void(ScriptResult)> completion = nullptr);

    // Navigations of the page's frames; no handler allows them all.
    std::function<void(const std::string& uri, std::shared_ptr<NavigationDecision>)> onNavigation;
    std::function<void(const std::string& title)> onTitleChanged;
    // The web process ended (crashed or was killed): scripts will not answer.
    std::function<void()> onWebProcessTerminated;
    // The page asks for a new window for the URI; answers the view to show it in, or null
    // when no view of WebKit's should open (the host may open a window of its own).
    std::function<WebKitWebView*(const std::string& uri)> onCreateWindow;
    // The page asked its own window to close (window.close()).
    std::function<void()> onCloseRequested;

private:
    void connectSignals();

    WebKitWebView* view_;
};

}  // namespace webkit
