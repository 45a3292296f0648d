#include "platform/webkit/WebView.h"

#include <webkit2/webkit2.h>

#include <algorithm>

namespace webkit {
namespace {

// The committed page's address, kept on WebKit's view itself so that whoever holds only the
// view (a scheme request) can tell which page it shows.
constexpr const char* kCommittedURIKey = "orvandel-committed-uri";

}  // namespace

NavigationDecision::NavigationDecision(WebKitPolicyDecision* decision, std::string fromPage,
                                       bool requestedByHost)
    : decision_(WEBKIT_POLICY_DECISION(g_object_ref(decision))),
      fromPage_(std::move(fromPage)),
      requestedByHost_(requestedByHost) {}

NavigationDecision::~NavigationDecision() {
    if (!decided_) webkit_policy_decision_use(decision_);
    g_object_unref(decision_);
}

void NavigationDecision::allow() {
    if (decided_) return;
    decided_ = true;
    webkit_policy_decision_use(decision_);
}

void NavigationDecision::cancel() {
    if (decided_) return;
    decided_ = true;
    webkit_policy_decision_ignore(decision_);
}

ScriptDialog::ScriptDialog(WebKitScriptDialog* dialog) : dialog_(webkit_script_dialog_ref(dialog)) {}

ScriptDialog::~ScriptDialog() {
    close();
    webkit_script_dialog_unref(dialog_);
}

ScriptDialog::Kind ScriptDialog::kind() const {
    switch (webkit_script_dialog_get_dialog_type(dialog_)) {
        case WEBKIT_SCRIPT_DIALOG_CONFIRM:
            return Kind::Confirm;
        case WEBKIT_SCRIPT_DIALOG_PROMPT:
            return Kind::Prompt;
        case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
            return Kind::BeforeUnload;
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            break;
    }
    return Kind::Alert;
}

std::string ScriptDialog::message() const {
    const char* text = webkit_script_dialog_get_message(dialog_);
    return text ? text : "";
}

std::string ScriptDialog::defaultText() const {
    if (kind() != Kind::Prompt) return {};
    const char* text = webkit_script_dialog_prompt_get_default_text(dialog_);
    return text ? text : "";
}

void ScriptDialog::confirm(bool confirmed) {
    if (closed_) return;
    if (kind() == Kind::Confirm || kind() == Kind::BeforeUnload)
        webkit_script_dialog_confirm_set_confirmed(dialog_, confirmed);
    close();
}

void ScriptDialog::setText(const std::string& text) {
    if (closed_) return;
    if (kind() == Kind::Prompt) webkit_script_dialog_prompt_set_text(dialog_, text.c_str());
    close();
}

void ScriptDialog::close() {
    if (closed_) return;
    closed_ = true;
    if (!inSignal_) webkit_script_dialog_close(dialog_);
}

FileChooserRequest::FileChooserRequest(WebKitFileChooserRequest* request)
    : request_(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request))) {}

FileChooserRequest::~FileChooserRequest() {
    cancel();
    g_object_unref(request_);
}

bool FileChooserRequest::selectMultiple() const {
    return webkit_file_chooser_request_get_select_multiple(request_);
}

void FileChooserRequest::select(const std::vector<std::string>& paths) {
    if (answered_) return;
    answered_ = true;
    std::vector<const char*> files;
    for (const auto& path : paths) files.push_back(path.c_str());
    files.push_back(nullptr);
    webkit_file_chooser_request_select_files(request_, files.data());
}

void FileChooserRequest::cancel() {
    if (answered_) return;
    answered_ = true;
    webkit_file_chooser_request_cancel(request_);
}

WebView::WebView(const Options& options) {
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_developer_extras(settings, options.developerExtras);
    webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
    webkit_settings_set_allow_universal_access_from_file_urls(settings, TRUE);
    webkit_settings_set_enable_javascript(settings, TRUE);
    if (options.relatedTo) {
        view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view",
                                             options.relatedTo, "settings", settings, nullptr));
    } else {
        view_ = WEBKIT_WEB_VIEW(
            g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                         options.context ? options.context : webkit_web_context_get_default(),
                         "settings", settings, nullptr));
    }
    g_object_unref(settings);
    g_object_ref_sink(view_);
    connectSignals();
}

WebView::WebView(WebKitWebView* adopted) : view_(WEBKIT_WEB_VIEW(g_object_ref_sink(adopted))) {
    connectSignals();
}

WebView::~WebView() {
    g_signal_handlers_disconnect_by_data(view_, this);
    GtkWidget* widget = GTK_WIDGET(view_);
    if (GtkWidget* parent = gtk_widget_get_parent(widget)) {
        gtk_container_remove(GTK_CONTAINER(parent), widget);
    }
    g_object_unref(view_);
}

GtkWidget* WebView::widget() const {
    return GTK_WIDGET(view_);
}

