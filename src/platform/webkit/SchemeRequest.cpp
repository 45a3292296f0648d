#include "platform/webkit/SchemeRequest.h"

#include <webkit2/webkit2.h>

#include "platform/webkit/MainContext.h"
#include "platform/webkit/SchemeBodyStream.h"
#include "platform/webkit/WebView.h"

namespace webkit {
namespace {

std::vector<std::uint8_t> readBody(WebKitURISchemeRequest* request) {
    std::vector<std::uint8_t> body;
    GInputStream* stream = webkit_uri_scheme_request_get_http_body(request);
    if (!stream) return body;
    std::uint8_t chunk[16384];
    for (;;) {
        const gssize n = g_input_stream_read(stream, chunk, sizeof chunk, nullptr, nullptr);
        if (n <= 0) break;
        body.insert(body.end(), chunk, chunk + n);
    }
    g_object_unref(stream);
    return body;
}

}  // namespace

SchemeRequest::SchemeRequest(WebKitURISchemeRequest* request)
    : request_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))) {
    uri_ = webkit_uri_scheme_request_get_uri(request);
    if (const char* method = webkit_uri_scheme_request_get_http_method(request)) method_ = method;
    pageUri_ = WebView::committedURIOf(webkit_uri_scheme_request_get_web_view(request));
    if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
        SoupMessageHeadersIter it;
        soup_message_headers_iter_init(&it, headers);
        const char* name = nullptr;
        const char* value = nullptr;
        while (soup_message_headers_iter_next(&it, &name, &value))
            headers_.emplace_back(name, value);
    }
    body_ = readBody(request);
}

SchemeRequest::~SchemeRequest() {
    WebKitURISchemeRequest* request = request_;
    if (claimAnswer()) {
        runOnMainContext([request] {
            GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED,
                                                "the request was dropped without an answer");
            webkit_uri_scheme_request_finish_error(request, error);
            g_error_free(error);
            g_object_unref(request);
        });
        return;
    }
    runOnMainContext([request] { g_object_unref(request); });
}

namespace {

// Hands the view the head and the stream that carries the body.
void finishWithResponse(WebKitURISchemeRequest* request, int status, const HeaderList& headers,
                        GInputStream* stream, std::int64_t length) {
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, gint64(length));
    webkit_uri_scheme_response_set_status(response, guint(status), nullptr);
    SoupMessageHeaders* fields = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : headers) {
        soup_message_headers_replace(fields, name.c_str(), value.c_str());
        if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) {
            webkit_uri_scheme_response_set_content_type(response, value.c_str());
        }
    }
    webkit_uri_scheme_response_set_http_headers(response, fields);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
}

}  // namespace

void SchemeRequest::respond(int status, HeaderList headers, std::vector<std::uint8_t> body) {
    if (!claimAnswer()) return;
    WebKitURISchemeRequest* request = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request_));
    runOnMainContext([request, status, headers = std::move(headers), body = std::move(body)] {
        GBytes* bytes = g_bytes_new(body.data(), body.size());
        GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
        finishWithResponse(request, status, headers, stream, std::int64_t(body.size()));
        g_object_unref(stream);
        g_bytes_unref(bytes);
        g_object_unref(request);
    });
}

void SchemeRequest::respond(int status, HeaderList headers, std::int64_t length,
                            std::shared_ptr<SchemeBody> body) {
    if (!claimAnswer()) return;
    WebKitURISchemeRequest* request = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request_));
    runOnMainContext([request, status, headers = std::move(headers), length,
                      body = std::move(body)]() mutable {
        GInputStream* stream = makeSchemeBodyStream(std::move(body));
        finishWithResponse(request, status, headers, stream, length);
        g_object_unref(stream);
        g_object_unref(request);
    });
}

void SchemeRequest::fail(std::string message) {
    if (!claimAnswer()) return;
    WebKitURISchemeRequest* request = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request_));
    runOnMainContext([request, message = std::move(message)] {
        GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, message.c_str());
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        g_object_unref(request);
    });
}

void registerScheme(WebKitWebContext* context, const std::string& scheme, SchemeHandler handler) {
    auto* boxed = new SchemeHandler(std::move(handler));
    webkit_web_context_register_uri_scheme(
        context, scheme.c_str(),
        [](WebKitURISchemeRequest* request, gpointer data) {
            (*static_cast<SchemeHandler*>(data))(std::make_shared<SchemeRequest>(request));
        },
        boxed, [](gpointer data) { delete static_cast<SchemeHandler*>(data); });
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme.c_str());
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme.c_str());
}

}  // namespace webkit
