#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FakeThrottleTarget.h"
#include "http/NetBandwidthThrottle.h"
#include "http/NetConnectionPool.h"
#include "http/NetCookieJar.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHeaderParsing.h"
#include "http/NetRequestDefaults.h"
#include "http/NetSessionCookies.h"
#include "http/NetSessionCredentials.h"
#include "platform/net/NetHTTPStream.h"
#include "platform/net/NetRunLoop.h"

using foundation::Url;
using namespace std::chrono_literals;

namespace {

Url url(const std::string& text) {
    return *Url::parse(text);
}

// A clock the test moves by hand.
struct ManualClock {
    NetBandwidthThrottle::TimePoint now{std::chrono::hours(1000)};
    std::function<NetBandwidthThrottle::TimePoint()> function() {
        return [this] { return now; };
    }
};

}  // namespace

TEST(BandwidthThrottle, UploadAllowanceFollowsTheBytesUsedThisSecond) {
    struct Case {
        std::uint64_t used;
        std::uint64_t allowance;
        bool paused;
    };
    for (const Case& c : std::vector<Case>{
             {0, 250, false}, {700, 250, false}, {900, 100, false}, {1100, 0, true}}) {
        SCOPED_TRACE(c.used);
        ManualClock clock;
        NetBandwidthThrottle throttle(clock.function());
        throttle.setMaxBandwidthPerSecond(1000);
        throttle.measureBandwidthUsage();  // opens the first one-second measurement
        throttle.incrementBandwidthUsedInLastSecond(c.used);
        EXPECT_EQ(throttle.maxUploadReadLength(), c.allowance);
        FakeThrottleTarget request;
        throttle.performThrottling(request);
        EXPECT_EQ(request.scheduled, !c.paused);
        if (c.paused) {
            // Over by a tenth: the pause lasts to the end of the second plus a tenth.
            auto wake = throttle.throttleWakeUpTime();
            ASSERT_TRUE(wake);
            EXPECT_NEAR(std::chrono::duration<double>(*wake - clock.now).count(), 1.1, 1e-6);
            clock.now += 1200ms;
            throttle.performThrottling(request);
            EXPECT_TRUE(request.scheduled);
        }
    }
}

TEST(BandwidthThrottle, AverageKeepsSixSamplesAndAgesThemOut) {
    ManualClock clock;
    NetBandwidthThrottle throttle(clock.function());
    throttle.measureBandwidthUsage();
    for (std::uint64_t bytes : {100, 200, 300, 400, 500, 600, 700, 800}) {
        throttle.incrementBandwidthUsedInLastSecond(bytes);
        clock.now += 1s;
        throttle.measureBandwidthUsage();
    }
    // 300..800 are the six kept samples.
    EXPECT_EQ(throttle.averageBandwidthUsedPerSecond(), 550u);
    // Two whole seconds passed after the last measurement ended: two more samples go.
    clock.now += 3s;
    throttle.incrementBandwidthUsedInLastSecond(1000);
    throttle.measureBandwidthUsage();
    EXPECT_EQ(throttle.averageBandwidthUsedPerSecond(), (500u + 600 + 700 + 800 + 1000) / 5);
    // A second with nothing moved drops the history.
    clock.now += 1s;
    throttle.measureBandwidthUsage();
    EXPECT_EQ(throttle.averageBandwidthUsedPerSecond(), 0u);
}

// Bytes moved before a limit was set, or under another one, do not pause the transfers
// that the new limit governs; without a limit nothing is paused.
TEST(BandwidthThrottle, ANewLimitStartsWithoutThePauseOfTheOldOne) {
    ManualClock clock;
    NetBandwidthThrottle throttle(clock.function());
    throttle.setMaxBandwidthPerSecond(1000);
    throttle.measureBandwidthUsage();
    throttle.incrementBandwidthUsedInLastSecond(1000u * 1000 * 1000);
    FakeThrottleTarget request;
    throttle.performThrottling(request);
    EXPECT_FALSE(request.scheduled);
    EXPECT_TRUE(throttle.isPaused());

    throttle.setMaxBandwidthPerSecond(0);
    EXPECT_FALSE(throttle.isPaused());
    throttle.performThrottling(request);
    EXPECT_TRUE(request.scheduled);

    // An unlimited burst in this second, then a limit: the next read goes ahead.
    throttle.incrementBandwidthUsedInLastSecond(1000u * 1000 * 1000);
    throttle.setMaxBandwidthPerSecond(1000);
    EXPECT_EQ(throttle.maxDownloadReadLength(4096), 250u);
    throttle.performThrottling(request);
    EXPECT_TRUE(request.scheduled);
    EXPECT_FALSE(throttle.isPaused());
}

