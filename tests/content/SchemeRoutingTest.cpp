#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <stdexcept>

#include "SchemeFixtures.h"
#include "content/CustomSchemeHandler.h"
#include "content/DynamicResponse.h"
#include "content/MyURLProtocol.h"
#include "content/PageOrigins.h"
#include "content/SchemeResponders.h"
#include "content/PathText.h"
#include "content/StaticFileResponse.h"
#include "content/ThreadPool.h"
#include "content/URLSchemeTask.h"
#include "foundation/OperationQueue.h"
#include "support/Latch.h"

using namespace contenttest;
using content::CustomSchemeHandler;

namespace {

// Responders that misbehave, or wait until the test lets them answer.
class TrickyResponder : public content::RequestResponseHandler {
public:
    static testsupport::Latch*& gate() {
        static testsupport::Latch* latch = nullptr;
        return latch;
    }

protected:
    // Announces eight bytes and sends four; then the read fails, or the pieces just end.
    static std::shared_ptr<content::HTTPURLResponse> halfBody(const content::URLRequest& request,
                                                              bool readFails) {
        auto response = std::make_shared<content::MyHttpURLResponse>(request.url, 200);
        response->setValueForHeader("8", "Content-Length");
        response->setBodyPieces([readFails, sent = false]() mutable -> std::optional<foundation::Data> {
            if (sent) return readFails ? std::nullopt : std::optional(foundation::Data{});
            sent = true;
            return foundation::Data{'h', 'a', 'l', 'f'};
        });
        return response;
    }
    bool implements(Operation op) const override { return op != Operation::Head; }
    std::shared_ptr<content::HTTPURLResponse> getResponse(const content::URLRequest& request,
                                                          content::SchemeTask&) override {
        const std::string path = request.url.path();
        if (path == "/throws") throw std::runtime_error("broken responder");
        if (path == "/nothing") return nullptr;
        if (path == "/broken" || path == "/short") return halfBody(request, path == "/broken");
        gate()->wait();
        return std::make_shared<content::MyHttpURLResponse>(request.url,
                                                            foundation::Data{'l', 'a', 't', 'e'});
    }
    std::shared_ptr<content::HTTPURLResponse> postResponse(const content::URLRequest& request,
                                                           content::SchemeTask&) override {
        auto response = std::make_shared<content::MyHttpURLResponse>(
            request.url, foundation::Data{'1', '2', '3'});
        response->setValueForHeader("99", "content-length");
        response->setValueForHeader("text/x-own", "content-type");
        return response;
    }
};

void registerOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        content::registerSchemeResponders();
        CustomSchemeHandler::addResponseHandlerClass(
            {"TrickyResponder", std::nullopt,
             [](std::string_view p) {
                 return p == "/throws" || p == "/nothing" || p == "/slow" || p == "/broken" ||
                        p == "/short";
             },
             [] { return std::make_shared<TrickyResponder>(); }});
    });
}

class SchemeRoutingTest : public testing::Test {
protected:
    void SetUp() override {
        registerOnce();
        ASSERT_TRUE(
            content::StaticFileResponse::initializeWithData(makePack(sampleSite()), "pelmor"));
    }
    void TearDown() override { ThreadPool::async().waitUntilAllOperationsAreFinished(); }

    std::shared_ptr<RecordingTask> serve(const std::string& url,
                                         const std::string& method = "GET") {
        auto task = std::make_shared<RecordingTask>(url, method);
        handler.startURLSchemeTask(task);
        EXPECT_TRUE(task->waitForFinish()) << url;
        return task;
    }

    CustomSchemeHandler handler;
};

