#include <gtest/gtest.h>

#include <netdb.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "StreamHarness.h"
#include "foundation/ScratchFolder.h"
#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestCertificates.h"
#include "support/httpserver/TestHttpServer.h"

using httptest::message;
using httptest::run;
using net::NetHTTPStream;
using testsupport::PemIdentity;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestCertificates;
using testsupport::TestHttpServer;

namespace {

// Cases that reach the server by name need "localhost" to resolve to the loopback address
// it listens on; a minimal container may have no /etc/hosts.
bool localhostReachesLoopback() {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0) return false;
    bool loopback = false;
    for (addrinfo* a = found; a; a = a->ai_next)
        loopback |=
            ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr) == INADDR_LOOPBACK;
    freeaddrinfo(found);
    return loopback;
}
constexpr const char* kNoLocalhost =
    "\"localhost\" does not resolve to 127.0.0.1 here (no /etc/hosts entry): skipped";

// Makes the test authority the system's trust store for the duration of a test: the
// stream layer reads the system store through OpenSSL, which honours SSL_CERT_FILE.
class TLSStreams : public testing::Test {
protected:
    static void SetUpTestSuite() { authority_ = new TestCertificates(); }
    static void TearDownTestSuite() {
        delete authority_;
        authority_ = nullptr;
    }
    void SetUp() override {
        const char* previous = std::getenv("SSL_CERT_FILE");
        if (previous != nullptr) previous_ = previous;
        std::ofstream(folder_ / "ca.pem") << authority_->authority().certificate;
        setenv("SSL_CERT_FILE", (folder_ / "ca.pem").c_str(), 1);
    }
    void TearDown() override {
        if (previous_) {
            setenv("SSL_CERT_FILE", previous_->c_str(), 1);
        } else {
            unsetenv("SSL_CERT_FILE");
        }
    }
    static std::unique_ptr<TestHttpServer> serve(PemIdentity identity,
                                                 std::optional<std::string> clientAuthority = {}) {
        TestHttpServer::Options options;
        options.tlsIdentity = std::move(identity);
        options.requireClientCertificateFrom = std::move(clientAuthority);
        return std::make_unique<TestHttpServer>(
            [](const ReceivedRequest&) { return ScriptedAnswer::ok("secret"); }, options);
    }

    static TestCertificates* authority_;
    foundationtest::ScratchFolder folder_;
    std::optional<std::string> previous_;
};

TestCertificates* TLSStreams::authority_ = nullptr;

}  // namespace

TEST_F(TLSStreams, CertificateChecksDecideWhetherTheExchangeRuns) {
    struct Case {
        const char* name;
        PemIdentity identity;
        const char* host;
        bool validate;
        std::optional<int> error;  // none: the body arrives
    };
    const std::vector<Case> cases = {
        {"trusted, for this address", authority_->issue({}, {"127.0.0.1"}), "127.0.0.1", true,
         std::nullopt},
        {"trusted, for this name", authority_->issue({"localhost"}, {}), "localhost", true,
         std::nullopt},
        {"self-signed", TestCertificates::selfSigned("127.0.0.1"), "127.0.0.1", true,
         net::NetTLSErrorNoRootCertificate},
        {"self-signed, validation off", TestCertificates::selfSigned("127.0.0.1"), "127.0.0.1",
         false, std::nullopt},
        {"expired", authority_->issue({}, {"127.0.0.1"}, -30, -1), "127.0.0.1", true,
         net::NetTLSErrorCertificateExpired},
        {"expired, validation off", authority_->issue({}, {"127.0.0.1"}, -30, -1), "127.0.0.1",
         false, std::nullopt},
        {"for another name", authority_->issue({"elsewhere.example"}, {}), "localhost", true,
         net::NetTLSErrorCertificateChainInvalid},
        {"for another address", authority_->issue({}, {"127.0.0.2"}), "127.0.0.1", true,
         net::NetTLSErrorCertificateChainInvalid},
    };
    const bool byName = localhostReachesLoopback();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!byName && std::string(c.host) == "localhost") {
            std::cout << c.name << ": " << kNoLocalhost << "\n";
            continue;
        }
        auto server = serve(c.identity);
        auto stream = NetHTTPStream::create(
            message(std::string("https://") + c.host + ":" + std::to_string(server->port()) + "/"));
        net::NetTLSSettings settings;
        settings.validatesCertificateChain = c.validate;
        stream->setTLSSettings(settings);
        auto out = run(stream);
        if (c.error) {
            ASSERT_TRUE(out.error);
            EXPECT_EQ(out.error->domain, net::NetOSStatusErrorDomain);
            EXPECT_EQ(out.error->code, *c.error) << out.error->message;
        } else {
            EXPECT_FALSE(out.error) << out.error->message;
            EXPECT_EQ(out.body, "secret");
        }
    }
}

