#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CredentialAnswers.h"
#include "http/NetAuthentication.h"
#include "http/NetAuthenticationChallenge.h"
#include "http/NetCredentialStorage.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHTTPRequestDelegate.h"
#include "http/NetSessionCredentials.h"
#include "support/MainLoop.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using httptest::basic;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

using Parameters = std::vector<std::pair<std::string, std::string>>;

int errorCode(const NetHTTPRequest& request) {
    return request.error() ? static_cast<int>(request.error()->code) : 0;
}

std::shared_ptr<NetHTTPRequest> run(const std::string& url,
                                    const std::function<void(NetHTTPRequest&)>& setup = {}) {
    auto request = NetHTTPRequest::requestWithURL(Url::parse(url));
    if (setup) setup(*request);
    request->startSynchronous();
    return request;
}

ScriptedAnswer challenge(const std::string& value) {
    ScriptedAnswer answer;
    std::string body = "who are you?";
    answer.raw = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + value +
                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return answer;
}

// A server guarding everything with Basic or Digest for alice:wonder. With `firstNonceStale`
// the first Digest nonce is answered as stale when it is first used.
class GuardedServer {
public:
    enum class Scheme { Basic, DigestMD5, DigestSHA256, DigestSHA256Sess };
    explicit GuardedServer(Scheme scheme, bool firstNonceStale = false)
        : scheme_(scheme),
          firstNonceStale_(firstNonceStale),
          server_([this](const ReceivedRequest& request) { return answer(request); }) {}

    std::string url(const std::string& path, const std::string& userInfo = "") const {
        std::string plain = server_.url(path);
        return userInfo.empty() ? plain : "http://" + userInfo + "@" + plain.substr(7);
    }
    std::vector<ReceivedRequest> requests() const { return server_.requests(); }

private:
    std::string algorithm() const {
        return scheme_ == Scheme::DigestSHA256       ? "SHA-256"
               : scheme_ == Scheme::DigestSHA256Sess ? "SHA-256-sess"
                                                     : "MD5";
    }

    ScriptedAnswer answer(const ReceivedRequest& request) {
        std::lock_guard guard(lock_);
        auto authorization = request.header("Authorization");
        if (scheme_ == Scheme::Basic) {
            if (authorization == basic("alice", "wonder")) return ScriptedAnswer::ok("welcome");
            return challenge("Basic realm=\"garden\"");
        }
        bool stale = false;
        if (authorization) {
            auto parsed = NetAuthenticationChallenge::parse(*authorization);
            if (!parsed.empty() && parsed[0].isScheme("Digest")) {
                const auto& c = parsed[0];
                auto expected = NetAuthentication::digestResponse(
                    {c.parameter("algorithm").value_or(""), "alice", "garden", "wonder",
                     request.method, c.parameter("uri").value_or(""),
                     c.parameter("nonce").value_or(""), c.parameter("nc").value_or(""),
                     c.parameter("cnonce").value_or(""), c.parameter("qop").value_or("")});
                bool good = c.parameter("username") == "alice" && expected &&
                            c.parameter("response") == *expected &&
                            c.parameter("uri") == request.target && c.parameter("opaque") == "op" &&
                            c.parameter("algorithm") == algorithm();
                stale = good && c.parameter("nonce") == nonce() && firstNonceStale_ &&
                        nonceNumber_ == 1;
                if (good && c.parameter("nonce") == nonce() && !stale)
                    return ScriptedAnswer::ok("welcome");
            }
        }
        if (stale) ++nonceNumber_;
        // Offered beside Basic, which must lose to it.
        return challenge(
            "Basic realm=\"garden\", Digest realm=\"garden\", qop=\"auth, auth-int\", "
            "algorithm=" +
            algorithm() + ", nonce=\"" + nonce() + "\", opaque=\"op\"" +
            (stale ? ", stale=true" : ""));
    }
    std::string nonce() const { return "n" + std::to_string(nonceNumber_); }

    Scheme scheme_;
    bool firstNonceStale_;
    std::mutex lock_;
    int nonceNumber_ = 1;
    TestHttpServer server_;
};

class AuthenticationTest : public testing::Test {
protected:
    void SetUp() override { NetSessionCredentials::shared().clearServerCredentials(); }
};

}  // namespace