TEST_F(SchemeRoutingTest, AnswersByPath) {
    struct Case {
        const char* url;
        const char* method;
        int status;
        const char* body;
        const char* contentType;
    };
    const Case cases[] = {
        {"myapp://x/", "GET", 200, "<h1>start</h1>", "text/html"},
        {"myapp://x", "GET", 200, "<h1>start</h1>", "text/html"},
        {"myapp://x/css//site.css", "GET", 200, "body{}", "text/css"},
        {"myapp://x/js/app.js?v=2", "GET", 200, "let a = 1;", "text/javascript"},
        {"myapp://x/data.unknownext", "GET", 200, "raw", "text/plain"},
        {"myapp://x/css/site.css", "HEAD", 200, "body{}", "text/css"},
        {"myapp://x/ajax", "GET", 200, "this is a dynamic test", "text/plain"},
        {"myapp://x/ajax", "HEAD", 200, "", ""},
        {"myapp://x/ajax", "POST", 200, "", ""},
        {"myapp://x/fetch", "GET", 200, "", ""},
        {"myapp://x/css/site.css", "OPTIONS", 405, "", ""},
        {"myapp://x/css/site.css", "PUT", 405, "", ""},
        {"myapp://x/throws", "GET", 500, "", ""},
        {"myapp://x/nothing", "GET", 500, "", ""},
        {"myapp://x/nothing", "HEAD", 500, "", ""},
        {"myapp://x/nothing", "POST", 200, "123", "text/x-own"},
    };
    for (const auto& c : cases) {
        const auto task = serve(c.url, c.method);
        const std::string label = std::string(c.method) + " " + c.url;
        EXPECT_EQ(task->status(), c.status) << label;
        EXPECT_EQ(task->body(), c.body) << label;
        EXPECT_EQ(task->header("Content-Type"), c.contentType) << label;
        // No page asked from another origin, so no page of one may read it.
        EXPECT_EQ(task->header("Access-Control-Allow-Origin"), "") << label;
        EXPECT_FALSE(task->header("Content-Length").empty()) << label;
        EXPECT_EQ(task->finishes(), 1) << label;
    }
    // A responder's own length stays, whatever the body.
    EXPECT_EQ(serve("myapp://x/nothing", "POST")->header("Content-Length"), "99");
}

// A pack of several megabytes goes through many pieces of the body and past the boundaries of
// its inflated room: every file comes back byte for byte. The same pack with a damaged
// signature is refused while it is being inflated, and the files served before stay.
TEST_F(SchemeRoutingTest, LargePackServedByteForByteAndRefusedWhenItsSignatureFails) {
    std::vector<packtool::PackFile> files;
    std::uint32_t seed = 99;
    for (const std::size_t size :
         {std::size_t{2'500'000}, std::size_t{17}, std::size_t{1'700'001}}) {
        std::string text(size, ' ');
        for (auto& c : text) c = char('a' + ((seed = seed * 1664525 + 1013904223) >> 27));
        files.push_back(file("f" + std::to_string(files.size()) + ".txt", text));
    }
    auto pack = makePack(files);
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(pack, "pelmor"));
    for (const auto& f : files) {
        EXPECT_EQ(serve("myapp://x/" + f.name)->body(),
                  std::string(f.contents.begin(), f.contents.end()))
            << f.name;
    }

    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(makePack(sampleSite()), "pelmor"));
    pack[7 + 10] ^= 0x40;  // inside the signature
    EXPECT_FALSE(content::StaticFileResponse::initializeWithData(pack, "pelmor"));
    EXPECT_EQ(serve("myapp://x/")->body(), "<h1>start</h1>");
    EXPECT_EQ(serve("myapp://x/f0.txt")->status(), 404);
}

