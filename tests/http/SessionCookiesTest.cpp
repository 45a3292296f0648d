// The cookies of the session, and the jar's order among cookies of one age.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/NetCookieJar.h"
#include "http/NetHTTPRequest.h"
#include "http/NetSessionCookies.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

Url url(const std::string& text) {
    return *Url::parse(text);
}

std::vector<std::string> names(const std::vector<NetCookie>& cookies) {
    std::vector<std::string> result;
    for (const auto& cookie : cookies) result.push_back(cookie.name);
    return result;
}

}  // namespace

// More cookies than the session list keeps, from another site: forgetting the session
// still takes the first site's sign-in cookie with it.
TEST(SessionCookies, ClearSessionForgetsEveryCookieReceivedPastTheListsBound) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/sign-in") return ScriptedAnswer::ok("in", "Set-Cookie: login=secret\r\n");
        if (r.target.starts_with("/flood/")) {
            std::string cookies;
            for (int i = 0; i < 1001; ++i)
                cookies += "Set-Cookie: " + r.target.substr(7) + "-" + std::to_string(i) + "=1\r\n";
            return ScriptedAnswer::ok("many", cookies);
        }
        return ScriptedAnswer::ok("page");
    });
    const std::string port = std::to_string(server.port());
    auto run = [](const std::string& address) {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(address));
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << address;
        return request;
    };
    run("http://127.0.0.1:" + port + "/sign-in");
    // Three answers of another domain: the jar keeps 50 of theirs, the list 3,000 cookies.
    for (const char* flood : {"a", "b", "c"}) run("http://localhost:" + port + "/flood/" + flood);
    run("http://127.0.0.1:" + port + "/before");
    ASSERT_EQ(server.requests().back().header("Cookie"), "login=secret");

    NetHTTPRequest::clearSession();

    run("http://127.0.0.1:" + port + "/after");
    EXPECT_FALSE(server.requests().back().header("Cookie"));
    run("http://localhost:" + port + "/after");
    EXPECT_FALSE(server.requests().back().header("Cookie"));
    EXPECT_TRUE(NetSessionCookies::shared().sessionCookies().empty());
}

TEST(SessionCookies, ASetListIsForgottenWithTheSessionButOtherCookiesStay) {
    NetCookieJar jar;
    NetSessionCookies session(jar);
    const Url site = url("http://a.example/");
    auto received = *NetCookie::fromSetCookie("received=1", site, 0);
    auto given = *NetCookie::fromSetCookie("given=2", site, 0);
    auto own = *NetCookie::fromSetCookie("own=3", site, 0);
    for (const auto& cookie : {received, given, own}) jar.setCookie(cookie, 0);
    session.addSessionCookie(received);
    session.setSessionCookies(std::vector<NetCookie>{given});
    EXPECT_EQ(names(jar.cookies()), (std::vector<std::string>{"given", "own"}));
    EXPECT_EQ(names(session.sessionCookies()), std::vector<std::string>{"given"});
    session.setSessionCookies(std::nullopt);
    EXPECT_EQ(names(jar.cookies()), std::vector<std::string>{"own"});
}

// Among cookies of one age the one stored first is the older: it is sent first and evicted
// first; storing a cookie again keeps its age but makes it the last stored.
TEST(Cookies, CookiesOfOneAgeKeepTheOrderTheyWereStoredIn) {
    const double now = 1'700'000'000;
    NetCookieJar jar;
    const Url site = url("http://www.shop.example/");
    auto set = [&](const std::string& header, double at) {
        jar.setCookie(*NetCookie::fromSetCookie(header, site, at), at);
    };
    set("a=1; Path=/", now);
    set("b=1; Path=/", now);
    set("c=1; Path=/", now);
    set("deep=1; Path=/x", now + 5);
    set("a=2; Path=/", now + 9);  // keeps its age, now stored last
    EXPECT_EQ(names(jar.cookiesForURL(url("http://www.shop.example/x"), now)),
              (std::vector<std::string>{"deep", "b", "c", "a"}));
    EXPECT_EQ(names(jar.cookies()), (std::vector<std::string>{"b", "c", "deep", "a"}));
    // Filling the domain to its limit and one past it evicts b, the oldest stored first.
    for (std::size_t i = 4; i < NetCookieJar::MaximumCookiesPerDomain; ++i)
        set("n" + std::to_string(i) + "=1; Path=/", now + 10);
    EXPECT_EQ(jar.cookies().size(), NetCookieJar::MaximumCookiesPerDomain);
    set("last=1; Path=/", now + 10);
    auto kept = names(jar.cookies());
    EXPECT_EQ(kept.size(), NetCookieJar::MaximumCookiesPerDomain);
    EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.begin() + 3),
              (std::vector<std::string>{"c", "deep", "a"}));
    // A cookie of a parent domain goes with the host's own, by path and then by age.
    jar.setCookie(*NetCookie::fromSetCookie("wide=1; Domain=shop.example; Path=/x", site, now - 1),
                  now);
    auto sent = names(jar.cookiesForURL(url("http://www.shop.example/x"), now + 20));
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], "wide");
    EXPECT_EQ(sent[1], "deep");
    EXPECT_EQ(sent[2], "c");
    EXPECT_EQ(names(jar.cookiesForURL(url("http://other.shop.example/x"), now + 20)),
              std::vector<std::string>{"wide"});
}