TEST_F(TLSStreams, HostNamesAreSentForSNIButAddressesAreNot) {
    if (!localhostReachesLoopback()) GTEST_SKIP() << kNoLocalhost;
    auto server = serve(authority_->issue({"localhost"}, {"127.0.0.1"}));
    auto byName = run(NetHTTPStream::create(
        message("https://localhost:" + std::to_string(server->port()) + "/")));
    EXPECT_EQ(byName.body, "secret");
    EXPECT_EQ(server->lastServerName(), "localhost");

    auto other = serve(authority_->issue({"localhost"}, {"127.0.0.1"}));
    auto byAddress = run(NetHTTPStream::create(message(other->url())));
    EXPECT_EQ(byAddress.body, "secret");
    EXPECT_EQ(other->lastServerName(), std::nullopt);
}

TEST_F(TLSStreams, ClientCertificateIsPresentedWhenGiven) {
    auto server = serve(authority_->issue({}, {"127.0.0.1"}), authority_->authority().certificate);
    auto client = authority_->issue({"client.example"}, {});

    auto without = run(NetHTTPStream::create(message(server->url())));
    EXPECT_TRUE(without.error);

    auto stream = NetHTTPStream::create(message(server->url()));
    net::NetTLSSettings settings;
    settings.clientCertificateChainPEM = client.certificate;
    settings.clientPrivateKeyPEM = client.privateKey;
    stream->setTLSSettings(settings);
    auto out = run(stream);
    EXPECT_EQ(out.body, "secret");
    EXPECT_NE(server->lastClientCertificateSubject().value_or("").find("client.example"),
              std::string::npos);
}

TEST_F(TLSStreams, HttpsThroughAProxyUsesATunnelAndKeepsTheConnection) {
    auto server = serve(authority_->issue({}, {"127.0.0.1"}));
    const std::uint16_t target = server->port();
    TestHttpServer proxy([&](const ReceivedRequest& request) {
        ScriptedAnswer answer;
        if (request.method != "CONNECT") return ScriptedAnswer::ok("not a tunnel");
        answer.raw = "HTTP/1.1 200 Connection established\r\n\r\n";
        answer.tunnelToPort = target;
        return answer;
    });
    for (int i = 0; i < 2; ++i) {
        auto stream = NetHTTPStream::create(message(server->url("/through")));
        stream->setProxy(net::NetProxySettings{"127.0.0.1", proxy.port(), ""});
        stream->setPersistentConnection(31);
        auto out = run(stream);
        EXPECT_EQ(out.body, "secret");
    }
    EXPECT_EQ(proxy.acceptedConnections(), 1);
    ASSERT_FALSE(proxy.requests().empty());
    EXPECT_EQ(proxy.requests()[0].target, "127.0.0.1:" + std::to_string(target));
    NetHTTPStream::closeIdleConnection(31);
}

