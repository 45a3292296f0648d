// The download cache: keys, the on-disk layout, what is stored, and every policy.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "foundation/AtomicFile.h"
#include "foundation/Error.h"
#include "foundation/PropertyList.h"
#include "foundation/Unprivileged.h"
#include "http/NetDownloadCache.h"
#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestHttpServer.h"

namespace fs = std::filesystem;
using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

class NetDownloadCacheTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("cache-" + std::to_string(::getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        cache = std::make_shared<NetDownloadCache>();
        cache->setStoragePath(folder.string());
    }
    void TearDown() override { fs::remove_all(folder); }

    std::shared_ptr<NetHTTPRequest> fetch(const std::string& url, int policy = 0, int storage = 0) {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(url), cache, policy);
        request->setCacheStoragePolicy(storage);
        request->startSynchronous();
        return request;
    }

    fs::path folder;
    std::shared_ptr<NetDownloadCache> cache;
};

std::string text(const NetHTTPRequest& request) {
    auto data = request.responseData();
    return data ? std::string(data->begin(), data->end()) : "<none>";
}

}  // namespace

TEST_F(NetDownloadCacheTest, KeysAndFileNames) {
    EXPECT_EQ(NetDownloadCache::keyForURL(*Url::parse("http://127.0.0.1/a/b")),
              "77A404F1772F7AC05EF3D4110D4AF0E6");
    // A path keeps its trailing "/": "/a/b/" is a resource of its own.
    EXPECT_EQ(NetDownloadCache::keyForURL(*Url::parse("http://127.0.0.1/a/b/")),
              "993F191763D19E11366AA8D7251A4014");
    EXPECT_NE(NetDownloadCache::keyForURL(*Url::parse("http://127.0.0.1/a/b//")),
              "77A404F1772F7AC05EF3D4110D4AF0E6");
    // The root is the same with or without it.
    EXPECT_EQ(NetDownloadCache::keyForURL(*Url::parse("http://127.0.0.1/")),
              "5C016E8F0F95F039102CBE8366C5C7F3");
    EXPECT_EQ(NetDownloadCache::keyForURL(*Url::parse("http://127.0.0.1")),
              "5C016E8F0F95F039102CBE8366C5C7F3");

    struct Case {
        std::string path;
        std::string extension;
    };
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("body"); });
    for (const Case& c : {Case{"/page.php", "html"}, Case{"/plain", "html"},
                          Case{"/image.PNG", "PNG"}, Case{"/data.json", "json"}}) {
        SCOPED_TRACE(c.path);
        auto request = fetch(server.url(c.path));
        ASSERT_FALSE(request->error());
        auto key = *NetDownloadCache::keyForURL(*Url::parse(server.url(c.path)));
        auto session = folder / "SessionStore";
        EXPECT_TRUE(fs::exists(session / (key + "." + c.extension)));
        auto headers = foundation::readFile((session / (key + ".cachedheaders")).string());
        ASSERT_TRUE(headers);
        EXPECT_NE(std::string(headers->begin(), headers->end()).find("<plist"), std::string::npos);
        auto plist = foundation::plist::read(*headers);
        ASSERT_TRUE(plist);
        EXPECT_EQ((*plist)["X-NetHTTPRequest-Response-Status-Code"].toInt64(), 200);
    }
}

TEST_F(NetDownloadCacheTest, WhatIsStored) {
    struct Case {
        const char* name;
        std::string answer;
        bool stored;
    };
    const Case cases[] = {
        {"a 200", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", true},
        {"a 404", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", false},
        {"no-store in any case",
         "HTTP/1.1 200 OK\r\nCache-Control: No-Store\r\nContent-Length: 2\r\n\r\nok", false},
        {"Pragma no-cache", "HTTP/1.1 200 OK\r\nPragma: no-cache\r\nContent-Length: 2\r\n\r\nok",
         false},
        {"a list is not an exact match",
         "HTTP/1.1 200 OK\r\nCache-Control: no-cache, no-store\r\nContent-Length: 2\r\n\r\nok",
         true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpServer server([&](const ReceivedRequest&) {
            ScriptedAnswer answer;
            answer.raw = c.answer;
            return answer;
        });
        auto url = server.url("/item" + std::to_string(n++));
        fetch(url);
        EXPECT_EQ(cache->cachedResponseHeadersForURL(*Url::parse(url)).has_value(), c.stored);
    }
    // Policy 2 never stores.
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("x"); });
    fetch(server.url("/two"), NetDoNotWriteToCacheCachePolicy);
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(*Url::parse(server.url("/two"))));
}

