// What the request class forgets with clearSession, what copy() carries over, and a cached
// answer given to a request made on behalf of another.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "foundation/Base64.h"
#include "http/NetCookieJar.h"
#include "http/NetDownloadCache.h"
#include "http/NetFormDataRequest.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHTTPRequestDelegate.h"
#include "http/NetProgressDelegate.h"
#include "http/NetRequestDefaults.h"
#include "http/NetSessionCookies.h"
#include "http/NetSessionCredentials.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

std::filesystem::path scratchFolder() {
    auto folder = std::filesystem::temp_directory_path() /
                  ("session-" + std::to_string(::getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string basic(const std::string& pair) {
    return "Basic " + foundation::base64::encode(std::span(
                          reinterpret_cast<const std::uint8_t*>(pair.data()), pair.size()));
}

// The settings copy() carries over, in one text.
std::string settings(const NetHTTPRequest& r) {
    std::string text = r.requestMethod() + "|" + r.requestHeader("X-Test").value_or("") + "|" +
                       r.username() + "|" + r.password() + "|" + r.domain() + "|" +
                       r.proxyUsername() + "|" + r.proxyPassword() + "|" + r.proxyDomain() + "|" +
                       r.defaultResponseEncoding() + "|" + r.authenticationScheme() + "|" +
                       std::to_string(r.tag()) + "|" + std::to_string(r.timeOutSeconds()) + "|" +
                       std::to_string(r.persistentConnectionTimeoutSeconds()) + "|" +
                       std::to_string(r.numberOfTimesToRetryOnTimeout()) + "|";
    for (bool on : {r.useCookiePersistence(), r.useKeychainPersistence(), r.useSessionPersistence(),
                    r.allowCompressedResponse(), r.shouldPresentAuthenticationDialog(),
                    r.shouldPresentProxyAuthenticationDialog(), r.shouldResetDownloadProgress(),
                    r.shouldResetUploadProgress(), r.showAccurateProgress(),
                    r.allowResumeForFileDownloads(), r.useHTTPVersionOne(), r.shouldRedirect(),
                    r.validatesSecureCertificate(), r.shouldPresentCredentialsBeforeChallenge(),
                    r.shouldUseRFC2616RedirectBehaviour(), r.shouldAttemptPersistentConnection()})
        text += on ? '1' : '0';
    return text;
}

struct Recorder : NetHTTPRequestDelegate {
    int finished = 0;
    int redirected = 0;
    void requestFinished(NetHTTPRequest&) override { ++finished; }
    void requestRedirected(NetHTTPRequest&) override { ++redirected; }
};

}  // namespace

TEST(ClearSessionTest, ForgetsServerCredentialsCookiesAndSessionCacheButKeepsTheRest) {
    auto folder = scratchFolder();
    auto cache = std::make_shared<NetDownloadCache>();
    cache->setStoragePath(folder.string());
    NetRequestDefaults::shared().setDefaultCache(cache);
    auto& credentials = NetSessionCredentials::shared();
    credentials.clearServerCredentials();

    // Everything under /private wants alice:wonder; every answer sets a cookie.
    TestHttpServer server([](const ReceivedRequest& request) {
        if (request.target.starts_with("/private") &&
            request.header("Authorization") != basic("alice:wonder")) {
            ScriptedAnswer answer;
            answer.raw =
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                "Content-Length: 0\r\n\r\n";
            return answer;
        }
        return ScriptedAnswer::ok("body of " + request.target, "Set-Cookie: visited=yes\r\n");
    });
    auto run = [&](const std::string& path, const std::function<void(NetHTTPRequest&)>& setup) {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url(path)));
        setup(*request);
        request->startSynchronous();
        return request;
    };
    auto signedIn = run("/private/a", [](NetHTTPRequest& r) {
        r.setUsername("alice");
        r.setPassword("wonder");
        r.setAuthenticationScheme("Basic");
    });
    ASSERT_FALSE(signedIn->error());
    run("/session", [](NetHTTPRequest& r) { r.setCacheStoragePolicy(0); });
    run("/kept", [](NetHTTPRequest& r) { r.setCacheStoragePolicy(1); });
    NetCredentialRecord proxyRecord;
    proxyRecord.credentials = std::make_shared<NetCredentials>(NetCredentials{"p", "q", ""});
    proxyRecord.host = "proxy.example";
    proxyRecord.port = 3128;
    credentials.storeProxyAuthenticationCredentialsInSessionStore(proxyRecord);
    // What is kept before: the credentials open /private without asking, the cookie is
    // listed and sent, both answers are cached.
    ASSERT_EQ(credentials.sessionCredentialsStore().size(), 1u);
    EXPECT_FALSE(run("/private/b", [](NetHTTPRequest&) {})->error());
    ASSERT_FALSE(NetSessionCookies::shared().sessionCookies().empty());
    ASSERT_FALSE(NetCookieJar::shared().cookiesForURL(*Url::parse(server.url("/")), 0).empty());
    ASSERT_TRUE(cache->cachedResponseDataForURL(*Url::parse(server.url("/session"))));

    NetHTTPRequest::clearSession();

    EXPECT_TRUE(credentials.sessionCredentialsStore().empty());
    EXPECT_EQ(credentials.sessionProxyCredentialsStore().size(), 1u);
    EXPECT_TRUE(NetSessionCookies::shared().sessionCookies().empty());
    EXPECT_TRUE(NetCookieJar::shared().cookiesForURL(*Url::parse(server.url("/")), 0).empty());
    EXPECT_FALSE(cache->cachedResponseDataForURL(*Url::parse(server.url("/session"))));
    EXPECT_TRUE(cache->cachedResponseDataForURL(*Url::parse(server.url("/kept"))));
    auto after = run("/private/c", [](NetHTTPRequest& r) { r.setCachePolicy(1); });
    ASSERT_TRUE(after->error());
    EXPECT_EQ(after->error()->code, 3);
    EXPECT_FALSE(server.requests().back().header("Cookie"));

    credentials.removeProxyAuthenticationCredentialsFromSessionStore(proxyRecord.credentials);
    NetRequestDefaults::shared().setDefaultCache(nullptr);
    std::filesystem::remove_all(folder);
}

