// Request queues: HEAD requests first, totals, priorities, dependencies, failures.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "http/NetHTTPRequest.h"
#include "http/NetRequestQueue.h"
#include "support/MainLoop.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

struct Owner : NetRequestQueueDelegate {
    std::vector<std::string> log;
    int queueFinishedCount = 0;
    void done(NetHTTPRequest& r) { log.push_back("finished " + r.url()->path()); }
    void failed(NetHTTPRequest& r) {
        log.push_back("failed " + r.url()->path() + " " +
                      std::to_string(r.error() ? r.error()->code : 0));
    }
    void queueFinished(NetRequestQueue&) override { ++queueFinishedCount; }
};

std::shared_ptr<NetRequestQueue> queueFor(const std::shared_ptr<Owner>& owner) {
    auto queue = NetRequestQueue::queue();
    queue->setDelegate(owner);
    queue->setRequestDidFinishSelector(static_cast<NetQueueRequestSelector>(&Owner::done));
    queue->setRequestDidFailSelector(static_cast<NetQueueRequestSelector>(&Owner::failed));
    queue->setQueueDidFinishSelector(&NetRequestQueueDelegate::queueFinished);
    return queue;
}

// A server that answers each path with a body of the length the path names ("/1000").
class SizedServer {
public:
    SizedServer()
        : server_([this](const ReceivedRequest& r) {
              {
                  std::lock_guard guard(lock_);
                  seen_.push_back(r.method + " " + r.target);
              }
              if (r.target == "/fail") {
                  ScriptedAnswer answer;
                  answer.then = ScriptedAnswer::Then::Reset;
                  return answer;
              }
              auto answer = ScriptedAnswer::ok(std::string(std::stoul(r.target.substr(1)), 'x'));
              if (r.method == "HEAD") answer.raw.resize(answer.raw.find("\r\n\r\n") + 4);
              return answer;
          }) {}
    std::string url(const std::string& path) { return server_.url(path); }
    std::vector<std::string> seen() {
        std::lock_guard guard(lock_);
        return seen_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> seen_;
    TestHttpServer server_;
};

std::shared_ptr<NetHTTPRequest> request(SizedServer& server, const std::string& path) {
    auto r = NetHTTPRequest::requestWithURL(Url::parse(server.url(path)));
    r->setShouldAttemptPersistentConnection(false);
    return r;
}

std::ptrdiff_t indexOf(const std::vector<std::string>& list, const std::string& item) {
    auto found = std::find(list.begin(), list.end(), item);
    return found == list.end() ? -1 : found - list.begin();
}

}  // namespace

TEST(NetRequestQueue, GetsAddedBeforeGoRunAfterTheirHeadRequestsWithTheRightTotals) {
    SizedServer server;
    auto owner = std::make_shared<Owner>();
    auto queue = queueFor(owner);
    queue->setShowAccurateProgress(true);
    queue->addOperation(request(server, "/1000"));
    queue->addOperation(request(server, "/5000"));
    auto upload = request(server, "/100");
    upload->appendPostData(std::string(300000, 'u'));
    queue->addOperation(upload);
    EXPECT_EQ(queue->requestsCount(), 3);
    EXPECT_EQ(queue->operationCount(), 5u);  // and two HEAD requests, none for the POST
    queue->go();
    testsupport::runMainLoopUntil([&] { return owner->queueFinishedCount == 1; });
    testsupport::drainMainLoop();

    auto seen = server.seen();
    for (const char* path : {"/1000", "/5000"}) {
        SCOPED_TRACE(path);
        EXPECT_GE(indexOf(seen, std::string("HEAD ") + path), 0);
        EXPECT_LT(indexOf(seen, std::string("HEAD ") + path),
                  indexOf(seen, std::string("GET ") + path));
    }
    EXPECT_EQ(queue->totalBytesToDownload(), 6100u);
    EXPECT_EQ(queue->bytesDownloadedSoFar(), 6100u);
    // What the connection buffered at once is taken off the total it was counted in.
    EXPECT_GT(queue->totalBytesToUpload(), 0u);
    EXPECT_LE(queue->totalBytesToUpload(), 300000u);
    EXPECT_EQ(queue->bytesUploadedSoFar(), queue->totalBytesToUpload());
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_EQ(owner->log.size(), 3u);

    // Added once the queue runs: no HEAD request.
    queue->addOperation(request(server, "/300"));
    testsupport::runMainLoopUntil([&] { return owner->queueFinishedCount == 2; });
    EXPECT_EQ(indexOf(server.seen(), "HEAD /300"), -1);
    EXPECT_EQ(queue->totalBytesToDownload(), 6400u);
}