TEST_F(NetDownloadCacheTest, EveryPolicyAnswersFromTheCacheOrTheNetwork) {
    enum class Entry { None, Fresh, Stale, NoBody };
    struct Case {
        const char* name;
        int policy;
        Entry entry;
        bool serverUp;
        bool fromCache;
        std::string body;
    };
    const Case cases[] = {
        {"4, fresh", 4, Entry::Fresh, true, true, "cached"},
        {"4, stale: the server says 304", 4, Entry::Stale, true, true, "cached"},
        {"1 never reads", 1, Entry::Fresh, true, false, "fresh"},
        {"16 takes a stale entry", 16, Entry::Stale, true, true, "cached"},
        {"32 with nothing cached goes to the network", 32, Entry::None, true, false, "fresh"},
        {"32 with a vanished body goes to the network", 32, Entry::NoBody, true, false, "fresh"},
        {"32 with an entry", 32, Entry::Stale, true, true, "cached"},
        {"64 falls back when the network fails", 64, Entry::Stale, false, true, "cached"},
        {"8 asks the server first", 8, Entry::Fresh, true, true, "cached"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> hits{0};
        std::atomic<bool> sentValidator{false};
        std::atomic<bool> up{true};
        TestHttpServer server([&](const ReceivedRequest& r) {
            ++hits;
            ScriptedAnswer answer;
            if (!up) {
                answer.then = ScriptedAnswer::Then::Reset;
                return answer;
            }
            if (r.header("If-None-Match") == "\"v1\"") {
                sentValidator = true;
                answer.raw = "HTTP/1.1 304 Not Modified\r\nEtag: \"v1\"\r\n\r\n";
                return answer;
            }
            return ScriptedAnswer::ok("fresh");
        });
        auto url = server.url("/entry" + std::to_string(n++));
        if (c.entry != Entry::None) {
            TestHttpServer origin([&](const ReceivedRequest&) {
                std::string age = c.entry == Entry::Stale ? "0" : "600";
                return ScriptedAnswer::ok("cached",
                                          "Etag: \"v1\"\r\nCache-Control: max-age=" + age + "\r\n");
            });
            // Stored under the URL of the server under test.
            auto seed = NetHTTPRequest::requestWithURL(Url::parse(origin.url("/seed")), cache);
            seed->startSynchronous();
            auto from = *NetDownloadCache::keyForURL(*Url::parse(origin.url("/seed")));
            auto to = *NetDownloadCache::keyForURL(*Url::parse(url));
            auto session = folder / "SessionStore";
            fs::rename(session / (from + ".cachedheaders"), session / (to + ".cachedheaders"));
            fs::rename(session / (from + ".html"), session / (to + ".html"));
            if (c.entry == Entry::NoBody) fs::remove(session / (to + ".html"));
        }
        up = c.serverUp;
        int before = hits;
        auto request = fetch(url, c.policy);
        EXPECT_FALSE(request->error());
        EXPECT_EQ(request->didUseCachedResponse(), c.fromCache);
        EXPECT_EQ(text(*request), c.body);
        if (c.policy == 4 && c.entry == Entry::Fresh) {
            EXPECT_EQ(hits, before);
        }
        if (c.entry == Entry::Stale && c.policy == 4) {
            EXPECT_TRUE(sentValidator);
        }
    }
}

TEST_F(NetDownloadCacheTest, SettingTheStoragePathEmptiesOnlyTheSessionStore) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("kept"); });
    fetch(server.url("/session"));
    fetch(server.url("/permanent"), 0, NetCachePermanentlyCacheStoragePolicy);
    cache->setStoragePath(folder.string());
    EXPECT_FALSE(cache->cachedResponseHeadersForURL(*Url::parse(server.url("/session"))));
    EXPECT_TRUE(cache->cachedResponseHeadersForURL(*Url::parse(server.url("/permanent"))));
    EXPECT_TRUE(fs::is_empty(folder / "SessionStore"));

    std::ofstream(folder / "file") << "x";
    try {
        cache->setStoragePath((folder / "file").string());
        ADD_FAILURE() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "FileExistsAtCachePath");
    }
}

TEST_F(NetDownloadCacheTest, DownloadsToAFileAreStoredAndAnsweredIntoTheFile) {
    TestHttpServer server([](const ReceivedRequest&) {
        return ScriptedAnswer::ok("file body", "Cache-Control: max-age=600\r\n");
    });
    const auto destination = folder / "out.txt";
    auto download = [&] {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/f.txt")), cache, 0);
        request->setDownloadDestinationPath(destination.string());
        request->startSynchronous();
        return request;
    };
    auto first = download();
    ASSERT_FALSE(first->error());
    fs::remove(destination);
    auto second = download();
    ASSERT_FALSE(second->error());
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->downloadDestinationPath(), destination.string());
    std::ifstream in(destination);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "file body");
}

namespace {

// A cache whose body file is lost between the check that it can answer and the read.
class CacheLosingItsBody : public NetDownloadCache {
public:
    std::optional<foundation::Data> cachedResponseDataForURL(const Url& url) override {
        if (losesBody) return std::nullopt;
        return NetDownloadCache::cachedResponseDataForURL(url);
    }
    std::atomic<bool> losesBody{false};
};

}  // namespace