TEST(NetAuthenticationChallengeTest, ParsesSchemesParametersAndToken68) {
    struct Case {
        std::string value;
        std::vector<std::pair<std::string, Parameters>> expected;
    };
    const std::vector<Case> cases = {
        {"Basic realm=\"a b\"", {{"Basic", {{"realm", "a b"}}}}},
        {"Digest realm=\"r\", nonce=\"x,y\", qop=\"auth,auth-int\", stale=TRUE",
         {{"Digest",
           {{"realm", "r"}, {"nonce", "x,y"}, {"qop", "auth,auth-int"}, {"stale", "TRUE"}}}}},
        {"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\"",
         {{"Newauth", {{"realm", "apps"}, {"type", "1"}, {"title", "Login to \"apps\""}}},
          {"Basic", {{"realm", "simple"}}}}},
        {"Negotiate abc==, Basic realm=x", {{"Negotiate", {}}, {"Basic", {{"realm", "x"}}}}},
        {", ,Basic realm = \"spaced\" ,", {{"Basic", {{"realm", "spaced"}}}}},
        // Malformed parts end the list; what came before stays.
        {"Basic realm=\"unterminated", {{"Basic", {}}}},
        {"Basic realm=x y=z", {{"Basic", {{"realm", "x"}}}}},
        {"=oops", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto parsed = NetAuthenticationChallenge::parse(c.value);
        ASSERT_EQ(parsed.size(), c.expected.size());
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            EXPECT_EQ(parsed[i].scheme, c.expected[i].first);
            EXPECT_EQ(parsed[i].parameters, c.expected[i].second);
        }
    }
}

TEST(NetAuthenticationTest, DigestResponsesMatchTheExamplesOfRFC7616) {
    // RFC 7616 section 3.9.1.
    NetAuthentication::DigestInput input{"MD5",
                                         "Mufasa",
                                         "http-auth@example.org",
                                         "Circle of Life",
                                         "GET",
                                         "/dir/index.html",
                                         "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v",
                                         "00000001",
                                         "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ",
                                         "auth"};
    EXPECT_EQ(NetAuthentication::digestResponse(input), "8ca523f5e9506fed4657c9700eebdbec");
    input.algorithm = "SHA-256";
    EXPECT_EQ(NetAuthentication::digestResponse(input),
              "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1");
    // RFC 2617 section 3.5.
    NetAuthentication::DigestInput old{"MD5",
                                       "Mufasa",
                                       "testrealm@host.com",
                                       "Circle Of Life",
                                       "GET",
                                       "/dir/index.html",
                                       "dcd98b7102dd2f0e8b11d0f600bfb0c093",
                                       "00000001",
                                       "0a4f113b",
                                       "auth"};
    EXPECT_EQ(NetAuthentication::digestResponse(old), "6629fae49393a05397450978507c4ef1");
    old.algorithm = "SHA-512";
    EXPECT_FALSE(NetAuthentication::digestResponse(old));
}

TEST(NetAuthenticationTest, ChoosesTheStrongestChallengeItCanAnswer) {
    struct Case {
        std::vector<std::string> challenges;
        std::string method;  // empty: none can be answered
    };
    const std::vector<Case> cases = {
        {{"Basic realm=\"x\""}, "Basic"},
        {{"Basic realm=\"x\"", "Digest realm=\"x\", nonce=\"n\""}, "Digest"},
        {{"Digest realm=\"x\", nonce=\"n\", algorithm=SHA-512"}, ""},
        {{"Digest realm=\"x\", nonce=\"n\", qop=\"auth-int\""}, ""},
        {{"Digest realm=\"x\""}, ""},
        {{"Negotiate", "Basic realm=\"x\""}, "Basic"},
        {{"Negotiate"}, "Negotiate"},
        {{"Bearer realm=\"x\""}, ""},
    };
    for (const auto& c : cases) {
        NetAuthentication::Headers headers;
        for (const auto& value : c.challenges) headers.emplace_back("www-authenticate", value);
        auto made = NetAuthentication::createFromResponse(headers, false);
        EXPECT_EQ(made ? made->method() : "", c.method) << c.challenges.front();
        EXPECT_FALSE(NetAuthentication::createFromResponse(headers, true));
    }
    NetAuthentication::Headers digest = {
        {"WWW-Authenticate", "Digest realm=\"x\", nonce=\"one\", qop=auth"}};
    auto authentication = NetAuthentication::createFromResponse(digest, false);
    ASSERT_TRUE(authentication);
    NetCredentials credentials{"a\"b", "pw", ""};
    auto first = authentication->authorizationHeader(credentials, "GET", "/p");
    auto second = authentication->authorizationHeader(credentials, "GET", "/p");
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->find("username=\"a\\\"b\""), std::string::npos) << *first;
    EXPECT_NE(first->find("nc=00000001"), std::string::npos);
    EXPECT_NE(second->find("nc=00000002"), std::string::npos);
    EXPECT_FALSE(authentication->authorizationHeader({"a\r\nX: y", "pw", ""}, "GET", "/p"));
}