// Only our own pages read our answers: those of the scheme itself, and with the development
// server set, the pages of its origin; any other origin is refused before a responder runs.
TEST_F(SchemeRoutingTest, OnlyOurOwnPagesReadTheAnswers) {
    struct Case {
        const char* origin;
        int status;
        const char* allowed;
    };
    const Case cases[] = {
        {"myapp://x", 200, "myapp://x"},
        {"http://127.0.0.1:8080", 200, "http://127.0.0.1:8080"},
        {"http://127.0.0.1:8081", 403, ""},
        {"https://127.0.0.1:8080", 403, ""},
        {"http://example.com", 403, ""},
        {"null", 403, ""},
        {"", 403, ""},
    };
    content::PageOrigins::setDevelopmentServer("http://127.0.0.1:8080");
    for (const auto& c : cases) {
        for (const char* url : {"myapp://x/css/site.css", "myapp://x/fetch?action=nothing"}) {
            auto task = std::make_shared<RecordingTask>(url);
            task->mutableRequest().allHTTPHeaderFields.set("Origin", c.origin);
            handler.startURLSchemeTask(task);
            ASSERT_TRUE(task->waitForFinish());
            const std::string label = std::string(c.origin) + " " + url;
            EXPECT_EQ(task->status(), c.status) << label;
            EXPECT_EQ(task->header("Access-Control-Allow-Origin"), c.allowed) << label;
            if (c.status == 403) {
                EXPECT_EQ(task->body(), "") << label;
            }
        }
    }
    content::PageOrigins::setDevelopmentServer(std::nullopt);
    auto task = std::make_shared<RecordingTask>("myapp://x/css/site.css");
    task->mutableRequest().allHTTPHeaderFields.set("Origin", "http://127.0.0.1:8080");
    handler.startURLSchemeTask(task);
    ASSERT_TRUE(task->waitForFinish());
    EXPECT_EQ(task->status(), 403);
}

// A view's request is judged by the page the view shows, with or without an Origin: only
// our pages read "/fetch", while any view may load the pack's pages. Native code's own
// requests come from no page.
TEST_F(SchemeRoutingTest, ThePageAViewShowsDecidesWithoutAnOrigin) {
    auto statusFor = [&](const char* url, std::optional<std::string> page) {
        auto task = std::make_shared<RecordingTask>(url);
        task->mutableRequest().pageURL = std::move(page);
        handler.startURLSchemeTask(task);
        EXPECT_TRUE(task->waitForFinish());
        return task->status();
    };
    const char* fetch = "myapp://x/fetch?action=nothing";
    const int ours = statusFor(fetch, std::nullopt);
    EXPECT_NE(ours, 403);
    content::PageOrigins::setDevelopmentServer("http://127.0.0.1:8080");
    EXPECT_EQ(statusFor(fetch, "myapp://x/index.html"), ours);
    EXPECT_EQ(statusFor(fetch, "http://127.0.0.1:8080/"), ours);
    for (const char* page : {"file:///tmp/dropped.html", "http://127.0.0.1:8081/", "about:blank", ""}) {
        EXPECT_EQ(statusFor(fetch, page), 403) << page;
        EXPECT_EQ(statusFor("myapp://x/css/site.css", page), 200) << page;
    }
    content::PageOrigins::setDevelopmentServer(std::nullopt);
    EXPECT_EQ(statusFor(fetch, "http://127.0.0.1:8080/"), 403);
}

// An answer of "/fetch" (a file of the person's) shown as a page is not one of ours, though
// its address is of our scheme: it reads nothing through "/fetch". The path is matched as
// the routing matches it.
TEST_F(SchemeRoutingTest, AFetchAnswerShownAsAPageIsNotOurs) {
    const char* fetch = "myapp://x/fetch?action=nothing";
    for (const char* page : {"myapp://x/fetch?action=localfile&path=/tmp/page.html", "myapp://x/fetch",
                             "myapp://x/ajax"}) {
        EXPECT_FALSE(content::PageOrigins::isOwnPage(page)) << page;
        auto task = std::make_shared<RecordingTask>(fetch);
        task->mutableRequest().pageURL = page;
        handler.startURLSchemeTask(task);
        ASSERT_TRUE(task->waitForFinish());
        EXPECT_EQ(task->status(), 403) << page;
    }
    for (const char* page : {"myapp://x", "myapp://x/", "myapp://x/index.html", "myapp://x/fetch/",
                             "myapp://x/FETCH", "myapp://x/window.html?fetch"}) {
        EXPECT_TRUE(content::PageOrigins::isOwnPage(page)) << page;
    }
}