TEST(SessionCredentials, StoringAndFindingFollowIdentityAndPrecedence) {
    NetSessionCredentials store;
    auto alice = std::make_shared<NetCredentials>(NetCredentials{"alice", "pw", ""});
    auto aliceAgain = std::make_shared<NetCredentials>(*alice);
    NetCredentialRecord host{alice, "Basic", url("http://h.example/a"), std::nullopt, "",
                             0,     nullptr};
    store.storeAuthenticationCredentialsInSessionStore(host);
    store.storeAuthenticationCredentialsInSessionStore(host);
    EXPECT_EQ(store.sessionCredentialsStore().size(), 1u);
    NetCredentialRecord equalButDistinct{
        aliceAgain, "Basic", url("http://h.example/b"), std::nullopt, "", 0, nullptr};
    store.storeAuthenticationCredentialsInSessionStore(equalButDistinct);
    EXPECT_EQ(store.sessionCredentialsStore().size(), 2u);

    auto bob = std::make_shared<NetCredentials>(NetCredentials{"bob", "secret", ""});
    store.storeAuthenticationCredentialsInSessionStore(
        {bob, "Basic", url("http://h.example/exact"), "realm", "", 0, nullptr});
    auto bobAgain = std::make_shared<NetCredentials>(*bob);
    store.storeAuthenticationCredentialsInSessionStore(
        {bobAgain, "Basic", url("http://h.example:80/port"), {}, "", 0, nullptr});

    struct Case {
        const char* name;
        std::string requestUrl;
        std::optional<std::string> realm, user, password;
        std::optional<std::string> expectUrl;
    };
    const std::vector<Case> cases = {
        {"exact match wins over an earlier host match",
         "http://h.example/exact",
         {},
         {},
         {},
         "http://h.example/exact"},
        {"first host match otherwise", "http://h.example/other", {}, {}, {}, "http://h.example/a"},
        {"realm must agree", "http://h.example/exact", "other realm", {}, {}, "http://h.example/a"},
        {"user and password narrow the choice",
         "http://h.example/z",
         {},
         "bob",
         "secret",
         "http://h.example/exact"},
        {"a URL naming port 80 matches only port 80",
         "http://h.example:80/z",
         {},
         "bob",
         "secret",
         "http://h.example:80/port"},
        {"wrong password matches nothing",
         "http://h.example/exact",
         {},
         "bob",
         "nope",
         std::nullopt},
        {"other scheme", "https://h.example/a", {}, {}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto found = store.findSessionAuthenticationCredentials(url(c.requestUrl), c.realm, c.user,
                                                                c.password);
        ASSERT_EQ(found.has_value(), c.expectUrl.has_value());
        if (found) {
            EXPECT_EQ(found->url->toString(), *c.expectUrl);
        }
    }

    store.removeAuthenticationCredentialsFromSessionStore(aliceAgain);
    EXPECT_EQ(store.sessionCredentialsStore().size(), 3u);
    store.storeProxyAuthenticationCredentialsInSessionStore(
        {alice, "Basic", {}, {}, "proxy", 3128, nullptr});
    EXPECT_TRUE(store.findSessionProxyAuthenticationCredentials("proxy", 3128));
    EXPECT_FALSE(store.findSessionProxyAuthenticationCredentials("proxy", 8080));
    store.clearServerCredentials();
    EXPECT_TRUE(store.sessionCredentialsStore().empty());
    EXPECT_EQ(store.sessionProxyCredentialsStore().size(), 1u);
}

TEST(Cookies, SetCookieValuesFollowTheStorageRules) {
    const double now = 1'700'000'000;
    const Url from = url("https://www.shop.example/cart/items?id=1");
    struct Case {
        const char* header;
        bool stored;
        std::string domain, path;
        bool hostOnly;
        std::optional<double> expires;
    };
    const std::vector<Case> cases = {
        {"a=1", true, "www.shop.example", "/cart", true, std::nullopt},
        {"a=1; Path=/; Domain=.shop.example", true, "shop.example", "/", false, std::nullopt},
        {"a=1; Domain=other.example", false, "", "", false, std::nullopt},
        {"a=1; Domain=hop.example", false, "", "", false, std::nullopt},
        {"a=1; Path=relative", true, "www.shop.example", "/cart", true, std::nullopt},
        {"a=1; Max-Age=60; Expires=Wed, 21 Oct 2015 07:28:00 GMT", true, "www.shop.example",
         "/cart", true, now + 60},
        {"a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT", true, "www.shop.example", "/cart", true,
         1445412480},
        {"a=1; Expires=Sunday, 06-Nov-94 08:49:37 GMT", true, "www.shop.example", "/cart", true,
         784111777},
        {"novalue", false, "", "", false, std::nullopt},
        {"=nameless", false, "", "", false, std::nullopt},
        {"a=1\r\nX-Injected: yes", false, "", "", false, std::nullopt},
        {"a=1; Path=/\x01", false, "", "", false, std::nullopt},
        {"a=1;\tPath=/", true, "www.shop.example", "/", true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        auto cookie = NetCookie::fromSetCookie(c.header, from, now);
        ASSERT_EQ(cookie.has_value(), c.stored);
        if (!cookie) continue;
        EXPECT_EQ(cookie->domain, c.domain);
        EXPECT_EQ(cookie->path, c.path);
        EXPECT_EQ(cookie->hostOnly, c.hostOnly);
        EXPECT_EQ(cookie->expires, c.expires);
    }
}

// A Domain attribute naming a public suffix would hand the cookie to every site under it.
TEST(Cookies, PublicSuffixDomainsAreRefused) {
    const struct {
        const char* from;
        const char* header;
        std::optional<std::string> domain;
        bool hostOnly;
    } cases[] = {
        {"https://shop.example.co.uk/", "a=1; Domain=co.uk", std::nullopt, false},
        {"https://shop.example.co.uk/", "a=1; Domain=.uk", std::nullopt, false},
        {"https://shop.example.co.uk/", "a=1; Domain=example.co.uk", "example.co.uk", false},
        {"https://me.github.io/", "a=1; Domain=github.io", std::nullopt, false},
        {"https://www.shop.example/", "a=1; Domain=example", std::nullopt, false},
        // The suffix is the host itself: the cookie stays with that host.
        {"https://co.uk/", "a=1; Domain=co.uk", "co.uk", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " " + c.header);
        const auto cookie = NetCookie::fromSetCookie(c.header, url(c.from), 0);
        ASSERT_EQ(cookie.has_value(), c.domain.has_value());
        if (!cookie) continue;
        EXPECT_EQ(cookie->domain, *c.domain);
        EXPECT_EQ(cookie->hostOnly, c.hostOnly);
    }
}

TEST(Cookies, JarSendsMatchingCookiesInOrderAndForgetsExpiredOnes) {
    const double now = 1'700'000'000;
    NetCookieJar jar;
    const Url site = url("https://www.shop.example/cart/items");
    jar.setCookiesFromHeaders({"short=1; Path=/", "long=2; Path=/cart", "secure=3; Path=/; Secure",
                               "wide=4; Path=/; Domain=shop.example", "gone=5; Path=/; Max-Age=10"},
                              site, now);
    EXPECT_EQ(NetCookieJar::cookieHeader(jar.cookiesForURL(site, now)),
              "long=2; short=1; secure=3; wide=4; gone=5");
    EXPECT_EQ(NetCookieJar::cookieHeader(jar.cookiesForURL(url("http://www.shop.example/"), now)),
              "short=1; wide=4; gone=5");
    EXPECT_EQ(
        NetCookieJar::cookieHeader(jar.cookiesForURL(url("http://api.shop.example/cartx"), now)),
        "wide=4");
    EXPECT_EQ(NetCookieJar::cookieHeader(
                  jar.cookiesForURL(url("http://www.shop.example/carts"), now + 11)),
              "short=1; wide=4");
    // A replacement keeps its place by creation time; an expired one deletes.
    jar.setCookiesFromHeaders({"short=9; Path=/", "wide=0; Path=/; Domain=shop.example; Max-Age=0"},
                              site, now + 20);
    EXPECT_EQ(
        NetCookieJar::cookieHeader(jar.cookiesForURL(url("http://www.shop.example/"), now + 20)),
        "short=9");
}

// One site must not be able to make every request to its neighbours carry a huge header.
TEST(Cookies, TheJarAndTheHeaderStayBounded) {
    const double now = 1'700'000'000;
    NetCookieJar jar;
    NetSessionCookies session(jar);
    // 20,000 cookies for the parent domain, set one second apart: the newest 50 stay.
    const Url site = url("http://a.shop.example/");
    for (int i = 0; i < 20000; ++i) {
        auto cookie = NetCookie::fromSetCookie(
            "c" + std::to_string(i) + "=" + std::string(100, 'v') + "; Path=/; Domain=shop.example",
            site, now + i);
        ASSERT_TRUE(cookie);
        jar.setCookie(*cookie, now + i);
        session.addSessionCookie(*cookie);
    }
    auto sent = jar.cookiesForURL(url("http://b.shop.example/"), now + 20000);
    ASSERT_EQ(sent.size(), NetCookieJar::MaximumCookiesPerDomain);
    EXPECT_EQ(sent.front().name, "c19950");
    EXPECT_EQ(sent.back().name, "c19999");
    EXPECT_LE(session.sessionCookies().size(), NetCookieJar::MaximumCookies);

    // Many domains: at most MaximumCookies in all, the oldest gone first.
    for (int d = 0; d < 70; ++d) {
        const Url host = url("http://h" + std::to_string(d) + ".example/");
        for (int i = 0; i < 50; ++i) {
            double at = now + 30000 + d * 50 + i;
            jar.setCookie(*NetCookie::fromSetCookie("n" + std::to_string(i) + "=1", host, at), at);
        }
    }
    EXPECT_EQ(jar.cookies().size(), NetCookieJar::MaximumCookies);
    EXPECT_TRUE(jar.cookiesForURL(url("http://b.shop.example/"), now + 40000).empty());
    EXPECT_EQ(jar.cookiesForURL(url("http://h69.example/"), now + 40000).size(), 50u);

    // The header takes cookies in order while they fit.
    std::vector<NetCookie> many;
    for (int i = 0; i < 100; ++i)
        many.push_back(*NetCookie::fromSetCookie(
            "k" + std::to_string(i) + "=" + std::string(1000, 'x'), site, now));
    const std::string header = NetCookieJar::cookieHeader(many);
    EXPECT_LE(header.size(), NetCookieJar::MaximumCookieHeaderLength);
    EXPECT_TRUE(header.starts_with("k0="));
    EXPECT_GT(header.size(), NetCookieJar::MaximumCookieHeaderLength - 1100);

    // A cookie larger than 4096 bytes of name and value is not kept at all.
    EXPECT_FALSE(NetCookie::fromSetCookie("big=" + std::string(5000, 'x'), site, now));
    EXPECT_TRUE(NetCookie::fromSetCookie("fits=" + std::string(4000, 'x'), site, now));
}

TEST(Cookies, SessionListReplacesByIdentityAndClearsFromTheJar) {
    NetCookieJar jar;
    NetSessionCookies session(jar);
    const Url site = url("http://a.example/");
    auto root = *NetCookie::fromSetCookie("id=1; Path=/", site, 0);
    auto sub = *NetCookie::fromSetCookie("id=2; Path=/sub", site, 0);
    auto replacement = *NetCookie::fromSetCookie("id=3; Path=/", site, 0);
    for (const auto& cookie : {root, sub, replacement}) {
        jar.setCookie(cookie, 0);
        session.addSessionCookie(cookie);
    }
    auto listed = session.sessionCookies();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].value, "2");
    EXPECT_EQ(listed[1].value, "3");
    session.setSessionCookies(std::nullopt);
    EXPECT_TRUE(session.sessionCookies().empty());
    EXPECT_TRUE(jar.cookies().empty());
}