TEST_F(NetDownloadCacheTest, AnEntryLostAfterTheServerConfirmedItEndsTheRequest) {
    TestHttpServer server([](const ReceivedRequest& r) {
        ScriptedAnswer answer;
        answer.raw = r.header("If-None-Match")
                         ? "HTTP/1.1 304 Not Modified\r\nEtag: \"v1\"\r\n\r\n"
                         : "HTTP/1.1 200 OK\r\nEtag: \"v1\"\r\nContent-Length: 2\r\n\r\nok";
        return answer;
    });
    auto losing = std::make_shared<CacheLosingItsBody>();
    losing->setStoragePath(folder.string());
    auto fetchThrough = [&] {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/item")), losing,
                                                      NetAskServerIfModifiedCachePolicy);
        request->setTimeOutSeconds(2);
        return request;
    };
    auto first = fetchThrough();
    first->startSynchronous();
    ASSERT_FALSE(first->error());
    ASSERT_TRUE(losing->cachedResponseHeadersForURL(*Url::parse(server.url("/item"))));

    losing->losesBody = true;
    auto second = fetchThrough();
    std::promise<void> ended;
    std::thread runner([&] {
        second->startSynchronous();
        ended.set_value();
    });
    const bool endedInTime =
        ended.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!endedInTime) second->cancel();
    runner.join();
    ASSERT_TRUE(endedInTime) << "the request never ended";
    ASSERT_TRUE(second->error());
    EXPECT_EQ(second->error()->code, NetConnectionFailureErrorType);
    // The broken entry is gone: the next request asks the network and gets the body.
    EXPECT_FALSE(losing->cachedResponseHeadersForURL(*Url::parse(server.url("/item"))));
    losing->losesBody = false;
    auto third = fetchThrough();
    third->startSynchronous();
    EXPECT_FALSE(third->error());
    EXPECT_EQ(text(*third), "ok");
}

// A folder's address without its "/" redirects to the one with it; both answers may be
// cached, and each answers its own address.
TEST_F(NetDownloadCacheTest, AnAddressAndTheSameWithASlashAreCachedApart) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/docs") {
            ScriptedAnswer moved;
            moved.raw =
                "HTTP/1.1 301 Moved Permanently\r\nLocation: /docs/\r\n"
                "Cache-Control: max-age=600\r\nContent-Length: 0\r\n\r\n";
            return moved;
        }
        return ScriptedAnswer::ok("index of docs", "Cache-Control: max-age=600\r\n");
    });
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "from the server" : "from the cache");
        auto request = fetch(server.url("/docs"));
        ASSERT_FALSE(request->error()) << request->error()->message;
        EXPECT_EQ(request->responseStatusCode(), 200);
        EXPECT_EQ(text(*request), "index of docs");
        EXPECT_EQ(request->redirectCount(), 1);
        EXPECT_EQ(request->didUseCachedResponse(), round == 1);
        auto direct = fetch(server.url("/docs/"));
        ASSERT_FALSE(direct->error());
        EXPECT_EQ(text(*direct), "index of docs");
    }
    EXPECT_EQ(server.requests().size(), 2u);
}

// A folder that cannot be made, listed or emptied raises the exception named for it, which
// names the folder.
TEST_F(NetDownloadCacheTest, FolderProblemsRaiseTheirNamedExceptions) {
    auto raised = [](const std::function<void()>& operation) {
        try {
            operation();
        } catch (const foundation::NamedException& e) {
            return e.name() + ": " + e.reason();
        }
        return std::string("nothing raised");
    };
    const auto missing = folder / "missing" / "cache";
    EXPECT_EQ(raised([&] { cache->setStoragePath(missing.string()); }),
              "FailedToCreateCacheDirectory: Failed to create a directory for the cache at '" +
                  missing.string() + "'");

    auto emptying = std::make_shared<NetDownloadCache>();
    const auto store = folder / "emptied";
    emptying->setStoragePath(store.string());
    const auto session = store / "SessionStore";
    std::ofstream(session / "entry.cachedheaders") << "x";
    // Listed but not emptied: the folder is not the checking user's to change.
    fs::permissions(session, fs::perms(0755));
    std::string removing;
    foundationtest::withoutPrivileges([&] {
        removing = raised([&] { emptying->clearCachedResponsesForStoragePolicy(0); });
        return true;
    });
    EXPECT_EQ(removing, "FailedToRemoveCacheFile: Failed to remove cached data at path '" +
                            session.string() + "'");
    // Not even listed.
    fs::permissions(session, fs::perms::none);
    std::string listing;
    foundationtest::withoutPrivileges([&] {
        listing = raised([&] { emptying->clearCachedResponsesForStoragePolicy(0); });
        return true;
    });
    EXPECT_EQ(listing, "FailedToTraverseCacheDirectory: Listing cache directory failed at path '" +
                           session.string() + "'");
    fs::permissions(session, fs::perms(0755));
    // The permanent store is another folder, and is emptied as it should be.
    std::ofstream(store / "PermanentStore" / "kept") << "x";
    emptying->clearCachedResponsesForStoragePolicy(1);
    EXPECT_TRUE(fs::is_empty(store / "PermanentStore"));
}
