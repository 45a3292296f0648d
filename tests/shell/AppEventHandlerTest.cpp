#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <fstream>

#include "EventHandlerHarness.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"
#include "foundation/UserDefaults.h"
#include "logging/CapturingLogger.h"
#include "logging/LgLogFileManagerDefault.h"
#include "shell/events/AppEventHandler.h"

using foundation::Value;
using foundationtest::ScratchFolder;

namespace {

void setModified(const std::string& path, std::time_t when) {
    struct utimbuf times {when, when};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

std::string logName(const char* stamp) {
    return LgLogFileManagerDefault::applicationName() + " " + stamp + ".log";
}

class AppEventHandlerTest : public testing::Test {
protected:
    AppEventHandler handler() {
        return AppEventHandler({.bundlePath = bundle.path(),
                                .logsDirectory = logs.path(),
                                .reportFolders = std::vector<TCrashLogFinder::ReportFolders>{
                                    {reports / "crash", "", reports / "hang"}},
                                .defaults = &defaults});
    }
    std::string crashReport(const std::string& name) const {
        return reports / ("crash/" + TCrashLogFinder::applicationName() + "_" + name + ".crash");
    }

    ScratchFolder bundle, logs, reports, preferences;
    foundation::UserDefaults defaults{"app-handler-test", preferences.path()};
};

TEST_F(AppEventHandlerTest, InfoDebuggingAndUnknownCommands) {
    writeFile(bundle / "Info.plist",
          *foundation::plist::writeXml(Value::dict({{"CFBundleIdentifier", "com.example.app"},
                                                    {"CFBundleVersion", "1.2"},
                                                    {"Icon", foundation::Data{1, 2}}})));
    auto app = handler();
    const Value info =
        Value::dict({{"CFBundleIdentifier", "com.example.app"}, {"CFBundleVersion", "1.2"}});
    EXPECT_EQ(askHandler(app, "info")["data"],
              Value::dict({{"id", "com.example.app"}, {"info", info}}));
    EXPECT_EQ(askHandler(app, "debugging"), Value::dict({{"result", false}}));
    EXPECT_EQ(askHandler(app, "Info"),
              Value::dict({{"result", false}, {"error", "unhandled command: Info"}}));
    EXPECT_EQ(askRequest(app, Value::dict({{"data", foundation::Dictionary{}}})),
              Value::dict({{"result", false}, {"error", "unhandled command: (null)"}}));
    EXPECT_EQ(askRequest(app, Value::dict({{"cmd", Value::list({"info"})}})),
              Value::dict({{"result", false}, {"error", "unhandled command: [\"info\"]"}}));

    std::filesystem::remove(bundle / "Info.plist");
    EXPECT_EQ(askHandler(app, "info")["data"],
              Value::dict({{"id", ""}, {"info", foundation::Dictionary{}}}));
}

TEST_F(AppEventHandlerTest, LogTailPiecesAndTypes) {
    auto app = handler();
    const Value empty = foundation::Dictionary{};
    // No log file at all.
    EXPECT_EQ(askHandler(app, "get-log", Value::dict({{"type", "app"}}))["data"],
              Value::dict({{"app", ""}}));

    writeFile(logs / logName("2026-01-01--10-00-00-000"), "old\n");
    writeFile(logs / logName("2026-01-02--10-00-00-000"), "A\nB\n");
    const struct {
        Value data;
        Value payload;
    } cases[] = {
        {Value::dict({{"type", "app"}, {"lines", 3}}), Value::dict({{"app", "A\r\n\nB\r\n\n"}})},
        {Value::dict({{"type", "app"}, {"lines", "2"}}), Value::dict({{"app", "\nB\r\n\n"}})},
        {Value::dict({{"type", "app"}, {"lines", 0}}), Value::dict({{"app", "\n"}})},
        {Value::dict({{"type", "app"}, {"lines", -4}}), Value::dict({{"app", "\n"}})},
        // Nothing past the start of the file: no run of empty pieces.
        {Value::dict({{"type", "app"}, {"lines", 1000000000}}),
         Value::dict({{"app", "A\r\n\nB\r\n\n"}})},
        {Value(), Value::dict({{"app", "A\r\n\nB\r\n\n"}, {"crash", ""}})},
        {Value::dict({{"type", "crash"}}), Value::dict({{"crash", ""}})},
        {Value::dict({{"type", "other"}}), empty},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(foundation::json::write(c.data));
        EXPECT_EQ(askHandler(app, "get-log", c.data),
                  Value::dict({{"result", true}, {"data", c.payload}}));
    }

    // Bytes that are not UTF-8 are replaced, the rest of the line kept.
    writeFile(logs / logName("2026-01-03--10-00-00-000"), "ok\nbad \xff\xfe end\n");
    EXPECT_EQ(app.applog(3), "ok\r\n\nbad \xEF\xBF\xBD\xEF\xBF\xBD end\r\n\n");

    // A newest "file" that cannot be read answers nothing, not a run of line breaks, and
    // the failure is not logged.
    std::filesystem::create_directory(logs / logName("2026-01-04--10-00-00-000"));
    auto logger = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(~std::uint64_t(0));
    LgLog::sharedInstance().addLogger(logger);
    EXPECT_EQ(app.applog(5), "");
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().removeLogger(logger);
    lgLogLevel.store(savedLevel);
    EXPECT_EQ(logger->texts(), std::vector<std::string>{});
}

// Without a count the tail is 200 pieces: the file's final line feed and, before it, its
// last 199 lines, each with the line feed that comes before it.
TEST_F(AppEventHandlerTest, LogTailWithoutACountIs200Pieces) {
    std::string file;
    for (int line = 0; line < 250; ++line) file += "L" + std::to_string(line) + "\n";
    writeFile(logs / logName("2026-01-02--10-00-00-000"), file);
    std::string tail;
    for (int line = 51; line < 250; ++line) tail += "\nL" + std::to_string(line) + "\r\n";
    tail += "\n";
    auto app = handler();
    EXPECT_EQ(askHandler(app, "get-log", Value::dict({{"type", "app"}}))["data"]["app"], Value(tail));
    EXPECT_EQ(askHandler(app, "get-log")["data"]["app"], Value(tail));
}

TEST_F(AppEventHandlerTest, NewestCrashOrHangReportSinceTheLastSubmission) {
    auto app = handler();
    writeFile(crashReport("one"), "first crash");
    EXPECT_EQ(app.crashlog(), "first crash");

    writeFile(crashReport("two"), "second crash");
    writeFile(reports / "hang/sub/freeze.hang", "a hang");
    setModified(crashReport("one"), 1'700'000'000);
    setModified(crashReport("two"), 1'700'000'300);
    setModified(reports / "hang/sub/freeze.hang", 1'700'000'100);
    EXPECT_EQ(app.crashlog(), "second crash");

    // Only reports changed since the last feedback submission count.
    defaults.setObject("Feedback.lastSubmissionDate", foundation::Date{1'700'000'050});
    setModified(crashReport("two"), 1'699'999'000);
    EXPECT_EQ(app.crashlog(), "a hang");
    defaults.setObject("Feedback.lastSubmissionDate", foundation::Date{1'800'000'000});
    EXPECT_EQ(askHandler(app, "get-log", Value::dict({{"type", "crash"}}))["data"],
              Value::dict({{"crash", ""}}));
}

// The reports' log lines name the last submission's date as a date, in UTC.
TEST_F(AppEventHandlerTest, CrashReportLinesShowTheSubmissionDateAsADate) {
    auto logger = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(~std::uint64_t(0));
    LgLog::sharedInstance().addLogger(logger);
    auto app = handler();
    writeFile(crashReport("one"), "first crash");
    setModified(crashReport("one"), 1'700'000'100);
    defaults.setObject("Feedback.lastSubmissionDate", foundation::Date{1'700'000'050});
    app.crashlog();
    writeFile(crashReport("two"), "second crash");
    setModified(crashReport("two"), 1'700'000'200);
    app.crashlog();
    defaults.setObject("Feedback.lastSubmissionDate", foundation::Date{1e300});
    app.crashlog();
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().removeLogger(logger);
    lgLogLevel.store(savedLevel);
    const auto texts = logger->texts();
    auto has = [&](const std::string& line) {
        return std::find(texts.begin(), texts.end(), line) != texts.end();
    };
    EXPECT_TRUE(has("Found a crash file earlier than latest submission on 2023-11-14 22:14:10 +0000"));
    EXPECT_TRUE(has("Found 2 crash files earlier than latest submission on 2023-11-14 22:14:10 +0000"));
    EXPECT_TRUE(has("Found 0 crash files earlier than latest submission on 1e+300"));
}

}  // namespace