TEST(RequestCopyTest, CarriesTheSettingsAndListenersButStartsTheCacheAndRunStateAfresh) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("done"); });
    auto recorder = std::make_shared<Recorder>();
    auto progress = std::make_shared<NetProgressDelegate>();
    auto cache = std::make_shared<NetDownloadCache>();
    auto source = NetFormDataRequest::requestWithURL(Url::parse(server.url("/form")));
    source->setDelegate(recorder);
    // Reported through another delegate operation: the copy calls that one too.
    source->setDidFinishSelector(&NetHTTPRequestDelegate::requestRedirected);
    source->setUploadProgressDelegate(progress);
    source->setDownloadProgressDelegate(progress);
    source->setPostValue(foundation::Value(std::string("v")), "k");
    source->addRequestHeader("X-Test", "1");
    source->setUseCookiePersistence(false);
    source->setUseKeychainPersistence(true);
    source->setUseSessionPersistence(false);
    source->setAllowCompressedResponse(false);
    source->setUsername("u");
    source->setPassword("p");
    source->setDomain("D");
    source->setProxyUsername("pu");
    source->setProxyPassword("pp");
    source->setProxyDomain("PD");
    source->setShouldPresentAuthenticationDialog(true);
    source->setShouldPresentProxyAuthenticationDialog(false);
    source->setTimeOutSeconds(7);
    source->setShouldResetDownloadProgress(false);
    source->setShouldResetUploadProgress(false);
    source->setShowAccurateProgress(false);
    source->setDefaultResponseEncoding("UTF-8");
    source->setAllowResumeForFileDownloads(true);
    source->setTag(42);
    source->setUseHTTPVersionOne(true);
    source->setShouldRedirect(false);
    source->setValidatesSecureCertificate(false);
    source->setShouldPresentCredentialsBeforeChallenge(false);
    source->setNumberOfTimesToRetryOnTimeout(2);
    source->setShouldUseRFC2616RedirectBehaviour(true);
    source->setShouldAttemptPersistentConnection(true);  // after "POST" turned it off
    source->setPersistentConnectionTimeoutSeconds(5);
    source->setAuthenticationScheme("Basic");
    source->setDownloadCache(cache);
    source->setCachePolicy(16);
    source->setCacheStoragePolicy(1);
    source->setSecondsToCache(100);
    // Every switch differs from a new request's.
    auto switches = [](const NetHTTPRequest& r) {
        auto text = settings(r);
        return text.substr(text.rfind('|') + 1);
    };
    auto fresh = switches(NetFormDataRequest(source->url()));
    auto given = switches(*source);
    for (std::size_t i = 0; i < given.size(); ++i) EXPECT_NE(given[i], fresh[i]) << "switch " << i;
    source->startSynchronous();
    ASSERT_FALSE(source->error());
    EXPECT_EQ(recorder->redirected, 1);

    auto copied = source->copy();
    auto& copy = *copied;
    EXPECT_TRUE(std::dynamic_pointer_cast<NetFormDataRequest>(copied));
    EXPECT_EQ(copy.url(), source->url());
    EXPECT_EQ(settings(copy), settings(*source));
    EXPECT_EQ(copy.delegate(), recorder);
    EXPECT_EQ(copy.uploadProgressDelegate(), progress);
    EXPECT_EQ(copy.downloadProgressDelegate(), progress);
    // The cache settings and the run start as for a new request.
    EXPECT_EQ(copy.downloadCache(), NetRequestDefaults::shared().defaultCache());
    EXPECT_EQ(copy.cachePolicy(), 0);
    EXPECT_EQ(copy.cacheStoragePolicy(), 0);
    EXPECT_EQ(copy.secondsToCache(), 0);
    EXPECT_EQ(copy.responseStatusCode(), 0);
    EXPECT_FALSE(copy.complete());
    EXPECT_EQ(copy.redirectCount(), 0);

    // The copy runs on its own and reports through the same delegate operation.
    copy.startSynchronous();
    ASSERT_FALSE(copy.error());
    EXPECT_EQ(copy.responseString(), "done");
    EXPECT_EQ(recorder->redirected, 2);
    EXPECT_EQ(recorder->finished, 0);
    EXPECT_EQ(server.requests().back().body, server.requests().front().body);
}