TEST_F(SchemeRoutingTest, UnclaimedPathsAreNotFoundWithoutBody) {
    for (const char* url : {"myapp://x/fetch/", "myapp://x/FETCH", "myapp://x/INDEX.HTML",
                            "myapp://x/missing.html", "myapp://x/css/"}) {
        const auto task = serve(url);
        EXPECT_EQ(task->status(), 404) << url;
        EXPECT_EQ(task->body(), "") << url;
        // Nobody claimed it, so no responder decorated the answer.
        EXPECT_EQ(task->header("Access-Control-Allow-Origin"), "") << url;
    }
    EXPECT_EQ(CustomSchemeHandler::inFlightCount(), 0u);
}

TEST_F(SchemeRoutingTest, PackNamesArePercentDecoded) {
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
        makePack({file("index.html", "i"), file("a b.txt", "space"),
                  file("\xC3\xBC.css", "umlaut")}),
        "pelmor"));
    EXPECT_EQ(serve("myapp://x/a%20b.txt")->body(), "space");
    EXPECT_EQ(serve("myapp://x/%C3%BC.css")->body(), "umlaut");
    EXPECT_EQ(serve("myapp://x/%C3%BC.css")->header("Content-Type"), "text/css");
    EXPECT_EQ(serve("myapp://x/a%2520b.txt")->status(), 404);
}

TEST(ServedFileName, DecodesAndNeverLeadsOutOfTheFolder) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"/", "index.html"},
        {"", "index.html"},
        {"//css//site.css", "css/site.css"},
        {"/a%20b.txt", "a b.txt"},
        {"/%C3%BC.css", "\xC3\xBC.css"},
        {"/js/app.js?v=1", "js/app.js"},
        {"/..", std::nullopt},
        {"/a/../../secret", std::nullopt},
        {"/%2E%2E/secret", std::nullopt},
        {"/a/..%2F..%2Fsecret", std::nullopt},
        {"/%2Fetc/passwd", std::nullopt},
        {"/a%00.html", std::nullopt},
        {"/..a/b..", "..a/b.."},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(content::servedFileName(path), expected) << path;
    }
}

TEST_F(SchemeRoutingTest, StoppedResponderSendsNothingAndOnlyItsTaskIsStopped) {
    testsupport::Latch gate(1);
    TrickyResponder::gate() = &gate;
    auto stopped = std::make_shared<RecordingTask>("myapp://x/slow");
    auto running = std::make_shared<RecordingTask>("myapp://x/slow");
    handler.startURLSchemeTask(stopped);
    handler.startURLSchemeTask(running);
    EXPECT_EQ(CustomSchemeHandler::inFlightCount(), 2u);
    // Each request in flight with the responder serving it, oldest first.
    const auto inFlight = CustomSchemeHandler::allHandlers();
    ASSERT_EQ(inFlight.size(), 2u);
    EXPECT_EQ(inFlight[0].task, stopped);
    EXPECT_EQ(inFlight[1].task, running);
    EXPECT_TRUE(inFlight[0].handler && inFlight[1].handler);
    EXPECT_NE(inFlight[0].handler, inFlight[1].handler);
    handler.stopURLSchemeTask(stopped);
    gate.count_down();
    ASSERT_TRUE(running->waitForFinish());
    ThreadPool::async().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(running->body(), "late");
    EXPECT_FALSE(stopped->gotResponse());
    EXPECT_EQ(stopped->finishes(), 0);
    EXPECT_EQ(CustomSchemeHandler::inFlightCount(), 0u);
    EXPECT_TRUE(CustomSchemeHandler::allHandlers().empty());
    TrickyResponder::gate() = nullptr;
}

// A task that fails as the answer reaches it.
class ThrowingTask : public RecordingTask {
public:
    using RecordingTask::RecordingTask;
    void didReceiveResponse(const content::HTTPURLResponse&) override {
        throw std::runtime_error("the page went away");
    }
};

TEST_F(SchemeRoutingTest, AFailureWhileDeliveringShowsItsDescriptionThenTheCallStack) {
    auto task = std::make_shared<ThrowingTask>("myapp://x/ajax");
    bool finished = false;
    testing::internal::CaptureStderr();
    content::DynamicResponse().handle(task->request(), task, [&] { finished = true; });
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(finished);
    EXPECT_EQ(task->finishes(), 0);
    const std::string description = "\nthe page went away\n";
    const std::size_t at = console.find(description);
    ASSERT_NE(at, std::string::npos) << console;
    // One line per frame, each with its address, as the C library writes them.
    std::istringstream frames(console.substr(at + description.size()));
    int lines = 0;
    for (std::string line; std::getline(frames, line);) {
        EXPECT_NE(line.find("[0x"), std::string::npos) << line;
        ++lines;
    }
    EXPECT_GE(lines, 3) << console;
}

