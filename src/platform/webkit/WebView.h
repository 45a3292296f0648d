#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;
typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitPolicyDecision WebKitPolicyDecision;
typedef struct _WebKitScriptDialog WebKitScriptDialog;
typedef struct _WebKitFileChooserRequest WebKitFileChooserRequest;
typedef struct _WebKitAuthenticationRequest WebKitAuthenticationRequest;

namespace webkit {

// A navigation the view asks about; decided once, later if need be. One that goes out of
// scope undecided is allowed.
class NavigationDecision {
public:
    NavigationDecision(WebKitPolicyDecision* decision, std::string fromPage = {},
                       bool requestedByHost = false);
    ~NavigationDecision();
    NavigationDecision(const NavigationDecision&) = delete;
    NavigationDecision& operator=(const NavigationDecision&) = delete;

    void allow();
    void cancel();
    // The page the view shows as it asks (its committed address; empty before the first).
    const std::string& fromPage() const { return fromPage_; }
    // The host itself loads the address (loadURI, loadRequest), not the page or the user.
    bool requestedByHost() const { return requestedByHost_; }

private:
    WebKitPolicyDecision* decision_;
    std::string fromPage_;
    bool requestedByHost_;
    bool decided_ = false;
};

// A script panel the page asks for. The page waits until it is answered; an answer not
// given when the last reference goes is "cancel".
class ScriptDialog {
public:
    enum class Kind { Alert, Confirm, Prompt, BeforeUnload };
    explicit ScriptDialog(WebKitScriptDialog* dialog);
    ~ScriptDialog();
    ScriptDialog(const ScriptDialog&) = delete;
    ScriptDialog& operator=(const ScriptDialog&) = delete;

    Kind kind() const;
    std::string message() const;
    std::string defaultText() const;  // prompts only
    void confirm(bool confirmed);     // confirms only; closes the panel
    void setText(const std::string& text);  // prompts only; closes the panel
    void close();

    // While the view's signal runs, an answer is only recorded: WebKit takes it when the
    // signal returns. Later answers close the panel themselves.
    void setAnsweringInSignal(bool inSignal) { inSignal_ = inSignal; }

private:
    WebKitScriptDialog* dialog_;
    bool closed_ = false;
    bool inSignal_ = false;
};

// A file input's request for files. Cancelled when it goes unanswered.
class FileChooserRequest {
public:
    explicit FileChooserRequest(WebKitFileChooserRequest* request);
    ~FileChooserRequest();
    FileChooserRequest(const FileChooserRequest&) = delete;
    FileChooserRequest& operator=(const FileChooserRequest&) = delete;

    bool selectMultiple() const;
    void select(const std::vector<std::string>& paths);
    void cancel();

private:
    WebKitFileChooserRequest* request_;
    bool answered_ = false;
};

// The outcome of a script: its value as JSON text, or the reason it failed.
struct ScriptResult {
    std::optional<std::string> json;
    // The text itself when the value is a string.
    std::optional<std::string> string;
    std::optional<std::string> error;
    // The value's kind: "boolean", "number", "string", "null", "undefined", "array",
    // "function" or "object"; empty after an error.
    std::string typeName;
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
    // Loads the address with the request's own header fields.
    void loadRequest(const std::string& uri,
                     const std::vector<std::pair<std::string, std::string>>& headers);
    std::string uri() const;
    // Loads the view's page again (a web process that ended is started afresh).
    void reload();
    // The address of the document the view shows: it changes when a load commits, not when
    // it starts, so it names the page whose scripts run now. Empty before the first page.
    const std::string& committedURI() const { return committedUri_; }
    // The same for any view of ours, from WebKit's side (the view a scheme request names).
    static std::string committedURIOf(WebKitWebView* view);
    std::string title() const;
    void evaluateJavascript(const std::string& script,
                            std::function<void(ScriptResult)> completion = nullptr);

    // Navigations of the page's frames; no handler allows them all.
    std::function<void(const std::string& uri, std::shared_ptr<NavigationDecision>)> onNavigation;
    std::function<void(const std::string& title)> onTitleChanged;
    // Why a web process ended.
    enum class TerminationReason { Crashed, ExceededMemoryLimit, EndedByApplication };
    // The web process ended: scripts will not answer until the page is loaded again.
    std::function<void(TerminationReason)> onWebProcessTerminated;
    // The main frame's answer for the address is about to become the shown page; false
    // refuses it (the page shown so far stays). No handler takes them all.
    std::function<bool(const std::string& uri)> acceptsMainFramePage;
    // The page asks for a new window for the URI; answers the view to show it in, or null
    // when no view of WebKit's should open (the host may open a window of its own).
    std::function<WebKitWebView*(const std::string& uri)> onCreateWindow;
    // The page asked its own window to close (window.close()).
    std::function<void()> onCloseRequested;
    // A view made for the page (onCreateWindow) has its window features: show it now.
    std::function<void()> onReadyToShow;
    // Alert, confirm and prompt panels; true when taken (answered now or later).
    std::function<bool(std::shared_ptr<ScriptDialog>)> onScriptDialog;
    // A file input asks for files; true when taken.
    std::function<bool(std::shared_ptr<FileChooserRequest>)> onFileChooser;
    // Which of the context menu's items stay, by the engine's stock action number; a menu
    // left empty is not shown. No handler keeps them all.
    std::function<bool(int stockAction)> keepsContextMenuAction;

    // The main frame's load steps, in order, with the address loading.
    enum class LoadStep { Started, Committed, Finished };
    std::function<void(LoadStep, const std::string& uri)> onLoadStep;
    // A main-frame load that failed, with WebKit's words; `provisional` when it failed before
    // its page was committed. WebKit's own handling (its error page) follows.
    std::function<void(const std::string& uri, const std::string& error, bool provisional)>
        onLoadFailed;
    // An answer that is to be shown and that no check above refused; true when the handler
    // decided it (through the policy decision), false leaves WebKit's own choice.
    std::function<bool(const std::string& uri, WebKitPolicyDecision* decision)>
        onNavigationResponse;
    // A page's server asks for credentials; true when taken (the request is then answered by
    // the handler), false leaves WebKit's own handling.
    std::function<bool(WebKitAuthenticationRequest* request)> onAuthenticate;

    // A script run at the start of every page of this view (and of views sharing its
    // content manager).
    void addUserScript(const std::string& source);

private:
    void connectSignals();
    // A step of the main frame's load (a WebKitLoadEvent).
    void loadChanged(int event);
    // An answer about to be shown: handled (TRUE) when a main-frame page is refused or the
    // response handler decided it.
    int decideResponse(WebKitPolicyDecision* decision);

    // Notes a load of the host's own, so that its navigation is known as the host's.
    void rememberHostLoad();
    // Whether the navigation to the address is a load of the host's own (it is then no
    // longer awaited).
    bool takeHostLoad(const std::string& uri);

    WebKitWebView* view_;
    std::string committedUri_;
    // The load under way has committed its page.
    bool committedSinceStart_ = false;
    // The host's loads whose navigations have not been decided yet, oldest first, as WebKit
    // writes their addresses.
    std::deque<std::string> hostLoads_;
};

}  // namespace webkit