TEST(CachedAnswerTest, ARequestMadeForAnotherFinishesThatOneWithTheCachedAnswer) {
    auto folder = scratchFolder();
    auto cache = std::make_shared<NetDownloadCache>();
    cache->setStoragePath(folder.string());
    TestHttpServer server([](const ReceivedRequest&) {
        return ScriptedAnswer::ok("cached body", "Set-Cookie: c=1\r\n");
    });
    auto url = Url::parse(server.url("/item"));
    auto first = NetHTTPRequest::requestWithURL(url, cache, 0);
    first->startSynchronous();
    ASSERT_FALSE(first->error());

    auto recorder = std::make_shared<Recorder>();
    auto mainRequest = NetHTTPRequest::requestWithURL(url);
    mainRequest->setDelegate(recorder);
    int completions = 0;
    mainRequest->setCompletionBlock([&] { ++completions; });
    auto helper = mainRequest->HEADRequest();
    helper->setRequestMethod("GET");
    helper->setDownloadCache(cache);
    helper->setCachePolicy(NetOnlyLoadIfNotCachedCachePolicy);
    helper->startSynchronous();

    EXPECT_EQ(server.requests().size(), 1u);  // the cache answered
    EXPECT_TRUE(helper->isFinished());
    EXPECT_TRUE(helper->didUseCachedResponse());
    // The main request holds the answer and is finished with it, and says so.
    EXPECT_TRUE(mainRequest->complete());
    EXPECT_TRUE(mainRequest->isFinished());
    EXPECT_TRUE(mainRequest->didUseCachedResponse());
    EXPECT_EQ(mainRequest->responseStatusCode(), 200);
    EXPECT_EQ(mainRequest->responseString(), "cached body");
    EXPECT_EQ(mainRequest->contentLength(), 11u);
    ASSERT_EQ(mainRequest->responseCookies().size(), 1u);
    EXPECT_EQ(mainRequest->originalURL(), url);
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_EQ(completions, 1);
    std::filesystem::remove_all(folder);
}