// A native reader of "myapp" URLs without a browser view.
class CollectingClient : public content::URLProtocolClient {
public:
    void didReceiveResponse(content::MyURLProtocol&, const content::HTTPURLResponse& response,
                            CacheStoragePolicy policy) override {
        status = int(response.statusCode());
        noCaching = policy == CacheStoragePolicy::NotAllowed;
    }
    void didLoadData(content::MyURLProtocol&, std::span<const std::uint8_t> data) override {
        body.append(data.begin(), data.end());
    }
    void didFinishLoading(content::MyURLProtocol&) override { done.count_down(); }
    void didFailWithError(content::MyURLProtocol&, const foundation::Error&) override {
        failed = true;
        done.count_down();
    }

    int status = 0;
    bool noCaching = false;
    bool failed = false;
    std::string body;
    testsupport::Latch done{1};
};

TEST_F(SchemeRoutingTest, UrlProtocolReadsThroughTheSameResponders) {
    auto request = RecordingTask("MYAPP://x/css/site.css").request();
    EXPECT_TRUE(content::MyURLProtocol::canInitWithRequest(request));
    EXPECT_FALSE(content::MyURLProtocol::canInitWithRequest(
        RecordingTask("https://x/css/site.css").request()));
    auto handled = request;
    handled.allHTTPHeaderFields.set(content::MyURLProtocol::kHandledKey, "1");
    EXPECT_FALSE(content::MyURLProtocol::canInitWithRequest(handled));

    auto client = std::make_shared<CollectingClient>();
    content::MyURLProtocol protocol(request, client);
    protocol.startLoading();
    client->done.wait();
    EXPECT_EQ(client->status, 200);
    EXPECT_TRUE(client->noCaching);
    EXPECT_EQ(client->body, "body{}");
}

// Connection callbacks that a reader of its own would call: passed on to the client, uncached,
// and the response and body kept; a failure changes nothing.
TEST_F(SchemeRoutingTest, UrlProtocolPassesConnectionCallbacksOnAndKeepsTheAnswer) {
    auto client = std::make_shared<CollectingClient>();
    content::MyURLProtocol protocol(RecordingTask("myapp://x/elsewhere").request(), client);
    const content::HTTPURLResponse response(*foundation::Url::parse("myapp://x/elsewhere"), 203);
    protocol.connectionDidReceiveResponse(nullptr, response);
    EXPECT_EQ(client->status, 203);
    EXPECT_TRUE(client->noCaching);
    ASSERT_NE(protocol.response(), nullptr);
    EXPECT_EQ(protocol.response()->statusCode(), 203);
    const std::string first = "first ", second = "second";
    protocol.connectionDidReceiveData(
        nullptr, std::span(reinterpret_cast<const std::uint8_t*>(first.data()), first.size()));
    protocol.connectionDidReceiveData(
        nullptr, std::span(reinterpret_cast<const std::uint8_t*>(second.data()), second.size()));
    EXPECT_EQ(client->body, "first second");
    EXPECT_EQ(std::string(protocol.mutableData().begin(), protocol.mutableData().end()),
              "first second");
    protocol.connectionDidFailWithError(nullptr, {"NSURLErrorDomain", -1005, "lost", {}});
    EXPECT_FALSE(client->failed);
    protocol.connectionDidFinishLoading(nullptr);
    client->done.wait();
    // A second response starts the kept body afresh.
    protocol.connectionDidReceiveResponse(nullptr, response);
    EXPECT_TRUE(protocol.mutableData().empty());
}

