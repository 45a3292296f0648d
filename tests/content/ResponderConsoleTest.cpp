// What responders write to the console for each request, and the warning for a body that
// is not the JSON it claims to be, which goes through the log and its level mask.
#include <gtest/gtest.h>

#include "SchemeFixtures.h"
#include "content/AppFetchHandler.h"
#include "content/DynamicResponse.h"
#include "content/ThreadText.h"
#include "logging/CapturingLogger.h"

namespace {

using ResponderConsoleTest = SharedHubTest;

std::string servedOnConsole(content::RequestResponseHandler&& responder, const std::string& url,
                            const std::string& method, const std::string& body = "",
                            const std::string& type = "") {
    auto task = std::make_shared<contenttest::RecordingTask>(url, method);
    if (!type.empty()) task->mutableRequest().allHTTPHeaderFields.set("Content-Type", type);
    task->mutableRequest().httpBody.assign(body.begin(), body.end());
    testing::internal::CaptureStderr();
    responder.handle(task->request(), task, nullptr);
    return testing::internal::GetCapturedStderr();
}

TEST_F(ResponderConsoleTest, APostShowsItsHeadersAndBodyAndWarnsOfBrokenJsonThroughTheLog) {
    SetLogLevel(3);
    const std::string console =
        servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch", "POST", "{\"a\": ",
                        "Application/JSON");
    EXPECT_EQ(console,
              "Post: {Content-Type = Application/JSON}\nPost Data: {\"a\": \n");
    LgLog::sharedInstance().flushLog();
    const auto records = logger->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].flag(), LgLogFlagWarning);
    EXPECT_EQ(records[0].message().rfind("[WARN] ", 0), 0u) << records[0].message();
    EXPECT_EQ(records[0].fileName(), "AppFetchHandler");

    // Errors only: no warning is made; good JSON and other types are not looked at.
    SetLogLevel(1);
    servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch", "POST", "{", "application/json");
    SetLogLevel(3);
    servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch", "POST", "{}", "application/json");
    servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch", "POST", "{", "text/plain");
    LgLog::sharedInstance().flushLog();
    EXPECT_EQ(logger->records().size(), 1u);
}

TEST_F(ResponderConsoleTest, TheTestResponderShowsEachRequestOnTheConsole) {
    EXPECT_EQ(servedOnConsole(content::DynamicResponse(), "myapp://x/ajax", "GET"),
              "Current thread: " + content::currentThreadText() + "\nGet: {}\n");
    EXPECT_EQ(servedOnConsole(content::DynamicResponse(), "myapp://x/ajax", "HEAD"),
              "Head: {}\n");
    EXPECT_EQ(servedOnConsole(content::DynamicResponse(), "myapp://x/ajax", "POST", "hello",
                              "text/plain"),
              "Post: {Content-Type = text/plain}\nPost Data: hello\n");
}

TEST_F(ResponderConsoleTest, TheFetchResponderShowsEachGetAndHeadOnTheConsole) {
    const std::string thread = "Current thread: " + content::currentThreadText() + "\n";
    EXPECT_EQ(servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch?action=none", "GET"),
              thread + "Get: {}\n");
    EXPECT_EQ(servedOnConsole(content::AppFetchHandler(), "myapp://x/fetch?action=none", "HEAD",
                              "", "text/plain"),
              "Head: {Content-Type = text/plain}\n" + thread +
                  "Get: {Content-Type = text/plain}\n");
}

}  // namespace
