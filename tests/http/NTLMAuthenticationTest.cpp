// NTLM against the tests' own server, which checks every answer with an independent
// computation of the responses; the account domain, the proxy's fallbacks (for plain
// requests and tunnels), and the messages themselves.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "CredentialAnswers.h"
#include "RequestRunning.h"
#include "foundation/Base64.h"
#include "http/NetAuthentication.h"
#include "http/NetHTTPRequest.h"
#include "http/NetNTLMMessages.h"
#include "http/NetSessionCredentials.h"
#include "support/httpserver/LocalNTLMServer.h"
#include "support/httpserver/TestCertificates.h"
#include "support/httpserver/TestHttpServer.h"

using httptest::errorCode;
using httptest::run;
using testsupport::LocalNTLMServer;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestCertificates;
using testsupport::TestHttpServer;

namespace {

// The message type of an "NTLM <Base64>" header.
int messageType(const std::optional<std::string>& header) {
    if (!header || !header->starts_with("NTLM ")) return 0;
    auto m = foundation::base64::decode(header->substr(5)).value_or(foundation::Data{});
    return m.size() >= 12 && std::memcmp(m.data(), "NTLMSSP", 8) == 0 ? m[8] : 0;
}

// A server challenge: 0123456789abcdef, flags 0x00010205, no target name.
foundation::Data challengeBytes() {
    foundation::Data m = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 2,    0,    0,    0,
                          0,   0,   0,   0,   48,  0,   0,   0, 0x05, 0x02, 0x01, 0x00};
    for (std::uint8_t b : {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}) m.push_back(b);
    m.resize(48, 0);
    return m;
}

std::string challengeHeader() {
    return "NTLM " + foundation::base64::encode(challengeBytes());
}

std::unique_ptr<LocalNTLMServer> startServer(LocalNTLMServer::Role role) {
    return LocalNTLMServer::start(role, "ACME", "wile", "Coyote1");
}

// A request through the NTLM proxy: let through after its two rounds, or refused.
void expectProxyOutcome(const NetHTTPRequest& request, int code, const std::string& body) {
    EXPECT_EQ(errorCode(request), code);
    if (code == 0) {
        EXPECT_EQ(request.responseString(), body);
        EXPECT_EQ(request.proxyAuthenticationScheme(), "NTLM");
        EXPECT_EQ(request.proxyAuthenticationRetryCount(), 2);
    } else {
        EXPECT_EQ(request.responseStatusCode(), 407);
    }
}

class NTLMTest : public testing::Test {
protected:
    void SetUp() override { NetSessionCredentials::shared().clearServerCredentials(); }
};

}  // namespace

TEST(NetNTLMMessagesTest, OnlyWholeChallengesAndCarriableAccountsAreTaken) {
    auto good = challengeBytes();
    auto parsed = NetNTLMMessages::parseChallenge(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->serverChallenge[7], 0xef);
    EXPECT_EQ(parsed->flags, 0x00010205u);
    auto shortOne = good, badSignature = good, negotiation = good;
    shortOne.resize(31);
    badSignature[0] = 'X';
    negotiation[8] = 1;
    for (const auto& bad : {shortOne, badSignature, negotiation, foundation::Data{}})
        EXPECT_FALSE(NetNTLMMessages::parseChallenge(bad));

    // Latin-1 can be carried (as UTF-16); beyond it, malformed or too long cannot.
    EXPECT_TRUE(NetNTLMMessages::authenticate(*parsed, {"J\xc3\xa9r\xc3\xb4me", "pw", "D"}));
    const NetCredentials refused[] = {
        {"\xe2\x82\xac", "pw", ""},
        {"user", "pw", "\xc3"},
        {std::string(NetNTLMMessages::MaximumNameLength + 1, 'u'), "pw", ""},
        {"user", std::string(NetNTLMMessages::MaximumPasswordLength + 1, 'p'), ""},
    };
    for (const auto& credentials : refused)
        EXPECT_FALSE(NetNTLMMessages::authenticate(*parsed, credentials));
}