// Lets go of its protocol when the answer is complete, as a one-shot reader does.
class ReleasingClient : public content::URLProtocolClient {
public:
    void didReceiveResponse(content::MyURLProtocol&, const content::HTTPURLResponse&,
                            CacheStoragePolicy) override {}
    void didLoadData(content::MyURLProtocol&, std::span<const std::uint8_t>) override {}
    void didFinishLoading(content::MyURLProtocol&) override {
        protocol.reset();
        done.count_down();
    }
    void didFailWithError(content::MyURLProtocol&, const foundation::Error&) override {
        done.count_down();
    }
    std::unique_ptr<content::MyURLProtocol> protocol;
    testsupport::Latch done{1};
};

TEST_F(SchemeRoutingTest, UrlProtocolClientMayReleaseItsProtocolWhenLoadingFinishes) {
    auto client = std::make_shared<ReleasingClient>();
    client->protocol = std::make_unique<content::MyURLProtocol>(
        RecordingTask("myapp://x/css/site.css").request(), client);
    client->protocol->startLoading();
    client->done.wait();
    EXPECT_FALSE(client->protocol);
}

// A body read in pieces that breaks off fails the request, for the browser view's task and
// for a native reader alike.
TEST_F(SchemeRoutingTest, ABodyThatBreaksOffIsAFailedRequest) {
    for (const char* path : {"/broken", "/short"}) {
        auto task = serve(std::string("myapp://x") + path);
        EXPECT_EQ(task->status(), 200) << path;
        EXPECT_EQ(task->body(), "half") << path;
        EXPECT_EQ(task->finishes(), 0) << path;
        EXPECT_EQ(task->failures(), 1) << path;

        auto client = std::make_shared<CollectingClient>();
        content::MyURLProtocol protocol(RecordingTask(std::string("myapp://x") + path).request(),
                                        client);
        protocol.startLoading();
        client->done.wait();
        EXPECT_TRUE(client->failed) << path;
    }
}

TEST(DynamicResponsePath, ClaimsAjaxPaths) {
    const std::pair<const char*, bool> cases[] = {
        {"/ajax", true},   {"/ajax?x=1", true}, {"/ajax/more", true}, {"//ajax", true},
        {"/ajaxy", false}, {"/other", false},   {"/x/ajax", false},
    };
    for (const auto& [path, claimed] : cases) {
        EXPECT_EQ(content::DynamicResponse::test(path), claimed) << path;
    }
}

// An adapter over a browser view's own task passes every send on to that task unchanged.
TEST(URLSchemeTaskOverBrowserTask, PassesTheSendsOnToTheTaskItWraps) {
    const auto browser = std::make_shared<RecordingTask>("myapp://x/ajax");
    const auto adapter = content::URLSchemeTask::schemeTaskWithWKURLSchemeTask(browser);
    EXPECT_EQ(adapter->task(), browser);
    EXPECT_EQ(adapter->request().url.toString(), "myapp://x/ajax");
    EXPECT_EQ(adapter->proto(), nullptr);
    EXPECT_EQ(adapter->client(), nullptr);

    content::DynamicResponse().handle(adapter->request(), adapter, nullptr);
    EXPECT_EQ(browser->status(), 200);
    EXPECT_EQ(browser->header("Content-Type"), "text/plain");
    EXPECT_EQ(browser->body(), "this is a dynamic test");
    EXPECT_EQ(browser->finishes(), 1);
    adapter->didFailWithError({"NSURLErrorDomain", -1005, "lost", {}});
    EXPECT_EQ(browser->failures(), 1);

    // Another task set later receives what follows; the first hears nothing more.
    const auto second = std::make_shared<RecordingTask>("myapp://x/other");
    adapter->setTask(second);
    adapter->setRequest(second->request());
    EXPECT_EQ(adapter->request().url.path(), "/other");
    adapter->didReceiveResponse(content::MyHttpURLResponse(second->request().url, 404, "HTTP/1.1",
                                                           {{"X-A", "1"}}));
    adapter->didFinish();
    EXPECT_EQ(second->status(), 404);
    EXPECT_EQ(second->header("X-A"), "1");
    EXPECT_EQ(second->finishes(), 1);
    EXPECT_EQ(browser->finishes(), 1);
}

}  // namespace
