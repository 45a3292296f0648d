#include "platform/net/NetPACScript.h"

#include <JavaScriptCore/JavaScript.h>
#include <arpa/inet.h>
#include <fmt/format.h>
#include <ifaddrs.h>
#include <netdb.h>

#include <algorithm>
#include <charconv>
#include <memory>

#include "platform/net/NetPACScriptHelpers.h"
#include "platform/net/NetPACWorker.h"

// Exported by JavaScriptCore, though its declaration is not among the installed headers:
// the engine ends a script that runs longer than the limit when the callback agrees.
extern "C" {
typedef bool (*JSShouldTerminateCallback)(JSContextRef context, void* info);
void JSContextGroupSetExecutionTimeLimit(JSContextGroupRef group, double limit,
                                         JSShouldTerminateCallback callback, void* info);
}

namespace net {

namespace {

// Longest host name dnsResolve looks up.
constexpr std::size_t MaximumHostNameLength = 253;

struct StringRelease {
    void operator()(OpaqueJSString* s) const { JSStringRelease(s); }
};
using JSString = std::unique_ptr<OpaqueJSString, StringRelease>;

JSString makeString(const std::string& text) {
    return JSString(JSStringCreateWithUTF8CString(text.c_str()));
}

std::string toUTF8(JSStringRef string) {
    std::size_t size = JSStringGetMaximumUTF8CStringSize(string);
    std::string out(size, '\0');
    std::size_t written = JSStringGetUTF8CString(string, out.data(), size);
    out.resize(written > 0 ? written - 1 : 0);
    return out;
}

std::string valueText(JSContextRef context, JSValueRef value) {
    JSString string(JSValueToStringCopy(context, value, nullptr));
    return string ? toUTF8(string.get()) : std::string();
}

JSValueRef stringValue(JSContextRef context, const std::string& text) {
    auto string = makeString(text);
    return JSValueMakeString(context, string.get());
}

// The first IPv4 address of the host, as text.
std::optional<std::string> resolve(const std::string& host) {
    if (host.empty() || host.size() > MaximumHostNameLength) return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &results) != 0 || results == nullptr)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    auto* address = reinterpret_cast<sockaddr_in*>(results->ai_addr);
    bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(results);
    if (!ok) return std::nullopt;
    return std::string(text);
}

// How long this thread's script may still spend in lookups; a script calling dnsResolve
// in a loop gets null once it is used up instead of waiting on the resolver for minutes.
thread_local std::chrono::steady_clock::duration lookupTimeLeft{};

JSValueRef dnsResolve(JSContextRef context, JSObjectRef, JSObjectRef, size_t count,
                      const JSValueRef arguments[], JSValueRef*) {
    if (count < 1 || lookupTimeLeft <= std::chrono::steady_clock::duration::zero())
        return JSValueMakeNull(context);
    const auto start = std::chrono::steady_clock::now();
    auto address = resolve(valueText(context, arguments[0]));
    lookupTimeLeft -= std::chrono::steady_clock::now() - start;
    return address ? stringValue(context, *address) : JSValueMakeNull(context);
}

JSValueRef myIpAddress(JSContextRef context, JSObjectRef, JSObjectRef, size_t, const JSValueRef[],
                       JSValueRef*) {
    std::string found = "127.0.0.1";
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
            if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
            char text[INET_ADDRSTRLEN] = {};
            auto* address = reinterpret_cast<sockaddr_in*>(item->ifa_addr);
            if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
            if (std::string_view(text).starts_with("127.")) continue;
            found = text;
            break;
        }
        ::freeifaddrs(list);
    }
    return stringValue(context, found);
}

void addFunction(JSGlobalContextRef context, const char* name,
                 JSObjectCallAsFunctionCallback callback) {
    auto string = makeString(name);
    JSObjectRef function = JSObjectMakeFunctionWithCallback(context, string.get(), callback);
    JSObjectSetProperty(context, JSContextGetGlobalObject(context), string.get(), function,
                        kJSPropertyAttributeNone, nullptr);
}

bool terminate(JSContextRef, void*) {
    return true;
}

