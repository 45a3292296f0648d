#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ScopedVariable.h"
#include "ScriptTimeLimit.h"
#include "http/NetHTTPRequest.h"
#include "http/NetSessionCredentials.h"
#include "platform/net/NetSystemProxies.h"
#include "support/httpserver/LocalTinyproxy.h"
#include "support/httpserver/TestCertificates.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using httptest::ScopedVariable;
using testsupport::LocalTinyproxy;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

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

// A script file in a temporary folder that goes with it.
class ScriptFile {
public:
    explicit ScriptFile(const std::string& bytes) {
        char pattern[] = "/tmp/orvandel-pac-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        std::ofstream(folder_ + "/proxy.pac", std::ios::binary) << bytes;
    }
    ~ScriptFile() { std::filesystem::remove_all(folder_); }
    Url url() const { return Url::fromFilePath(folder_ + "/proxy.pac"); }

private:
    std::string folder_;
};

std::string scriptFor(const std::string& answer) {
    return "function FindProxyForURL(url, host) { return \"" + answer + "\"; }";
}

// An origin server, and a server acting as an HTTP proxy that answers for it.
struct OriginAndProxy {
    TestHttpServer origin{[](const ReceivedRequest&) { return ScriptedAnswer::ok("origin"); }};
    TestHttpServer proxy{[](const ReceivedRequest&) { return ScriptedAnswer::ok("proxied"); }};
    std::string proxyAnswer() const { return "PROXY 127.0.0.1:" + std::to_string(proxy.port()); }
};

}  // namespace

TEST(ProxyRequestTest, AScriptFileChoosesTheProxyOrLeavesTheRequestDirect) {
    OriginAndProxy servers;
    struct Case {
        const char* name;
        std::string script;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"UTF-8", "// café\n" + scriptFor(servers.proxyAnswer()), "proxied"},
        {"ISO Latin-1", "// caf\xe9\n" + scriptFor(servers.proxyAnswer()), "proxied"},
        {"DIRECT first", scriptFor("DIRECT; " + servers.proxyAnswer()), "origin"},
        {"does not compile", "function FindProxyForURL(", "origin"},
        {"never ends", "function FindProxyForURL(u, h) { for (;;) {} }", "origin"},
        {"no usable answer", scriptFor("SOCKS4 127.0.0.1:1"), "origin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!ScriptsCanBeCutOff && std::string(c.name) == "never ends") continue;
        ScriptFile file(c.script);
        auto request =
            run(servers.origin.url("/page"), [&](NetHTTPRequest& r) { r.setPACurl(file.url()); });
        ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
        EXPECT_EQ(request->responseString(), c.body);
    }
    ASSERT_FALSE(servers.proxy.requests().empty());
    EXPECT_EQ(servers.proxy.requests().back().target, servers.origin.url("/page"));
    // A missing file leaves the request direct.
    auto missing = run(servers.origin.url("/"), [](NetHTTPRequest& r) {
        r.setPACurl(Url::fromFilePath("/nonexistent/orvandel/proxy.pac"));
    });
    EXPECT_EQ(missing->responseString(), "origin");
}

// A script file that does not answer (a FIFO nobody writes to, as a hung network file
// would) holds the request up only for its time-out, after which it goes direct; one that
// is written in time chooses the proxy.
TEST(ProxyRequestTest, AScriptFileThatDoesNotAnswerIsGivenUpAtTheTimeOut) {
    OriginAndProxy servers;
    char pattern[] = "/tmp/orvandel-pac-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string script = scriptFor(servers.proxyAnswer());
    for (bool written : {false, true}) {
        SCOPED_TRACE(written ? "written" : "nobody writes");
        // A FIFO of each case's own: the reader given up on in the first case may still hold
        // its FIFO open, and a writer would meet that reader instead of the second case's.
        const std::string fifo = folder + (written ? "/written.pac" : "/silent.pac");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer;
        if (written) {
            writer = std::thread([&] {
                int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
                if (fd < 0) return;
                EXPECT_EQ(::write(fd, script.data(), script.size()),
                          static_cast<ssize_t>(script.size()));
                ::close(fd);
            });
        }
        auto pending = std::async(std::launch::async, [&] {
            return run(servers.origin.url("/page"), [&](NetHTTPRequest& r) {
                r.setPACurl(Url::fromFilePath(fifo));
                // The written script only has to arrive: room for a loaded machine.
                r.setTimeOutSeconds(written ? 30 : 2);
            });
        });
        bool finished = pending.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        if (!finished) {
            // Lets a reader blocked on the FIFO go: a writer that closes at once.
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        }
        EXPECT_TRUE(finished) << "the request waited for the script file past its time-out";
        auto request = pending.get();
        if (writer.joinable()) {
            // A writer still waiting for a reader is let go too.
            int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            writer.join();
            if (fd >= 0) ::close(fd);
        }
        ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
        EXPECT_EQ(request->responseString(), written ? "proxied" : "origin");
    }
    std::filesystem::remove_all(folder);
}

