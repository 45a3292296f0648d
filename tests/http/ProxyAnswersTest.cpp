// What a request does when the system cannot say which proxy to use, when refused proxy
// credentials are replaced meanwhile, and what its HEAD request takes along for the proxy.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "CredentialAnswers.h"
#include "RequestRunning.h"
#include "http/NetAuthentication.h"
#include "http/NetFormDataRequest.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHTTPRequestDelegate.h"
#include "http/NetSessionCredentials.h"
#include "support/MainLoop.h"
#include "support/httpserver/LocalNTLMServer.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using httptest::errorCode;
using httptest::proxyChallenge;
using testsupport::LocalNTLMServer;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// Each test runs in a process of its own, so the settings backend chosen here is the
// process's from the start. False without GNOME's proxy settings schema.
bool useMemorySettings() {
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    GSettingsSchema* schema = g_settings_schema_source_lookup(
        g_settings_schema_source_get_default(), "org.gnome.system.proxy", TRUE);
    if (schema == nullptr) return false;
    g_settings_schema_unref(schema);
    return true;
}

}  // namespace

TEST(ProxyAnswersTest, AutomaticProxiesWithoutAScriptEndTheRequestWithCodeSix) {
    if (!useMemorySettings()) GTEST_SKIP() << "GNOME's proxy settings schema is not installed";
    TestHttpServer origin([](const ReceivedRequest&) { return ScriptedAnswer::ok("origin"); });
    GSettings* proxy = g_settings_new("org.gnome.system.proxy");
    g_settings_set_string(proxy, "mode", "auto");
    g_settings_set_string(proxy, "autoconfig-url", "");
    auto request = NetHTTPRequest::requestWithURL(Url::parse(origin.url("/")));
    request->startSynchronous();
    EXPECT_EQ(errorCode(*request), 6);
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->message,
              "Unable to obtain information on proxy servers needed for request");
    EXPECT_TRUE(origin.requests().empty());

    // Manual settings naming no proxy for the scheme: straight to the server.
    g_settings_set_string(proxy, "mode", "manual");
    auto direct = NetHTTPRequest::requestWithURL(Url::parse(origin.url("/")));
    direct->startSynchronous();
    EXPECT_EQ(errorCode(*direct), 0);
    EXPECT_EQ(direct->responseString(), "origin");
    g_object_unref(proxy);
}

// GNOME's settings are kept between requests, yet a change made between two requests,
// on this thread or another, is used by the second.
TEST(ProxyAnswersTest, TheNextRequestUsesChangedSystemProxySettings) {
    if (!useMemorySettings()) GTEST_SKIP() << "GNOME's proxy settings schema is not installed";
    TestHttpServer origin([](const ReceivedRequest&) { return ScriptedAnswer::ok("origin"); });
    TestHttpServer proxy([](const ReceivedRequest&) { return ScriptedAnswer::ok("proxied"); });
    GSettings* settings = g_settings_new("org.gnome.system.proxy");
    GSettings* http = g_settings_new("org.gnome.system.proxy.http");
    auto fetch = [&] {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(origin.url("/")));
        request->startSynchronous();
        return request->responseString().value_or("failed");
    };
    EXPECT_EQ(fetch(), "origin");
    const char* none[] = {nullptr};
    g_settings_set_strv(settings, "ignore-hosts", none);
    g_settings_set_string(http, "host", "127.0.0.1");
    g_settings_set_int(http, "port", proxy.port());
    g_settings_set_string(settings, "mode", "manual");
    EXPECT_EQ(fetch(), "proxied");
    EXPECT_EQ(fetch(), "proxied");
    std::thread([&] { g_settings_set_string(settings, "mode", "none"); }).join();
    EXPECT_EQ(fetch(), "origin");
    const char* local[] = {"127.0.0.1", nullptr};
    g_settings_set_string(settings, "mode", "manual");
    EXPECT_EQ(fetch(), "proxied");
    g_settings_set_strv(settings, "ignore-hosts", local);
    EXPECT_EQ(fetch(), "origin");
    EXPECT_EQ(proxy.requests().size(), 3u);
    g_object_unref(http);
    g_object_unref(settings);
}

namespace {

// A proxy that wants dave:right. A wrong answer leaves dave:right in the session when
// `storeOnRefusal`, as a request answered by its listener meanwhile would.
class GateProxy {
public:
    explicit GateProxy(bool storeOnRefusal)
        : server_([this, storeOnRefusal](const ReceivedRequest& r) {
              auto given = r.header("Proxy-Authorization");
              if (given == "Basic ZGF2ZTpyaWdodA==") return ScriptedAnswer::ok("through");
              if (given && storeOnRefusal) {
                  NetCredentialRecord record;
                  record.credentials =
                      std::make_shared<const NetCredentials>(NetCredentials{"dave", "right", ""});
                  record.authentication = NetAuthentication::createFromResponse(
                      {{"Proxy-Authenticate", "Basic realm=\"gate\""}}, true);
                  record.host = "127.0.0.1";
                  record.port = server_.port();
                  record.authenticationScheme = "Basic";
                  NetSessionCredentials::shared().storeProxyAuthenticationCredentialsInSessionStore(
                      record);
              }
              return proxyChallenge();
          }) {}