TEST_F(AuthenticationTest, ChallengesAreAnsweredFromTheURLAndThenFromTheSession) {
    using Scheme = GuardedServer::Scheme;
    for (Scheme scheme :
         {Scheme::Basic, Scheme::DigestMD5, Scheme::DigestSHA256, Scheme::DigestSHA256Sess}) {
        SCOPED_TRACE(static_cast<int>(scheme));
        GuardedServer server(scheme);
        auto first = run(server.url("/secret?x=1", "alice:wonder"));
        ASSERT_EQ(errorCode(*first), 0) << first->error()->message;
        EXPECT_EQ(first->responseStatusCode(), 200);
        EXPECT_EQ(first->responseString(), "welcome");
        EXPECT_EQ(server.requests().size(), 2u);
        EXPECT_FALSE(server.requests()[0].header("Authorization"));
        EXPECT_EQ(first->authenticationRealm(), "garden");

        // Later requests to the server send what the session holds before any challenge.
        auto later = run(server.url("/other"));
        ASSERT_EQ(errorCode(*later), 0);
        EXPECT_EQ(later->responseString(), "welcome");
        EXPECT_EQ(server.requests().size(), 3u);
        EXPECT_TRUE(server.requests()[2].header("Authorization"));
    }
}

TEST_F(AuthenticationTest, AStaleNonceIsAnsweredAgainWithTheSameCredentials) {
    GuardedServer server(GuardedServer::Scheme::DigestSHA256, true);
    auto request = run(server.url("/a", "alice:wonder"));
    ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
    EXPECT_EQ(request->responseString(), "welcome");
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_NE(server.requests()[2].header("Authorization")->find("nonce=\"n2\""),
              std::string::npos);
}

TEST_F(AuthenticationTest, MissingOrRefusedCredentialsEndWithCodeThree) {
    using Scheme = GuardedServer::Scheme;
    struct Case {
        const char* name;
        Scheme scheme;
        std::string userInfo;
        std::size_t requests;
    };
    const std::vector<Case> cases = {
        {"Basic, no credentials", Scheme::Basic, "", 1},
        {"Digest, no credentials", Scheme::DigestMD5, "", 1},
        {"Basic, wrong password", Scheme::Basic, "alice:wrong", 2},
        {"Digest, wrong password", Scheme::DigestSHA256, "alice:wrong", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GuardedServer server(c.scheme);
        auto request = run(server.url("/secret", c.userInfo));
        EXPECT_EQ(errorCode(*request), 3);
        EXPECT_EQ(request->error()->message, "Authentication needed");
        EXPECT_EQ(request->responseStatusCode(), 401);
        EXPECT_EQ(server.requests().size(), c.requests);
        // Refused credentials do not stay in the session.
        EXPECT_TRUE(NetSessionCredentials::shared().sessionCredentialsStore().empty());
    }
}

TEST_F(AuthenticationTest, SchemesThatCannotBeAnsweredEndTheRequest) {
    struct Case {
        std::string challenge;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        // Single sign-on needs no user name and password but cannot be answered here.
        {"Negotiate", 3, "Authentication needed"},
        {"Bearer realm=\"api\"", 7, "Failed to get authentication object from response headers"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.challenge);
        TestHttpServer server([&](const ReceivedRequest&) { return challenge(c.challenge); });
        auto request = run(server.url("/"), [](NetHTTPRequest& r) {
            r.setUsername("alice");
            r.setPassword("wonder");
        });
        EXPECT_EQ(errorCode(*request), c.code);
        EXPECT_EQ(request->error()->message, c.message);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST_F(AuthenticationTest, TheRequestsOwnCredentialsAndTheCredentialStorageAnswer) {
    GuardedServer server(GuardedServer::Scheme::DigestMD5);
    // Username and password without the Basic scheme are sent only after the challenge,
    // and kept in the credential storage when asked to.
    auto first = run(server.url("/a"), [](NetHTTPRequest& r) {
        r.setUsername("alice");
        r.setPassword("wonder");
        r.setUseKeychainPersistence(true);
        r.setUseSessionPersistence(false);
    });
    ASSERT_EQ(errorCode(*first), 0);
    EXPECT_EQ(server.requests().size(), 2u);
    auto port = static_cast<int>(*Url::parse(server.url("/"))->port());
    auto saved = NetCredentialStorage::savedCredentialsForHost("127.0.0.1", port, "http", "garden");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->username, "alice");

    // Nothing in the session: only a request that looks in the storage gets in.
    EXPECT_EQ(errorCode(*run(server.url("/b"))), 3);
    auto fromStorage =
        run(server.url("/c"), [](NetHTTPRequest& r) { r.setUseKeychainPersistence(true); });
    EXPECT_EQ(errorCode(*fromStorage), 0);
}

TEST_F(AuthenticationTest, AnAsynchronousRequestAsksItsListenerForCredentials) {
    // A delegate that gives the password, or a block that gives up.
    struct Asker : NetHTTPRequestDelegate {
        int asked = 0;
        bool answersAuthenticationChallenges() const override { return true; }
        void authenticationNeededForRequest(NetHTTPRequest& request) override {
            ++asked;
            request.setUsername("alice");
            request.setPassword(asked == 1 ? "wrong" : "wonder");
            request.retryUsingSuppliedCredentials();
        }
    };
    GuardedServer server(GuardedServer::Scheme::DigestMD5);
    auto asker = std::make_shared<Asker>();
    auto answered = NetHTTPRequest::requestWithURL(Url::parse(server.url("/a")));
    answered->setDelegate(asker);
    ASSERT_TRUE(answered->start());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return answered->isFinished(); }));
    EXPECT_EQ(errorCode(*answered), 0);
    EXPECT_EQ(answered->responseString(), "welcome");
    EXPECT_EQ(asker->asked, 2);  // once more after the wrong password

    NetSessionCredentials::shared().clearServerCredentials();
    int blockCalls = 0;
    auto refused = NetHTTPRequest::requestWithURL(Url::parse(server.url("/b")));
    NetHTTPRequest* raw = refused.get();
    refused->setAuthenticationNeededBlock([&blockCalls, raw] {
        ++blockCalls;
        raw->cancelAuthentication();
    });
    ASSERT_TRUE(refused->start());
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return refused->isFinished(); }));
    EXPECT_EQ(errorCode(*refused), 3);
    EXPECT_EQ(blockCalls, 1);
    testsupport::drainMainLoop();
}

