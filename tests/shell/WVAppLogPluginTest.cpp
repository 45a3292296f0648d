#include <gtest/gtest.h>

#include "BridgePairFixture.h"
#include "logging/CapturingLogger.h"
#include "logging/LogLevel.h"
#include "shell/plugins/WVAppLogPlugin.h"

using foundation::Value;

namespace {

class WVAppLogPluginTest : public BridgePairTest {
protected:
    void SetUp() override {
        savedLevel_ = lgLogLevel.load();
        LgLog::sharedInstance().addLogger(logger);
        plugin = WVAppLogPlugin::create(front, {}, {});
        startPage();
    }
    void TearDown() override {
        LgLog::sharedInstance().removeAllLoggers();
        LgLog::sharedInstance().flushLog();
        lgLogLevel.store(savedLevel_);
        BridgePairTest::TearDown();
    }

    std::shared_ptr<CapturingLogger> logger = std::make_shared<CapturingLogger>();
    std::shared_ptr<WVAppLogPlugin> plugin;

private:
    std::uint64_t savedLevel_ = 3;
};

}  // namespace

TEST_F(WVAppLogPluginTest, WritesEachLevelAsTheProgramLevelAllows) {
    struct Case {
        Value data;
        std::int32_t programLevel;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {Value::dict({{"level", 3}, {"message", "M"}}), 3, {"[ERROR] M"}},
        {Value::dict({{"level", 2}, {"message", "careful"}}), 3, {"[WARN] careful"}},
        {Value::dict({{"level", 1}, {"message", "quiet"}}), 3, {}},
        {Value::dict({{"level", 1}, {"message", "told"}}), -1, {"told"}},
        {Value::dict({{"level", 0}, {"message", "detail"}}), -1, {"[DEBUG] detail"}},
        {Value::dict({{"level", 7}, {"message", "never"}}), -1, {}},
        {Value::dict({{"level", -1}, {"message", "never"}}), -1, {}},
        {Value::dict({{"level", "2"}, {"message", "text level"}}), 3, {"[WARN] text level"}},
        {Value::dict({{"level", 2.9}, {"message", "truncated"}}), 3, {"[WARN] truncated"}},
        {Value::dict({{"message", "no level"}}), -1, {"[DEBUG] no level"}},
        {Value::dict({{"level", 3}}), 3, {"[ERROR] (null)"}},
        {Value::dict({{"level", 3}, {"message", 42}}), 3, {"[ERROR] 42"}},
        {Value::dict({{"level", 3}, {"message", Value::dict({{"a", 1}})}}),
         3,
         {"[ERROR] {\"a\":1}"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(foundation::json::write(c.data));
        SetLogLevel(c.programLevel);
        const auto before = logger->texts().size();
        // A dictionary is never answered, also when the page waits for an answer.
        EXPECT_TRUE(ask("applog", c.data, false).isNil());
        LgLog::sharedInstance().flushLog();
        const auto texts = logger->texts();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + before, texts.end()), c.written);
    }
}

TEST_F(WVAppLogPluginTest, DataThatIsNotADictionaryIsAnswered) {
    for (const Value& data : {Value("text"), Value::list({3, "M"}), Value(3)}) {
        EXPECT_EQ(ask("applog", data),
                  Value::dict({{"result", false}, {"error", "invalid settings data."}}));
    }
    LgLog::sharedInstance().flushLog();
    EXPECT_TRUE(logger->texts().empty());
}

TEST(WVAppLogPluginValues, ReducedToWhatAPropertyListHolds) {
    const Value reduced = WVAppLogPlugin::validValue(Value::dict({
        {"bytes", foundation::Data{1, 2}},
        {"when", foundation::Date{86400.5}},
        {"list", Value::list({Value::null(), "text", 3})},
        {"gone", Value::null()},
    }));
    EXPECT_EQ(reduced, Value::dict({{"bytes", foundation::Data{1, 2}},
                                    {"when", 86400.5},
                                    {"list", Value::list({"text", 3})}}));
    EXPECT_EQ(WVAppLogPlugin::validValue(Value::null()), Value());
}