TEST(NetRequestQueue, SomethingThatIsNoRequestIsRefusedAndNotCounted) {
    auto queue = NetRequestQueue::queue();
    try {
        queue->addOperation(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "AttemptToAddInvalidRequest");
        EXPECT_EQ(e.reason(),
                  "Attempted to add an object that was not an NetHTTPRequest to an "
                  "NetRequestQueue");
    }
    EXPECT_EQ(queue->requestsCount(), 0);
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_EQ(queue->totalBytesToDownload(), 0u);
}

TEST(NetRequestQueue, WithoutAccurateProgressEachRequestIsOneUnit) {
    SizedServer server;
    auto owner = std::make_shared<Owner>();
    auto queue = queueFor(owner);
    for (const char* path : {"/10", "/20", "/30"}) queue->addOperation(request(server, path));
    EXPECT_EQ(queue->totalBytesToDownload(), 3u);
    EXPECT_EQ(queue->totalBytesToUpload(), 3u);
    queue->go();
    testsupport::runMainLoopUntil([&] { return owner->queueFinishedCount == 1; });
    EXPECT_EQ(queue->bytesDownloadedSoFar(), 3u);
    EXPECT_EQ(indexOf(server.seen(), "HEAD /10"), -1);
}

TEST(NetRequestQueue, RunsByPriorityAndDependencyOneAtATime) {
    SizedServer server;
    auto owner = std::make_shared<Owner>();
    auto queue = queueFor(owner);
    queue->setMaxConcurrentOperationCount(1);
    auto first = request(server, "/1");
    auto urgent = request(server, "/2");
    urgent->setQueuePriority(8);
    auto after = request(server, "/3");
    auto blocker = request(server, "/4");
    after->setQueuePriority(9);
    after->addDependency(blocker);
    for (const auto& r : {first, urgent, after, blocker}) queue->addOperation(r);
    queue->go();
    testsupport::runMainLoopUntil([&] { return owner->queueFinishedCount == 1; });
    EXPECT_EQ(server.seen(), (std::vector<std::string>{"GET /2", "GET /1", "GET /4", "GET /3"}));
}

namespace {

// Runs "/fail" and then "/100", one at a time, to the end. The failure reaches the owner
// on the main thread, which is kept busy until the queue is empty: the queue itself must
// hold back what comes after a failed request.
std::shared_ptr<NetRequestQueue> runFailureThenRequest(SizedServer& server,
                                                       const std::shared_ptr<Owner>& owner,
                                                       bool cancelOnFailure) {
    auto queue = queueFor(owner);
    queue->setMaxConcurrentOperationCount(1);
    queue->setShouldCancelAllRequestsOnFailure(cancelOnFailure);
    queue->addOperation(request(server, "/fail"));
    queue->addOperation(request(server, "/100"));
    queue->go();
    queue->waitUntilAllOperationsAreFinished();
    testsupport::runMainLoopUntil([&] { return owner->queueFinishedCount == 1; });
    return queue;
}

}  // namespace

TEST(NetRequestQueue, AFailureIsReportedBeforeTheRestIsCancelled) {
    SizedServer server;
    auto owner = std::make_shared<Owner>();
    auto queue = runFailureThenRequest(server, owner, true);
    EXPECT_EQ(owner->log, (std::vector<std::string>{"failed /fail 1", "failed /100 4"}));
    EXPECT_EQ(indexOf(server.seen(), "GET /100"), -1);
    EXPECT_EQ(queue->totalBytesToDownload(), 0u);
}

TEST(NetRequestQueue, WhenToldNotToCancelTheRestRunsAfterAFailure) {
    SizedServer server;
    auto owner = std::make_shared<Owner>();
    auto queue = runFailureThenRequest(server, owner, false);
    EXPECT_EQ(owner->log, (std::vector<std::string>{"failed /fail 1", "finished /100"}));
    EXPECT_EQ(queue->totalBytesToDownload(), 2u);
}

TEST(NetRequestQueue, ResetKeepsOnlyTheRedirectSelectorAndSuspends) {
    auto owner = std::make_shared<Owner>();
    auto queue = queueFor(owner);
    queue->setRequestWillRedirectSelector(&NetRequestQueueDelegate::requestWillRedirectToURL);
    queue->go();
    queue->reset();
    EXPECT_TRUE(queue->isSuspended());
    EXPECT_FALSE(queue->delegate());
    queue->setDelegate(owner);
    struct Confirming : NetRequestQueueDelegate {
        bool confirmsRedirects() const override { return true; }
    };
    auto confirming = std::make_shared<Confirming>();
    queue->setDelegate(confirming);
    EXPECT_TRUE(queue->confirmsRedirects());
    EXPECT_THROW(queue->addOperation(nullptr), foundation::NamedException);
    auto copy = queue->copy();
    EXPECT_EQ(copy->delegate(), confirming);
    EXPECT_TRUE(copy->confirmsRedirects());
}