TEST(ProxyRequestTest, AScriptOverHTTPIsFetchedByExactlyOneNestedRequest) {
    OriginAndProxy servers;
    struct Case {
        const char* name;
        int status;
        std::string script;
        bool asynchronous;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"synchronous", 200, scriptFor(servers.proxyAnswer()), false, "proxied"},
        {"asynchronous", 200, scriptFor(servers.proxyAnswer()), true, "proxied"},
        {"broken script", 200, "function FindProxyForURL(u, h) { return", false, "origin"},
        {"failed download", 404, "not here", false, "origin"},
        {"failed download, asynchronous", 404, "not here", true, "origin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer scripts([&](const ReceivedRequest&) {
            ScriptedAnswer answer;
            answer.raw = "HTTP/1.1 " + std::to_string(c.status) +
                         " X\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                         "Content-Length: " +
                         std::to_string(c.script.size()) + "\r\n\r\n" + c.script;
            return answer;
        });
        auto request = NetHTTPRequest::requestWithURL(Url::parse(servers.origin.url("/x")));
        request->setPACurl(Url::parse(scripts.url("/proxy.pac")));
        if (c.asynchronous) {
            ASSERT_TRUE(request->start());
            request->waitUntilFinished();
        } else {
            request->startSynchronous();
        }
        ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
        EXPECT_EQ(request->responseString(), c.body);
        ASSERT_EQ(scripts.requests().size(), 1u);
        EXPECT_EQ(scripts.requests()[0].target, "/proxy.pac");
    }
}

TEST(ProxyRequestTest, TheEnvironmentsProxyIsUsedExceptForNoProxyHosts) {
    if (net::NetSystemProxies::settingsFromGSettings())
        GTEST_SKIP() << "GNOME's proxy settings are in force here";
    OriginAndProxy servers;
    ScopedVariable proxy("http_proxy", "http://127.0.0.1:" + std::to_string(servers.proxy.port()));
    ScopedVariable upper("HTTP_PROXY", "");
    {
        ScopedVariable none("no_proxy", "example.invalid");
        auto request = run(servers.origin.url("/"));
        EXPECT_EQ(request->responseString(), "proxied");
        EXPECT_EQ(request->proxyPort(), servers.proxy.port());
        EXPECT_EQ(request->proxyType(), "HTTP");
    }
    {
        ScopedVariable none("no_proxy", "localhost,127.0.0.1");
        EXPECT_EQ(run(servers.origin.url("/"))->responseString(), "origin");
    }
}