TEST(NetAuthenticationTest, NTLMTakesTwoRoundsAndNamesTheAccountDomain) {
    auto ntlm = NetAuthentication::createFromResponse(
        {{"WWW-Authenticate", "Negotiate, NTLM, Basic realm=\"r\""}}, false);
    ASSERT_TRUE(ntlm);
    EXPECT_EQ(ntlm->method(), "NTLM");  // over Basic, and over Negotiate, which cannot be answered
    EXPECT_TRUE(ntlm->requiresAccountDomain());
    EXPECT_FALSE(ntlm->realm());
    NetCredentials credentials{"User", "Password", "Domain"};
    EXPECT_EQ(messageType(ntlm->authorizationHeader(credentials, "GET", "/")), 1);
    ntlm->updateFromResponse({{"WWW-Authenticate", challengeHeader()}}, false);
    EXPECT_TRUE(ntlm->isValid());
    EXPECT_EQ(messageType(ntlm->authorizationHeader(credentials, "GET", "/")), 3);
    // Any challenge after the answer means it was refused.
    ntlm->updateFromResponse({{"WWW-Authenticate", challengeHeader()}}, false);
    EXPECT_FALSE(ntlm->isValid());
    EXPECT_TRUE(ntlm->credentialsRejected());

    // A challenge in the first answer is answered at once; a broken one is not taken.
    auto direct =
        NetAuthentication::createFromResponse({{"Proxy-Authenticate", challengeHeader()}}, true);
    ASSERT_TRUE(direct);
    EXPECT_EQ(messageType(direct->authorizationHeader(credentials, "GET", "/")), 3);
    EXPECT_FALSE(NetAuthentication::createFromResponse({{"WWW-Authenticate", "NTLM AAAA"}}, false));
}