TEST(HeaderParsing, DatesWithAndWithoutWeekdayAndSeconds) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    const std::vector<Case> cases = {
        {"Thu, 01 Dec 1994 16:00:00 GMT", 786297600},
        {"01 Dec 1994 16:00 GMT", 786297600},
        {"Thu, 01 Dec 1994 16:00 GMT", 786297600},
        {"01 Dec 1994 16:00:30 GMT", 786297630},
        {"Thu, 01 Dec 1994 17:00:00 +0100", 786297600},
        {"Thu, 01 Dec 1994 08:00:00 PST", 786297600},
        {"Thu, 01 Dec 1994 17:00:00 GMT+01:00", 786297600},
        {"01 Dec 1994 17:00 GMT+01:00", 786297600},
        {"Thu, 01 Dec 1994 15:30:00 -00:30", 786297600},
        {"Thu, 01 Dec 1994 -1:00:00 GMT", std::nullopt},
        {"Thu, 01 Dec 1994 16:-1:00 GMT", std::nullopt},
        {"Thu, 01 Dec 1994 16:00:-1 GMT", std::nullopt},
        {"Thu, -1 Dec 1994 16:00:00 GMT", std::nullopt},
        {"Thu, 01 Dec +994 16:00:00 GMT", std::nullopt},
        {"Thu, 31 Feb 1994 16:00:00 GMT", std::nullopt},
        {"Thu 01 Dec 1994 16:00:00 GMT", std::nullopt},
        {"Thu, 01 Dec 94 16:00:00 GMT", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(NetHeaderParsing::dateFromRFC1123String(c.text), c.seconds);
    }
}