TEST_F(AuthenticationTest, ARequestsOwnCredentialsStayWithTheOriginTheyWereGivenFor) {
    struct Case {
        const char* name;
        int status;
        bool challenged;  // the other origin asks for credentials
    };
    const std::vector<Case> cases = {
        {"302 elsewhere", 302, false},
        {"307 elsewhere", 307, false},
        {"307 elsewhere, which challenges", 307, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetSessionCredentials::shared().clearServerCredentials();
        TestHttpServer other([&](const ReceivedRequest& r) {
            if (c.challenged && !r.header("Authorization"))
                return challenge("Basic realm=\"elsewhere\"");
            return ScriptedAnswer::ok("elsewhere");
        });
        const std::string away = other.url("/landing");
        TestHttpServer origin([&](const ReceivedRequest&) {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 " + std::to_string(c.status) + " Moved\r\nLocation: " + away +
                         "\r\nContent-Length: 0\r\n\r\n";
            return answer;
        });
        auto request = run(origin.url("/start"), [](NetHTTPRequest& r) {
            r.setUsername("alice");
            r.setPassword("wonder");
            r.setAuthenticationScheme("Basic");
        });
        EXPECT_EQ(origin.requests().at(0).header("Authorization"), basic("alice", "wonder"));
        ASSERT_FALSE(other.requests().empty());
        for (const auto& sent : other.requests()) EXPECT_FALSE(sent.header("Authorization"));
        EXPECT_EQ(errorCode(*request), c.challenged ? NetAuthenticationErrorType : 0);
        // Nothing was stored for the other origin, so later requests there carry nothing.
        run(other.url("/later"));
        EXPECT_FALSE(other.requests().back().header("Authorization"));
        for (const auto& record : NetSessionCredentials::shared().sessionCredentialsStore())
            EXPECT_NE(record.url->port(), Url::parse(away)->port());
    }
}

TEST_F(AuthenticationTest, CredentialsSentBeforeAChallengeAreStoredOnce) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("fine"); });
    for (int i = 0; i < 20; ++i) {
        auto request = run(server.url("/item/" + std::to_string(i)), [](NetHTTPRequest& r) {
            r.setUsername("alice");
            r.setPassword("wonder");
            r.setAuthenticationScheme("Basic");
        });
        ASSERT_EQ(errorCode(*request), 0);
    }
    EXPECT_EQ(NetSessionCredentials::shared().sessionCredentialsStore().size(), 1u);
    // Another user of the same server gets a record of their own.
    run(server.url("/bob"), [](NetHTTPRequest& r) {
        r.setUsername("bob");
        r.setPassword("builder");
        r.setAuthenticationScheme("Basic");
    });
    EXPECT_EQ(NetSessionCredentials::shared().sessionCredentialsStore().size(), 2u);
}