// A proxy that wants credentials for the tunnel: the refusal's body is read whatever its
// framing, and the answered CONNECT goes on the same connection when the proxy keeps it.
TEST_F(TLSStreams, ARefusedTunnelKeepsItsConnectionForTheNextCONNECT) {
    auto server = serve(authority_->issue({}, {"127.0.0.1"}));
    struct Case {
        const char* name;
        std::string refusal;
        ScriptedAnswer::Then then;
        bool kept;
    };
    const std::string ask =
        "HTTP/1.1 407 Proxy Authentication Required\r\n"
        "Proxy-Authenticate: Basic realm=\"p\"\r\n";
    const std::vector<Case> cases = {
        {"length", ask + "Content-Length: 6\r\n\r\nlogin!", ScriptedAnswer::Then::KeepOpen, true},
        {"chunks", ask + "Transfer-Encoding: chunked\r\n\r\n3\r\nlog\r\n3\r\nin!\r\n0\r\n\r\n",
         ScriptedAnswer::Then::KeepOpen, true},
        {"closing", ask + "Connection: close\r\nContent-Length: 0\r\n\r\n",
         ScriptedAnswer::Then::Close, false},
        {"body to the close", ask + "\r\nlogin!", ScriptedAnswer::Then::Close, false},
        {"body cut short", ask + "Content-Length: 60\r\n\r\nlogin!", ScriptedAnswer::Then::Close,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer proxy([&](const ReceivedRequest& request) {
            ScriptedAnswer answer;
            if (!request.header("Proxy-Authorization")) {
                answer.raw = c.refusal;
                answer.then = c.then;
                return answer;
            }
            answer.raw = "HTTP/1.1 200 Connection established\r\n\r\n";
            answer.tunnelToPort = server->port();
            return answer;
        });
        net::NetProxySettings settings{"127.0.0.1", proxy.port(), ""};
        auto refused = NetHTTPStream::create(message(server->url("/through")));
        refused->setProxy(settings);
        refused->setPersistentConnection(32);
        auto first = run(refused);
        EXPECT_FALSE(first.error);
        EXPECT_EQ(first.status, 407);
        EXPECT_EQ(first.kept, c.kept);

        settings.authorization = "Basic cDpw";
        auto answered = NetHTTPStream::create(message(server->url("/through")));
        answered->setProxy(settings);
        answered->setPersistentConnection(32);
        auto second = run(answered);
        EXPECT_EQ(second.body, "secret");
        EXPECT_EQ(second.reused, c.kept);
        EXPECT_EQ(proxy.acceptedConnections(), c.kept ? 1 : 2);
        NetHTTPStream::closeIdleConnection(32);
    }
}

TEST_F(TLSStreams, ProxyRefusingTheTunnelIsAnError) {
    TestHttpServer proxy([](const ReceivedRequest&) {
        ScriptedAnswer answer;
        answer.raw = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
        return answer;
    });
    auto stream = NetHTTPStream::create(message("https://127.0.0.1:1/"));
    stream->setProxy(net::NetProxySettings{"127.0.0.1", proxy.port(), ""});
    auto out = run(stream);
    ASSERT_TRUE(out.error);
    EXPECT_EQ(out.error->code, net::NetErrorHTTPProxyConnectionFailure);
}

TEST_F(TLSStreams, AKeptConnectionServesOnlyRequestsWithItsOwnTLSSettings) {
    // A self-signed server: reachable only with certificate checking off.
    auto server = serve(TestCertificates::selfSigned("127.0.0.1"));
    auto fetch = [&](bool validate) {
        auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(server->url("/")));
        request->setValidatesSecureCertificate(validate);
        request->startSynchronous();
        return request;
    };
    auto unchecked = fetch(false);
    ASSERT_FALSE(unchecked->error());
    EXPECT_EQ(unchecked->responseString(), "secret");

    // The connection kept from the unchecked request must not answer a checking one.
    auto checked = fetch(true);
    ASSERT_TRUE(checked->error());
    EXPECT_EQ(checked->responseStatusCode(), 0);
    EXPECT_FALSE(checked->responseString().value_or("").starts_with("secret"));

    // Another unchecked request may still take the kept connection.
    auto again = fetch(false);
    EXPECT_EQ(again->responseString(), "secret");
    EXPECT_EQ(server->acceptedConnections(), 2);
}