// Plain requests and CONNECT tunnels through tinyproxy, which wants credentials.
TEST(ProxyRequestTest, AProxysChallengeIsAnsweredWithProxyCredentials) {
    auto proxy = LocalTinyproxy::start(std::pair<std::string, std::string>("carol", "tunnel"));
    if (!proxy) GTEST_SKIP() << "tinyproxy is not installed";
    NetSessionCredentials::shared().clearServerCredentials();
    TestHttpServer plain([](const ReceivedRequest&) { return ScriptedAnswer::ok("plain"); });
    TestHttpServer::Options options;
    options.tlsIdentity = testsupport::TestCertificates::selfSigned("127.0.0.1");
    TestHttpServer secure([](const ReceivedRequest&) { return ScriptedAnswer::ok("secure"); },
                          options);
    struct Case {
        const char* name;
        std::string url;
        std::string user, password;
        int code;
    };
    const std::vector<Case> cases = {
        {"http, none", plain.url("/"), "", "", 3},
        {"https, none", secure.url("/"), "", "", 3},
        {"http", plain.url("/"), "carol", "tunnel", 0},
        {"https", secure.url("/"), "carol", "tunnel", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = run(c.url, [&](NetHTTPRequest& r) {
            r.setProxy("127.0.0.1", proxy->port());
            r.setValidatesSecureCertificate(false);
            r.setProxyUsername(c.user);
            r.setProxyPassword(c.password);
        });
        EXPECT_EQ(errorCode(*request), c.code);
        if (c.code != 0) {
            EXPECT_EQ(request->responseStatusCode(), 407);
        } else {
            // The tunnel went with what the plain request left in the session.
            EXPECT_EQ(request->proxyAuthenticationScheme(), "Basic");
            EXPECT_EQ(request->proxyAuthenticationRetryCount(), c.url == plain.url("/") ? 1 : 0);
        }
    }
    // The session's proxy credentials go along before any challenge from now on.
    auto later = run(plain.url("/later"),
                     [&](NetHTTPRequest& r) { r.setProxy("127.0.0.1", proxy->port()); });
    EXPECT_EQ(errorCode(*later), 0);
    EXPECT_EQ(later->proxyAuthenticationRetryCount(), 0);
    ASSERT_FALSE(plain.requests().empty());
    EXPECT_FALSE(plain.requests().back().header("Proxy-Authorization"));
}

TEST(ProxyRequestTest, RefusedProxyCredentialsLeaveTheSession) {
    // A proxy that wants dave:right, and says so again for anything else.
    TestHttpServer proxy([](const ReceivedRequest& r) {
        if (r.header("Proxy-Authorization") == "Basic ZGF2ZTpyaWdodA==")
            return ScriptedAnswer::ok("through " + r.target);
        ScriptedAnswer answer;
        answer.raw =
            "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
            "realm=\"gate\"\r\nContent-Length: 0\r\n\r\n";
        return answer;
    });
    auto& session = NetSessionCredentials::shared();
    auto through = [&](const std::string& user, const std::string& password) {
        return run("http://origin.invalid/page", [&](NetHTTPRequest& r) {
            r.setProxy("127.0.0.1", proxy.port());
            r.setProxyUsername(user);
            r.setProxyPassword(password);
        });
    };
    auto wrong = through("dave", "wrong");
    EXPECT_EQ(errorCode(*wrong), 3);
    EXPECT_EQ(wrong->responseStatusCode(), 407);
    EXPECT_EQ(proxy.requests().size(), 2u);
    for (const auto& record : session.sessionProxyCredentialsStore())
        EXPECT_NE(record.port, proxy.port());
    auto right = through("dave", "right");
    EXPECT_EQ(errorCode(*right), 0);
    EXPECT_EQ(right->responseString(), "through http://origin.invalid/page");
}

TEST(ProxyRequestTest, AfterARedirectTheProxyIsChosenForTheNewURL) {
    if (net::NetSystemProxies::settingsFromGSettings())
        GTEST_SKIP() << "GNOME's proxy settings are in force here";
    TestHttpServer origin([](const ReceivedRequest&) { return ScriptedAnswer::ok("origin"); });
    const std::string landing = origin.url("/landing");
    // The proxy answers for the first host with a redirect to a host it must not carry.
    TestHttpServer proxy([&](const ReceivedRequest& r) {
        if (r.target.find("first.invalid") != std::string::npos) {
            ScriptedAnswer answer;
            answer.raw =
                "HTTP/1.1 302 Found\r\nLocation: " + landing + "\r\nContent-Length: 0\r\n\r\n";
            return answer;
        }
        return ScriptedAnswer::ok("proxied");
    });
    ScopedVariable http("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    ScopedVariable upper("HTTP_PROXY", "");
    ScopedVariable none("no_proxy", "127.0.0.1");
    auto request = run("http://first.invalid/start");
    ASSERT_EQ(errorCode(*request), 0);
    EXPECT_EQ(request->responseString(), "origin");
    EXPECT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(origin.requests().size(), 1u);
    EXPECT_TRUE(request->proxyHost().empty());
}