TEST_F(NTLMTest, AServerAcceptsTheRightAccountInEitherFormAndRefusesWrongOnes) {
    auto server = startServer(LocalNTLMServer::Role::Server);
    ASSERT_TRUE(server) << "the NTLM test server did not start";
    struct Case {
        const char* name;
        std::string url, user, password, domain;
        int code;
        std::string body;
    };
    const std::string host = server->url("/page").substr(7);
    const std::vector<Case> cases = {
        {"domain in the user name", server->url("/a"), "ACME\\wile", "Coyote1", "", 0,
         "welcome ACME\\wile"},
        {"domain given", server->url("/b"), "wile", "Coyote1", "acme", 0, "welcome acme\\wile"},
        {"domain given wins over the name's", server->url("/c"), "OTHER\\wile", "Coyote1", "ACME",
         3, ""},
        {"in the URL", "http://ACME%5Cwile:Coyote1@" + host, "", "", "", 0, "welcome ACME\\wile"},
        {"wrong password", server->url("/d"), "ACME\\wile", "Roadrunner", "", 3, ""},
        {"wrong domain", server->url("/e"), "NADA\\wile", "Coyote1", "", 3, ""},
        {"no domain", server->url("/f"), "wile", "Coyote1", "", 3, ""},
        {"three parts", server->url("/g"), "ACME\\wile\\x", "Coyote1", "", 3, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetSessionCredentials::shared().clearServerCredentials();
        auto request = run(c.url, [&](NetHTTPRequest& r) {
            r.setUsername(c.user);
            r.setPassword(c.password);
            r.setDomain(c.domain);
        });
        EXPECT_EQ(errorCode(*request), c.code);
        if (c.code == 0) {
            EXPECT_EQ(request->responseString(), c.body);
            EXPECT_EQ(request->authenticationScheme(), "NTLM");
            EXPECT_EQ(request->authenticationRetryCount(), 2);  // negotiation, then answer
        } else {
            EXPECT_EQ(request->responseStatusCode(), 401);
            EXPECT_EQ(request->error()->message, "Authentication needed");
            EXPECT_TRUE(NetSessionCredentials::shared().sessionCredentialsStore().empty());
        }
    }
}

TEST_F(NTLMTest, TheSessionAnswersALaterRequestWithoutAskingForCredentials) {
    auto server = startServer(LocalNTLMServer::Role::Server);
    ASSERT_TRUE(server) << "the NTLM test server did not start";
    auto first = run(server->url("/one"), [](NetHTTPRequest& r) {
        r.setUsername("ACME\\wile");
        r.setPassword("Coyote1");
    });
    ASSERT_EQ(errorCode(*first), 0);
    // Nothing set: the negotiation goes first from the session record, then its answer.
    auto later = run(server->url("/two"));
    EXPECT_EQ(errorCode(*later), 0);
    EXPECT_EQ(later->responseString(), "welcome ACME\\wile");
    EXPECT_EQ(later->authenticationRetryCount(), 1);
}

TEST_F(NTLMTest, AProxyTakesItsOwnCredentialsOrTheRequestsForNTLM) {
    auto proxy = startServer(LocalNTLMServer::Role::Proxy);
    ASSERT_TRUE(proxy) << "the NTLM test server did not start";
    struct Case {
        const char* name;
        std::string proxyUser, proxyPassword, proxyDomain, user, password, domain;
        int code;
    };
    const std::vector<Case> cases = {
        {"proxy's DOMAIN\\user", "ACME\\wile", "Coyote1", "", "", "", "", 0},
        {"proxy's own domain", "wile", "Coyote1", "ACME", "", "", "", 0},
        {"request's domain", "wile", "Coyote1", "", "", "", "ACME", 0},
        {"request's user for NTLM", "", "", "", "ACME\\wile", "Coyote1", "", 0},
        {"wrong password", "ACME\\wile", "Roadrunner", "", "", "", "", 3},
        {"none", "", "", "", "", "", "", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetSessionCredentials::shared().clearServerCredentials();
        httptest::forgetSessionProxyCredentials();
        auto request = run("http://origin.invalid/page", [&](NetHTTPRequest& r) {
            r.setProxy("127.0.0.1", proxy->port());
            r.setProxyUsername(c.proxyUser);
            r.setProxyPassword(c.proxyPassword);
            r.setProxyDomain(c.proxyDomain);
            r.setUsername(c.user);
            r.setPassword(c.password);
            r.setDomain(c.domain);
        });
        expectProxyOutcome(*request, c.code, "welcome ACME\\wile http://origin.invalid/page");
    }
}

// "https" through the proxy: both rounds go as CONNECTs on one connection, since the proxy
// ties its challenge to it, and the tunnel then reaches the TLS server.
TEST_F(NTLMTest, AProxyOpensATunnelOnceTheAccountIsProvenOnItsConnection) {
    auto proxy = startServer(LocalNTLMServer::Role::Proxy);
    ASSERT_TRUE(proxy) << "the NTLM test server did not start";
    TestHttpServer::Options options;
    options.tlsIdentity = TestCertificates::selfSigned("127.0.0.1");
    TestHttpServer secure([](const ReceivedRequest&) { return ScriptedAnswer::ok("secure"); },
                          options);
    struct Case {
        const char* name;
        std::string user, password;
        int code;
    };
    // The refusals first: an open tunnel is kept for the next request to the server.
    const std::vector<Case> cases = {
        {"wrong password", "ACME\\wile", "Roadrunner", 3},
        {"wrong domain", "NADA\\wile", "Coyote1", 3},
        {"DOMAIN\\user", "ACME\\wile", "Coyote1", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        httptest::forgetSessionProxyCredentials();
        const int before = secure.acceptedConnections();
        auto request = run(secure.url("/page"), [&](NetHTTPRequest& r) {
            r.setProxy("127.0.0.1", proxy->port());
            r.setValidatesSecureCertificate(false);
            r.setProxyUsername(c.user);
            r.setProxyPassword(c.password);
        });
        expectProxyOutcome(*request, c.code, "secure");
        EXPECT_EQ(secure.acceptedConnections(), before + (c.code == 0 ? 1 : 0));
    }
}

// The answer goes on the connection that got the challenge, whether the request carries a
// body (which never asks for a persistent connection) and however the server words its
// keep-alive: to a server, to a proxy and through a proxy's tunnel.
TEST_F(NTLMTest, TheExchangeFinishesOnItsConnectionWhateverTheMethodAndKeepAlive) {
    TestHttpServer::Options options;
    options.tlsIdentity = TestCertificates::selfSigned("127.0.0.1");
    TestHttpServer secure(
        [](const ReceivedRequest& r) {
            return ScriptedAnswer::ok("secure " + r.method + " " + r.body);
        },
        options);
    struct Case {
        const char* name;
        LocalNTLMServer::Role role;
        std::string keepAlive, method, body;
        bool tunnel;
        std::string expected;
    };
    using Role = LocalNTLMServer::Role;
    const std::vector<Case> cases = {
        {"POST to a server", Role::Server, "", "POST", "a=1", false, "welcome ACME\\wile POST a=1"},
        {"PUT to a server", Role::Server, "", "PUT", "put", false, "welcome ACME\\wile PUT put"},
        {"GET, keep-alive without max", Role::Server, "timeout=5", "GET", "", false,
         "welcome ACME\\wile"},
        {"GET, keep-alive with a low max", Role::Server, "timeout=5, max=1", "GET", "", false,
         "welcome ACME\\wile"},
        {"POST, keep-alive without max", Role::Server, "timeout=5", "POST", "b", false,
         "welcome ACME\\wile POST b"},
        {"POST to a proxy", Role::Proxy, "", "POST", "c", false,
         "welcome ACME\\wile http://origin.invalid/page POST c"},
        {"PUT to a proxy, keep-alive without max", Role::Proxy, "timeout=5", "PUT", "d", false,
         "welcome ACME\\wile http://origin.invalid/page PUT d"},
        {"POST through a tunnel", Role::Proxy, "", "POST", "e", true, "secure POST e"},
        {"PUT through a tunnel", Role::Proxy, "timeout=5", "PUT", "f", true, "secure PUT f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetSessionCredentials::shared().clearServerCredentials();
        httptest::forgetSessionProxyCredentials();
        auto server = LocalNTLMServer::start(c.role, "ACME", "wile", "Coyote1", c.keepAlive);
        ASSERT_TRUE(server) << "the NTLM test server did not start";
        const bool proxied = c.role == Role::Proxy;
        std::string url = c.tunnel  ? secure.url("/page")
                          : proxied ? "http://origin.invalid/page"
                                    : server->url("/page");
        auto request = run(url, [&](NetHTTPRequest& r) {
            if (!c.body.empty()) r.appendPostData(c.body);
            r.setRequestMethod(c.method);
            if (proxied) {
                r.setProxy("127.0.0.1", server->port());
                r.setValidatesSecureCertificate(false);
                r.setProxyUsername("ACME\\wile");
                r.setProxyPassword("Coyote1");
            } else {
                r.setUsername("ACME\\wile");
                r.setPassword("Coyote1");
            }
        });
        ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
        EXPECT_EQ(request->responseStatusCode(), 200);
        EXPECT_EQ(request->responseString(), c.expected);
        EXPECT_EQ(proxied ? request->proxyAuthenticationRetryCount()
                          : request->authenticationRetryCount(),
                  2);
    }
}

// A 307 after the account was proven: the redirected request proves it again with an
// exchange of its own (negotiation, challenge, answer) on the connection it goes out on,
// with the same method and body, to a server and through a proxy; as do the same requests
// without the redirect.
TEST_F(NTLMTest, ARedirectedRequestProvesTheAccountAgainOnItsOwnConnection) {
    using Role = LocalNTLMServer::Role;
    const auto bodyFile =
        std::filesystem::temp_directory_path() / ("ntlm-body-" + std::to_string(::getpid()));
    std::ofstream(bodyFile) << "from-file";
    enum class Body { None, Memory, File };
    struct Case {
        const char* name;
        Role role;
        Body body;
        bool session = true;
    };
    const std::vector<Case> cases = {
        {"GET to a server", Role::Server, Body::None},
        {"GET to a server, nothing kept for the session", Role::Server, Body::None, false},
        {"GET through a proxy, nothing kept for the session", Role::Proxy, Body::None, false},
        {"POST from memory to a server", Role::Server, Body::Memory},
        {"POST from a file to a server", Role::Server, Body::File},
        {"GET through a proxy", Role::Proxy, Body::None},
        {"POST from memory through a proxy", Role::Proxy, Body::Memory},
        {"POST from a file through a proxy", Role::Proxy, Body::File},
    };
    for (const auto& c : cases) {
        for (bool redirected : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (redirected ? ", redirected" : ", direct"));
            NetSessionCredentials::shared().clearServerCredentials();
            httptest::forgetSessionProxyCredentials();
            auto server = startServer(c.role);
            ASSERT_TRUE(server) << "the NTLM test server did not start";
            const bool proxied = c.role == Role::Proxy;
            const std::string path = redirected ? "/redirect/page" : "/moved/";
            auto request = run(proxied ? "http://origin.invalid" + path : server->url(path),
                               [&](NetHTTPRequest& r) {
                                   r.setUseSessionPersistence(c.session);
                                   if (c.body == Body::Memory) r.appendPostData("in-memory");
                                   if (c.body == Body::File) {
                                       r.setShouldStreamPostDataFromDisk(true);
                                       ASSERT_TRUE(r.appendPostDataFromFile(bodyFile.string()));
                                   }
                                   if (proxied) {
                                       r.setProxy("127.0.0.1", server->port());
                                       r.setProxyUsername("ACME\\wile");
                                       r.setProxyPassword("Coyote1");
                                   } else {
                                       r.setUsername("ACME\\wile");
                                       r.setPassword("Coyote1");
                                   }
                               });
            EXPECT_EQ(errorCode(*request), 0);
            EXPECT_EQ(request->responseStatusCode(), 200);
            std::string expected = "welcome ACME\\wile";
            if (proxied) expected += " http://origin.invalid/moved/";
            if (c.body == Body::Memory) expected += " POST in-memory";
            if (c.body == Body::File) expected += " POST from-file";
            EXPECT_EQ(request->responseString(), expected);
            EXPECT_EQ(request->redirectCount(), redirected ? 1 : 0);
        }
    }
    std::filesystem::remove(bodyFile);
}
