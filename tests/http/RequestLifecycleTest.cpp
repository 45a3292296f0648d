// The method's hold on persistent connections, starting a request that is already over,
// and an exception thrown while the request is built.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "RequestRunning.h"
#include "foundation/Error.h"
#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using httptest::errorCode;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// Throws while its headers are built, as a faulty layer above might.
class ThrowingRequest : public NetHTTPRequest {
public:
    using NetHTTPRequest::NetHTTPRequest;

protected:
    void buildRequestHeaders() override {
        throw foundation::NamedException("NetTestException", "headers could not be built");
    }
};

}  // namespace

TEST(RequestLifecycleTest, PostAndPutTurnPersistentConnectionsOffAndGetDoesNotTurnThemOn) {
    for (const char* method : {"POST", "PUT"}) {
        SCOPED_TRACE(method);
        auto request = NetHTTPRequest::requestWithURL(Url::parse("http://127.0.0.1/"));
        EXPECT_TRUE(request->shouldAttemptPersistentConnection());
        request->setRequestMethod(method);
        EXPECT_FALSE(request->shouldAttemptPersistentConnection());
        request->setRequestMethod("GET");
        EXPECT_EQ(request->requestMethod(), "GET");
        EXPECT_FALSE(request->shouldAttemptPersistentConnection());
    }
    // Another method with no body leaves them on; a body turns them off with any method.
    auto deletion = NetHTTPRequest::requestWithURL(Url::parse("http://127.0.0.1/"));
    deletion->setRequestMethod("DELETE");
    EXPECT_TRUE(deletion->shouldAttemptPersistentConnection());
    deletion->appendPostData(std::string_view("x"));
    deletion->setRequestMethod("PATCH");
    EXPECT_FALSE(deletion->shouldAttemptPersistentConnection());
}

TEST(RequestLifecycleTest, StartingACancelledOrCompleteRequestReturnsAtOnce) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("once"); });
    auto cancelled = NetHTTPRequest::requestWithURL(Url::parse(server.url("/cancelled")));
    cancelled->cancel();
    cancelled->startSynchronous();
    EXPECT_EQ(errorCode(*cancelled), NetRequestCancelledErrorType);
    EXPECT_FALSE(cancelled->inProgress());
    EXPECT_TRUE(server.requests().empty());

    auto done = httptest::run(server.url("/done"));
    ASSERT_EQ(errorCode(*done), 0);
    done->startSynchronous();
    EXPECT_EQ(done->responseString(), "once");
    EXPECT_FALSE(done->inProgress());
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(RequestLifecycleTest, AnExceptionWhileBuildingEndsTheRequestWithCodeTen) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("never"); });
    auto request = std::make_shared<ThrowingRequest>(Url::parse(server.url("/")));
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    const auto& error = *request->error();
    EXPECT_EQ(error.domain, "NetHTTPRequestErrorDomain");
    EXPECT_EQ(error.code, 10);
    EXPECT_EQ(error.message, "NetTestException");
    EXPECT_EQ(error.userInfo["NSLocalizedFailureReason"],
              foundation::Value("headers could not be built"));
    const auto& underlying = error.userInfo["NSUnderlyingError"];
    EXPECT_EQ(underlying["domain"], foundation::Value("NetHTTPRequestErrorDomain"));
    EXPECT_EQ(underlying["code"], foundation::Value(10));
    EXPECT_TRUE(underlying["userInfo"].isDictionary());
    EXPECT_TRUE(request->complete());
    EXPECT_TRUE(server.requests().empty());
}