    // A request through the proxy that offers dave:wrong.
    std::shared_ptr<NetHTTPRequest> request() {
        auto made = NetHTTPRequest::requestWithURL(Url::parse("http://origin.invalid/page"));
        made->setProxy("127.0.0.1", server_.port());
        made->setProxyUsername("dave");
        made->setProxyPassword("wrong");
        return made;
    }
    std::size_t requestsSeen() const { return server_.requests().size(); }

private:
    TestHttpServer server_;
};

}  // namespace

// Refused proxy credentials give way to a record of the session before the listener is
// asked; the listener is not asked at all when the record answers.
TEST(ProxyAnswersTest, RefusedProxyCredentialsGiveWayAtOnceToTheSessions) {
    struct Asked : NetHTTPRequestDelegate {
        int times = 0;
        bool answersAuthenticationChallenges() const override { return true; }
        void proxyAuthenticationNeededForRequest(NetHTTPRequest&) override { ++times; }
    };
    httptest::forgetSessionProxyCredentials();
    GateProxy proxy(true);
    auto asked = std::make_shared<Asked>();
    auto request = proxy.request();
    request->setDelegate(asked);
    ASSERT_TRUE(request->start());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return request->isFinished(); }));
    EXPECT_EQ(errorCode(*request), 0);
    EXPECT_EQ(request->responseString(), "through");
    EXPECT_EQ(proxy.requestsSeen(), 3u);  // none, wrong, then the session's at once
    testsupport::drainMainLoop();
    EXPECT_EQ(asked->times, 0);
    httptest::forgetSessionProxyCredentials();
}

// A synchronous request asks no listener: the session's record answers, and without one the
// request ends with code 3.
TEST(ProxyAnswersTest, ASynchronousRequestTakesTheSessionsProxyCredentialsOrGivesUp) {
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "a record in the session" : "no record");
        httptest::forgetSessionProxyCredentials();
        GateProxy proxy(stored);
        auto request = proxy.request();
        request->startSynchronous();
        if (stored) {
            EXPECT_EQ(errorCode(*request), 0);
            EXPECT_EQ(request->responseString(), "through");
            EXPECT_EQ(proxy.requestsSeen(), 3u);
        } else {
            EXPECT_EQ(errorCode(*request), NetAuthenticationErrorType);
            EXPECT_EQ(request->error()->message, "Authentication needed");
            EXPECT_EQ(request->responseStatusCode(), 407);
            EXPECT_EQ(proxy.requestsSeen(), 2u);  // none, then wrong
        }
    }
    httptest::forgetSessionProxyCredentials();
}

// The HEAD request is of its main request's class and carries what the proxy needs, so it
// answers an NTLM proxy as its main request would.
TEST(ProxyAnswersTest, AHeadRequestTakesItsMainRequestsProxyAccountAndDialogChoices) {
    auto proxy = LocalNTLMServer::start(LocalNTLMServer::Role::Proxy, "ACME", "wile", "Coyote1");
    ASSERT_TRUE(proxy) << "the NTLM test server did not start";
    auto main = NetFormDataRequest::requestWithURL(Url::parse("http://origin.invalid/form"));
    main->setProxy("127.0.0.1", proxy->port());
    main->setProxyUsername("wile");
    main->setProxyPassword("Coyote1");
    main->setProxyDomain("ACME");
    main->setShouldPresentAuthenticationDialog(true);
    main->setShouldPresentProxyAuthenticationDialog(false);
    main->setPostValue(foundation::Value(std::string("v")), "k");
    // A POST keeps no connection, which NTLM's second round needs all the same.
    EXPECT_FALSE(main->shouldAttemptPersistentConnection());

    auto head = main->HEADRequest();
    ASSERT_TRUE(std::dynamic_pointer_cast<NetFormDataRequest>(head));
    EXPECT_EQ(head->requestMethod(), "HEAD");
    EXPECT_EQ(head->proxyUsername(), "wile");
    EXPECT_EQ(head->proxyPassword(), "Coyote1");
    EXPECT_EQ(head->proxyDomain(), "ACME");
    EXPECT_TRUE(head->shouldPresentAuthenticationDialog());
    EXPECT_FALSE(head->shouldPresentProxyAuthenticationDialog());

    // Its main request's credentials change afterwards: the HEAD request's own copy answers.
    main->setProxyUsername("");
    main->setProxyPassword("");
    head->startSynchronous();
    EXPECT_EQ(errorCode(*head), 0);
    EXPECT_EQ(head->responseStatusCode(), 200);
    EXPECT_EQ(head->proxyAuthenticationScheme(), "NTLM");
}