void WebView::loadURI(const std::string& uri) {
    webkit_web_view_load_uri(view_, uri.c_str());
    rememberHostLoad();
}

void WebView::loadRequest(const std::string& uri,
                          const std::vector<std::pair<std::string, std::string>>& headers) {
    WebKitURIRequest* request = webkit_uri_request_new(uri.c_str());
    if (SoupMessageHeaders* fields = webkit_uri_request_get_http_headers(request)) {
        for (const auto& [name, value] : headers)
            soup_message_headers_append(fields, name.c_str(), value.c_str());
    }
    webkit_web_view_load_request(view_, request);
    g_object_unref(request);
    rememberHostLoad();
}

void WebView::rememberHostLoad() {
    // The view names the load it starts at once, written as its navigation will be.
    constexpr std::size_t kAwaitedAtMost = 8;
    hostLoads_.push_back(uri());
    if (hostLoads_.size() > kAwaitedAtMost) hostLoads_.pop_front();
}

bool WebView::takeHostLoad(const std::string& uri) {
    const auto it = std::find(hostLoads_.begin(), hostLoads_.end(), uri);
    if (it == hostLoads_.end()) return false;
    hostLoads_.erase(it);
    return true;
}

void WebView::reload() {
    webkit_web_view_reload(view_);
}

std::string WebView::uri() const {
    const char* uri = webkit_web_view_get_uri(view_);
    return uri ? uri : "";
}

std::string WebView::committedURIOf(WebKitWebView* view) {
    const auto* uri =
        view ? static_cast<const char*>(g_object_get_data(G_OBJECT(view), kCommittedURIKey)) : nullptr;
    return uri ? uri : "";
}

std::string WebView::title() const {
    const char* title = webkit_web_view_get_title(view_);
    return title ? title : "";
}

void WebView::connectSignals() {
    g_signal_connect(view_, "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                         auto* self = static_cast<WebView*>(data);
                         self->loadChanged(event);
                     }),
                     this);
    g_signal_connect(view_, "load-failed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                    gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         if (self->onLoadFailed)
                             self->onLoadFailed(uri ? uri : "", error ? error->message : "",
                                                !self->committedSinceStart_);
                         return FALSE;
                     }),
                     this);
    g_signal_connect(view_, "authenticate",
                     G_CALLBACK(+[](WebKitWebView*, WebKitAuthenticationRequest* request,
                                    gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         return self->onAuthenticate && self->onAuthenticate(request);
                     }),
                     this);
    g_signal_connect(view_, "decide-policy",
                     G_CALLBACK(+[](WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE)
                             return self->decideResponse(decision);
                         if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
                             type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
                             return FALSE;
                         }
                         if (!self->onNavigation) return FALSE;
                         auto* nav = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
                         WebKitNavigationAction* action =
                             webkit_navigation_policy_decision_get_navigation_action(nav);
                         WebKitURIRequest* request = webkit_navigation_action_get_request(action);
                         const std::string uri = webkit_uri_request_get_uri(request)
                                                     ? webkit_uri_request_get_uri(request)
                                                     : "";
                         const bool byHost = type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
                                             self->takeHostLoad(uri);
                         self->onNavigation(uri, std::make_shared<NavigationDecision>(
                                                     decision, self->committedUri_, byHost));
                         return TRUE;
                     }),
                     this);
    g_signal_connect(view_, "notify::title",
                     G_CALLBACK(+[](WebKitWebView*, GParamSpec*, gpointer data) {
                         auto* self = static_cast<WebView*>(data);
                         if (self->onTitleChanged) self->onTitleChanged(self->title());
                     }),
                     this);
    g_signal_connect(
        view_, "web-process-terminated",
        G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
            auto* self = static_cast<WebView*>(data);
            if (!self->onWebProcessTerminated) return;
            switch (reason) {
                case WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT:
                    self->onWebProcessTerminated(TerminationReason::ExceededMemoryLimit);
                    return;
                case WEBKIT_WEB_PROCESS_TERMINATED_BY_API:
                    self->onWebProcessTerminated(TerminationReason::EndedByApplication);
                    return;
                case WEBKIT_WEB_PROCESS_CRASHED:
                    break;
            }
            self->onWebProcessTerminated(TerminationReason::Crashed);
        }),
        this);
    g_signal_connect(view_, "create",
                     G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction* action,
                                    gpointer data) -> GtkWidget* {
                         auto* self = static_cast<WebView*>(data);
                         if (!self->onCreateWindow) return nullptr;
                         WebKitURIRequest* request = webkit_navigation_action_get_request(action);
                         const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
                         WebKitWebView* made = self->onCreateWindow(uri ? uri : "");
                         return made ? GTK_WIDGET(made) : nullptr;
                     }),
                     this);
    g_signal_connect(view_, "ready-to-show", G_CALLBACK(+[](WebKitWebView*, gpointer data) {
                         auto* self = static_cast<WebView*>(data);
                         if (self->onReadyToShow) self->onReadyToShow();
                     }),
                     this);
    g_signal_connect(view_, "script-dialog",
                     G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog* dialog,
                                    gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         if (!self->onScriptDialog) return FALSE;
                         auto asked = std::make_shared<ScriptDialog>(dialog);
                         asked->setAnsweringInSignal(true);
                         const bool taken = self->onScriptDialog(asked);
                         asked->setAnsweringInSignal(false);
                         return taken;
                     }),
                     this);
    g_signal_connect(view_, "run-file-chooser",
                     G_CALLBACK(+[](WebKitWebView*, WebKitFileChooserRequest* request,
                                    gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         if (!self->onFileChooser) return FALSE;
                         return self->onFileChooser(std::make_shared<FileChooserRequest>(request));
                     }),
                     this);
    g_signal_connect(view_, "context-menu",
                     G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                                    WebKitHitTestResult*, gpointer data) -> gboolean {
                         auto* self = static_cast<WebView*>(data);
                         if (!self->keepsContextMenuAction) return FALSE;
                         GList* items = g_list_copy(webkit_context_menu_get_items(menu));
                         for (GList* it = items; it; it = it->next) {
                             auto* item = WEBKIT_CONTEXT_MENU_ITEM(it->data);
                             const int action = int(webkit_context_menu_item_get_stock_action(item));
                             if (!self->keepsContextMenuAction(action))
                                 webkit_context_menu_remove(menu, item);
                         }
                         g_list_free(items);
                         return webkit_context_menu_get_n_items(menu) == 0;
                     }),
                     this);
    g_signal_connect(view_, "close", G_CALLBACK(+[](WebKitWebView*, gpointer data) {
                         auto* self = static_cast<WebView*>(data);
                         if (self->onCloseRequested) self->onCloseRequested();
                     }),
                     this);
}