TEST(HeaderParsing, ExpiryPrefersMaxAgeThenCacheControlThenExpires) {
    const double now = 1000;
    auto headers =
        [](std::initializer_list<std::pair<const std::string, foundation::Value>> entries) {
            return foundation::Dictionary(entries.begin(), entries.end());
        };
    const auto expires = foundation::Value(std::string("Thu, 01 Dec 1994 16:00:00 GMT"));
    EXPECT_EQ(NetHeaderParsing::expiryDateForResponseHeaders(headers({}), 30, now), 1030);
    EXPECT_EQ(
        NetHeaderParsing::expiryDateForResponseHeaders(
            headers({{"cache-control", foundation::Value(std::string("public, Max-Age = 60"))}}), 0,
            now),
        1060);
    EXPECT_EQ(NetHeaderParsing::expiryDateForResponseHeaders(
                  headers({{"Cache-Control", foundation::Value(std::string("max-age=0"))},
                           {"Expires", expires}}),
                  0, now),
              786297600);
    EXPECT_EQ(NetHeaderParsing::expiryDateForResponseHeaders(headers({}), 0, now), std::nullopt);
}

TEST(HeaderParsing, ContentTypeGivesMimeTypeAndKnownCharsets) {
    struct Case {
        std::optional<std::string> contentType;
        std::string mime, encoding;
    };
    const std::vector<Case> cases = {
        {"text/html; Charset=UTF-8", "text/html", "UTF-8"},
        {" application/json ;charset=\"iso-8859-1\"; q=1", "application/json", "ISO-8859-1"},
        {"text/plain; charset=no-such-set", "text/plain", "unchanged"},
        {"text/plain; charset=", "text/plain", "unchanged"},
        {"text/plain; format=flowed", "text/plain", "unchanged"},
        {"image/png", "image/png", "unchanged"},
        {";charset=utf-8", ";charset=utf-8", "unchanged"},
        {std::nullopt, "before", "unchanged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType.value_or("(none)"));
        std::string mime = "before", encoding = "unchanged";
        NetHeaderParsing::parseMimeType(&mime, &encoding, c.contentType);
        EXPECT_EQ(mime, c.mime);
        EXPECT_EQ(encoding, c.encoding);
    }
}

TEST(RequestDefaults, UserAgentCombinesBundleVersionsAndPlatformWords) {
    using foundation::Value;
    auto info = [](std::initializer_list<std::pair<const std::string, Value>> entries) {
        return foundation::Dictionary(entries.begin(), entries.end());
    };
    struct Case {
        foundation::Dictionary info;
        std::optional<std::string> agent;
    };
    const std::vector<Case> cases = {
        {info({{"CFBundleName", Value(std::string("Orvandel"))},
               {"CFBundleShortVersionString", Value(std::string("2.1"))},
               {"CFBundleVersion", Value(std::string("210"))}}),
         "Orvandel 2.1 rv:210 (X11; Linux 6.1.0; en_GB)"},
        {info({{"CFBundleDisplayName", Value(std::string("Shown"))},
               {"CFBundleName", Value(std::string("Hidden"))},
               {"CFBundleShortVersionString", Value(std::string("2.1"))},
               {"CFBundleVersion", Value(std::string("2.1"))}}),
         "Shown 2.1 (X11; Linux 6.1.0; en_GB)"},
        {info({{"CFBundleName", Value(std::string("Orvandel"))},
               {"CFBundleVersion", Value(std::string("7"))}}),
         "Orvandel 7 (X11; Linux 6.1.0; en_GB)"},
        {info({{"CFBundleVersion", Value(std::string("7"))}}), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NetRequestDefaults::userAgentFromBundleInfo(c.info, "6.1.0", "en_GB"), c.agent);
    }
    auto version = NetRequestDefaults::systemVersion();
    ASSERT_TRUE(version);
    EXPECT_EQ(std::count(version->begin(), version->end(), '.'), 2);
}

TEST(ConnectionPool, ChoosesRecordsAsTheReuseRulesSay) {
    NetConnectionPool pool;
    auto now = std::chrono::steady_clock::now();
    auto choose = [&](const std::string& text,
                      std::shared_ptr<NetConnectionRecord> current = nullptr,
                      bool persistent = true) {
        std::optional<std::uint32_t> id;
        auto stream = net::NetHTTPStream::create({});
        auto choice =
            pool.chooseConnection(url(text), persistent, std::move(current), id, stream, now);
        return std::make_pair(choice, stream);
    };
    auto [first, firstStream] = choose("http://h.example/a");
    ASSERT_TRUE(first.record);
    EXPECT_EQ(first.record->id, 1);
    EXPECT_EQ(firstStream->streamID(), 1);
    first.record->request.reset();  // the first request is done: idle
    first.record->expires = now + 60s;

    auto [second, secondStream] = choose("http://h.example/b");
    EXPECT_EQ(second.record, first.record);
    EXPECT_EQ(second.oldStream, firstStream);
    EXPECT_EQ(secondStream->streamID(), 1);

    // While in use it is not shared: a new record is made.
    auto [third, thirdStream] = choose("http://h.example/c");
    EXPECT_EQ(third.record->id, 2);
    // Two idle records for one server: the later one is taken.
    second.record->request.reset();
    third.record->request.reset();
    third.record->expires = now + 60s;
    EXPECT_EQ(choose("http://h.example/d").first.record->id, 2);

    // Another port is another server; a URL without a host gets no record.
    EXPECT_NE(choose("http://h.example:8080/").first.record->id, 1);
    bool persistent = true;
    std::optional<std::uint32_t> id;
    auto none = pool.chooseConnection(url("/relative"), persistent, nullptr, id, nullptr, now);
    EXPECT_FALSE(none.record);
    EXPECT_FALSE(persistent);

    // Expired idle records leave the pool; busy ones stay.
    std::size_t before = pool.records().size();
    first.record->expires = now - 1s;
    pool.expirePersistentConnections(now);
    EXPECT_EQ(pool.records().size(), before - 1);
    for (const auto& record : pool.records()) EXPECT_NE(record, first.record);
}

TEST(ConnectionPool, RunningRequestCountTellsWhetherTheNetworkIsInUse) {
    NetConnectionPool pool;
    EXPECT_FALSE(pool.isNetworkInUse());
    pool.incrementRunningRequestCount();
    pool.incrementRunningRequestCount();
    EXPECT_FALSE(pool.decrementRunningRequestCount());
    EXPECT_TRUE(pool.isNetworkInUse());
    EXPECT_TRUE(pool.decrementRunningRequestCount());
    EXPECT_FALSE(pool.decrementRunningRequestCount());
    EXPECT_FALSE(pool.isNetworkInUse());
}

TEST(ConnectionPool, ActivityIndicatorSwitchAndDelayedHiding) {
    EXPECT_TRUE(NetHTTPRequest::shouldUpdateNetworkActivityIndicator());
    NetHTTPRequest::setShouldUpdateNetworkActivityIndicator(false);
    EXPECT_FALSE(NetHTTPRequest::shouldUpdateNetworkActivityIndicator());
    NetHTTPRequest::setShouldUpdateNetworkActivityIndicator(true);
    EXPECT_TRUE(NetConnectionPool::shared().shouldUpdateNetworkActivityIndicator());

    // Nothing to show or hide on this desktop; hiding checks the running count under the
    // pool's lock, also while this thread holds it.
    NetHTTPRequest::showNetworkActivityIndicator();
    {
        std::lock_guard guard(NetConnectionPool::shared().connectionsLock());
        NetHTTPRequest::hideNetworkActivityIndicatorIfNeeeded();
    }
    // The delayed hiding is a single job on this thread's run loop that outlives the call.
    NetHTTPRequest::hideNetworkActivityIndicatorAfterDelay();
    auto& loop = net::NetRunLoop::current();
    EXPECT_EQ(loop.runOnce(net::NetDefaultRunLoopMode, std::chrono::seconds(30)),
              net::NetRunLoop::Result::HandledSource);
    EXPECT_EQ(loop.runOnce(net::NetDefaultRunLoopMode, std::chrono::milliseconds(700)),
              net::NetRunLoop::Result::TimedOut);
}