// Runs `source`; false with the exception's text in `error`.
bool evaluate(JSGlobalContextRef context, const std::string& source, JSValueRef* result,
              std::string* error) {
    auto script = makeString(source);
    JSValueRef exception = nullptr;
    JSValueRef value = JSEvaluateScript(context, script.get(), nullptr, nullptr, 1, &exception);
    if (exception != nullptr || value == nullptr) {
        if (error != nullptr) {
            *error = exception != nullptr ? valueText(context, exception)
                                          : std::string("The script could not be run");
        }
        return false;
    }
    if (result != nullptr) *result = value;
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::vector<NetProxyEntry> NetPACScript::parseResult(std::string_view result) {
    std::vector<NetProxyEntry> entries;
    std::size_t start = 0;
    while (start <= result.size()) {
        auto end = result.find(';', start);
        std::string_view item =
            trimmed(result.substr(start, end == std::string_view::npos ? end : end - start));
        auto space = item.find_first_of(" \t");
        std::string kind(item.substr(0, space));
        for (auto& c : kind) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string_view address =
            space == std::string_view::npos ? std::string_view() : trimmed(item.substr(space));
        if (kind == "DIRECT" && address.empty()) {
            entries.push_back(NetProxyEntry{});
        } else if ((kind == "PROXY" || kind == "HTTP" || kind == "SOCKS" || kind == "SOCKS5") &&
                   !address.empty()) {
            auto colon = address.rfind(':');
            int port = 0;
            if (colon != std::string_view::npos && colon > 0) {
                auto digits = address.substr(colon + 1);
                auto [stop, ec] =
                    std::from_chars(digits.data(), digits.data() + digits.size(), port);
                std::string host(address.substr(0, colon));
                // A host is a name or an address: no spaces, controls or URL parts.
                bool plainHost = std::none_of(host.begin(), host.end(), [](char c) {
                    auto u = static_cast<unsigned char>(c);
                    return u <= 0x20 || u == 0x7F || c == '/' || c == '@';
                });
                if (ec == std::errc() && stop == digits.data() + digits.size() && port > 0 &&
                    port <= 65535 && plainHost) {
                    NetProxyEntry entry;
                    entry.type = kind.starts_with("SOCKS") ? NetProxyEntry::Type::SOCKS
                                                           : NetProxyEntry::Type::HTTP;
                    entry.host = std::move(host);
                    entry.port = port;
                    entries.push_back(std::move(entry));
                }
            }
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return entries;
}

std::optional<std::vector<NetProxyEntry>> NetPACScript::copyProxiesForURL(
    const std::string& script, const foundation::Url& url, std::chrono::duration<double> limit,
    std::string* error) {
    auto answer = NetPACWorker::run(script, url, limit, error);
    if (!answer) return std::nullopt;
    return parseResult(*answer);
}

std::optional<std::string> NetPACScript::answerForURL(const std::string& script,
                                                      const foundation::Url& url,
                                                      std::chrono::duration<double> limit,
                                                      std::string* error) {
    // One engine per thread, made on first use and kept: making one costs far more than a
    // context in it, and each script still gets a context (and global object) of its own.
    thread_local JSContextGroupRef group = JSContextGroupCreate();
    JSContextGroupSetExecutionTimeLimit(group, limit.count(), terminate, nullptr);
    JSGlobalContextRef context = JSGlobalContextCreateInGroup(group, nullptr);
    addFunction(context, "dnsResolve", dnsResolve);
    addFunction(context, "myIpAddress", myIpAddress);
    lookupTimeLeft = std::chrono::duration_cast<std::chrono::steady_clock::duration>(limit / 2);

    std::optional<std::string> answer;
    JSValueRef result = nullptr;
    // The path and query of an "https" URL are the server's business only.
    std::string urlText = url.scheme() == "https"
                              ? url.scheme() + "://" + url.host() +
                                    (url.port() ? ":" + std::to_string(*url.port()) : "") + "/"
                              : url.toString();
    // Only the first entries are ever used: the answer is cut inside the engine, at the
    // last whole entry within the length, so that a huge answer is never copied out.
    std::string call = fmt::format(
        "(function (answer) {{"
        "  if (typeof answer !== 'string' || answer.length <= {0}) return answer;"
        "  var kept = answer.substring(0, {0});"
        "  return kept.substring(0, kept.lastIndexOf(';') + 1);"
        "}})(FindProxyForURL(__pacURL, __pacHost))",
        MaximumAnswerLength / 4);
    JSObjectRef global = JSContextGetGlobalObject(context);
    auto urlName = makeString("__pacURL");
    auto hostName = makeString("__pacHost");
    JSObjectSetProperty(context, global, urlName.get(), stringValue(context, urlText),
                        kJSPropertyAttributeNone, nullptr);
    JSObjectSetProperty(context, global, hostName.get(), stringValue(context, url.host()),
                        kJSPropertyAttributeNone, nullptr);
    if (evaluate(context, NetPACScriptHelpers, nullptr, error) &&
        evaluate(context, script, nullptr, error) && evaluate(context, call, &result, error)) {
        if (JSValueIsString(context, result)) {
            answer = valueText(context, result);
        } else if (error != nullptr) {
            *error = "FindProxyForURL did not answer a text";
        }
    }
    JSGlobalContextRelease(context);
    return answer;
}

}  // namespace net