void WebView::loadChanged(int event) {
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            committedSinceStart_ = false;
            if (onLoadStep) onLoadStep(LoadStep::Started, uri());
            return;
        case WEBKIT_LOAD_COMMITTED:
            committedSinceStart_ = true;
            committedUri_ = uri();
            g_object_set_data_full(G_OBJECT(view_), kCommittedURIKey,
                                   g_strdup(committedUri_.c_str()), g_free);
            if (onLoadStep) onLoadStep(LoadStep::Committed, committedUri_);
            return;
        case WEBKIT_LOAD_FINISHED:
            if (onLoadStep) onLoadStep(LoadStep::Finished, uri());
            return;
        default:
            return;
    }
}

int WebView::decideResponse(WebKitPolicyDecision* decision) {
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
    const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
    const std::string uri = address ? address : "";
    if (acceptsMainFramePage && webkit_response_policy_decision_is_main_frame_main_resource(response) &&
        !acceptsMainFramePage(uri)) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    return onNavigationResponse && onNavigationResponse(uri, decision);
}

void WebView::addUserScript(const std::string& source) {
    WebKitUserScript* script = webkit_user_script_new(
        source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view_), script);
    webkit_user_script_unref(script);
}

namespace {

std::string typeNameOf(JSCValue* value) {
    if (jsc_value_is_boolean(value)) return "boolean";
    if (jsc_value_is_number(value)) return "number";
    if (jsc_value_is_string(value)) return "string";
    if (jsc_value_is_null(value)) return "null";
    if (jsc_value_is_undefined(value)) return "undefined";
    if (jsc_value_is_array(value)) return "array";
    if (jsc_value_is_function(value)) return "function";
    return "object";
}

}  // namespace

void WebView::evaluateJavascript(const std::string& script,
                                 std::function<void(ScriptResult)> completion) {
    struct Pending {
        std::function<void(ScriptResult)> completion;
    };
    auto* pending = new Pending{std::move(completion)};
    webkit_web_view_evaluate_javascript(
        view_, script.c_str(), gssize(script.size()), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            ScriptResult outcome;
            if (value) {
                outcome.typeName = typeNameOf(value);
                if (jsc_value_is_string(value)) {
                    char* text = jsc_value_to_string(value);
                    outcome.string = text ? text : "";
                    g_free(text);
                }
                if (jsc_value_is_undefined(value)) {
                    outcome.json = "null";
                } else if (char* json = jsc_value_to_json(value, 0)) {
                    outcome.json = json;
                    g_free(json);
                } else {
                    outcome.json = "null";
                }
                g_object_unref(value);
            } else {
                outcome.error = error ? error->message : "the script gave no result";
            }
            if (error) g_error_free(error);
            if (pending->completion) pending->completion(std::move(outcome));
        },
        pending);
}

}  // namespace webkit