// Credentials from the first URL answered its server's challenge; after a redirect to
// another origin, that origin's challenge gets none of them, only what was given for it.
TEST_F(AuthenticationTest, AnotherOriginsChallengeIsNotAnsweredWithTheFirstOnesCredentials) {
    struct Case {
        const char* name;
        int status;
        std::string challenge;  // the other origin's
        std::string userInfo;   // in the redirect's Location
        int code;
    };
    const std::vector<Case> cases = {
        {"302, Basic", 302, "Basic realm=\"elsewhere\"", "", NetAuthenticationErrorType},
        {"307, Basic", 307, "Basic realm=\"elsewhere\"", "", NetAuthenticationErrorType},
        {"302, Digest", 302, "Digest realm=\"elsewhere\", nonce=\"n\"", "",
         NetAuthenticationErrorType},
        {"302, its own credentials", 302, "Basic realm=\"elsewhere\"", "bob:builder", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetSessionCredentials::shared().clearServerCredentials();
        TestHttpServer other([&](const ReceivedRequest& r) {
            if (r.header("Authorization") == basic("bob", "builder"))
                return ScriptedAnswer::ok("elsewhere");
            return challenge(c.challenge);
        });
        std::string away = other.url("/landing");
        if (!c.userInfo.empty()) away = "http://" + c.userInfo + "@" + away.substr(7);
        TestHttpServer origin([&](const ReceivedRequest& r) {
            if (r.header("Authorization") != basic("alice", "wonder"))
                return challenge("Basic realm=\"garden\"");
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 " + std::to_string(c.status) + " Moved\r\nLocation: " + away +
                         "\r\nContent-Length: 0\r\n\r\n";
            return answer;
        });
        auto request = run("http://alice:wonder@" + origin.url("/start").substr(7));
        ASSERT_EQ(origin.requests().size(), 2u);
        EXPECT_EQ(origin.requests()[1].header("Authorization"), basic("alice", "wonder"));
        ASSERT_FALSE(other.requests().empty());
        for (const auto& sent : other.requests()) {
            auto given = sent.header("Authorization").value_or("");
            EXPECT_TRUE(given.empty() || given == basic("bob", "builder")) << given;
            EXPECT_EQ(given.find("alice"), std::string::npos) << given;
        }
        EXPECT_EQ(errorCode(*request), c.code);
        EXPECT_EQ(request->responseStatusCode(), c.code == 0 ? 200 : 401);
    }
}

// A password the server refuses never takes the place of the one that worked.
TEST_F(AuthenticationTest, OnlyCredentialsTheServerAcceptedAreKeptInTheCredentialStorage) {
    using Scheme = GuardedServer::Scheme;
    for (Scheme scheme : {Scheme::Basic, Scheme::DigestMD5}) {
        SCOPED_TRACE(static_cast<int>(scheme));
        GuardedServer server(scheme);
        auto port = static_cast<int>(*Url::parse(server.url("/"))->port());
        auto attempt = [&](const std::string& path, const std::string& password) {
            return run(server.url(path), [&](NetHTTPRequest& r) {
                r.setUsername("alice");
                r.setPassword(password);
                r.setUseKeychainPersistence(true);
                r.setUseSessionPersistence(false);
            });
        };
        auto saved = [&] {
            return NetCredentialStorage::savedCredentialsForHost("127.0.0.1", port, "http",
                                                                 "garden");
        };
        EXPECT_EQ(errorCode(*attempt("/wrong-first", "wrong")), NetAuthenticationErrorType);
        EXPECT_FALSE(saved());
        EXPECT_EQ(errorCode(*attempt("/right", "wonder")), 0);
        ASSERT_TRUE(saved());
        EXPECT_EQ(saved()->password, "wonder");
        EXPECT_EQ(errorCode(*attempt("/wrong", "wrong")), NetAuthenticationErrorType);
        ASSERT_TRUE(saved());
        EXPECT_EQ(saved()->password, "wonder");
        // What is kept still opens the door.
        auto fromStorage = run(server.url("/again"), [](NetHTTPRequest& r) {
            r.setUseKeychainPersistence(true);
            r.setUseSessionPersistence(false);
        });
        EXPECT_EQ(errorCode(*fromStorage), 0);
    }
}
