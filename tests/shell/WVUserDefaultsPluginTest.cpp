#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "BridgePairFixture.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"
#include "shell/plugins/WVUserDefaultsPlugin.h"

using foundation::Value;

namespace {

Value failure(const char* error) {
    return Value::dict({{"result", false}, {"error", error}});
}

class WVUserDefaultsPluginTest : public BridgePairTest {
protected:
    void SetUp() override {
        plugin = WVUserDefaultsPlugin::create(front, {}, {}, defaults);
        startPage();
    }

    // Writes or reads one entry of the prefs store through the page.
    Value writePref(const Value& key, const Value& value, bool answered) {
        return ask("userdefaults",
                   Value::dict({{"cmd", "write"},
                                {"prefsKey", Value::dict({{"key", key}, {"value", value}})}}),
                   answered);
    }
    Value readPref(const char* key) {
        return ask("userdefaults", Value::dict({{"cmd", "read"}, {"prefsKey", key}}));
    }
    Value storedPrefs() {
        auto bytes = defaults.dataForKey("prefs");
        if (!bytes) return {};
        return foundation::plist::read(*bytes).value_or(Value());
    }

    foundationtest::ScratchFolder folder;
    foundation::UserDefaults defaults{"com.orvandel.Test", folder.path()};
    std::shared_ptr<WVUserDefaultsPlugin> plugin;
};

}  // namespace

TEST_F(WVUserDefaultsPluginTest, RequestsAnsweredWithTheirTexts) {
    struct Case {
        const char* name;
        Value request;
        Value answer;  // nil: no answer
    };
    const Case cases[] = {
        {"not a dictionary", Value::list({1}), failure("invalid settings data.")},
        {"unknown command", Value::dict({{"cmd", "delete"}}), failure("Unknown command")},
        {"command not text", Value::dict({{"cmd", 5}}), failure("Unknown command")},
        {"read in capitals, fresh domain",
         Value::dict({{"cmd", "READ"}, {"keys", Value::list({"showWelcome", 5})}}),
         Value::dict({{"result", true}, {"data", foundation::Dictionary{}}})},
        {"read with nothing to read", Value::dict({{"cmd", "read"}}), Value()},
        {"read without command", Value::dict({{"prefsKey", "a"}}),
         Value::dict({{"result", false}})},
        {"write without values or entry", Value::dict({{"cmd", "write"}}),
         failure("invalid request data")},
        {"write entry without value",
         Value::dict({{"cmd", "Write"}, {"prefsKey", Value::dict({{"key", "a"}})}}),
         failure("Invalid request prefs data")},
        {"write entry without key",
         Value::dict({{"cmd", "write"}, {"prefsKey", Value::dict({{"value", 1}})}}),
         failure("Invalid request prefs data")},
        {"write entry",
         Value::dict({{"cmd", "write"}, {"prefsKey", Value::dict({{"key", "a"}, {"value", 1}})}}),
         Value()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ask("userdefaults", c.request, !c.answer.isNil()), c.answer);
    }
}

TEST_F(WVUserDefaultsPluginTest, ReadSendsOnlyWhatJsonCanCarry) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    defaults.setObject("when", foundation::Date{1000.5});
    defaults.setObject("blob", foundation::Data{1, 2, 3});
    defaults.setObject("notANumber", nan);
    defaults.setObject("count", 7);
    defaults.setObject(
        "nested",
        Value::dict({{"a", 1},
                     {"b", foundation::Data{1}},
                     {"c", Value::list({foundation::Date{-2.5}, foundation::Data{}, "x", inf})},
                     {"d", true}}));
    Value answer =
        ask("userdefaults", Value::dict({{"cmd", "read"},
                                         {"keys", Value::list({"when", "blob", "notANumber",
                                                               "count", "nested", "absent"})}}));
    EXPECT_EQ(
        answer,
        Value::dict({{"result", true},
                     {"data", Value::dict({{"when", 1000.5},
                                           {"count", 7},
                                           {"nested", Value::dict({{"a", 1},
                                                                   {"c", Value::list({-2.5, "x"})},
                                                                   {"d", true}})}})}}));
}

TEST_F(WVUserDefaultsPluginTest, WriteValuesStoresWhatAPropertyListCanHold) {
    EXPECT_TRUE(
        ask("userdefaults",
            Value::dict(
                {{"cmd", "write"},
                 {"values",
                  Value::list({Value::dict({{"kept", "v1"}}), "loose", foundation::Dictionary{},
                               Value::dict({{"nulled", Value::null()}}),
                               Value::dict({{"deep", Value::list({1, Value::null()})}}),
                               Value::dict({{"number", 2.5}})})}}),
            false)
            .isNil());
    EXPECT_EQ(defaults.objectForKey("kept"), Value("v1"));
    EXPECT_EQ(defaults.objectForKey("number"), Value(2.5));
    EXPECT_TRUE(defaults.objectForKey("nulled").isNil());
    EXPECT_TRUE(defaults.objectForKey("deep").isNil());
    // Saved at once, and the file still saves.
    foundation::UserDefaults reread("com.orvandel.Test", folder.path());
    EXPECT_EQ(reread.objectForKey("kept"), Value("v1"));
}

TEST_F(WVUserDefaultsPluginTest, PrefsEntriesLiveInABinaryPropertyList) {
    EXPECT_EQ(readPref("theme"), Value::dict({{"result", false}}));
    EXPECT_TRUE(writePref("theme", "dark", false).isNil());
    EXPECT_TRUE(writePref("sizes", Value::list({1, 2}), false).isNil());
    auto bytes = defaults.dataForKey("prefs");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 6), "bplist");
    EXPECT_EQ(storedPrefs(), Value::dict({{"theme", "dark"}, {"sizes", Value::list({1, 2})}}));

    EXPECT_EQ(readPref("theme"), Value::dict({{"result", true}, {"data", "dark"}}));
    EXPECT_EQ(readPref("missing"), failure("invalid data format"));

    // A value with no property-list form is refused and leaves the store as it was.
    Value refused = writePref("broken", Value::dict({{"x", Value::null()}}), true);
    EXPECT_EQ(refused["result"], Value(false));
    EXPECT_FALSE(refused["error"].stringOr().empty());
    EXPECT_EQ(storedPrefs(), Value::dict({{"theme", "dark"}, {"sizes", Value::list({1, 2})}}));
}

TEST_F(WVUserDefaultsPluginTest, PrefsThatDoNotDecode) {
    defaults.setObject("prefs", foundation::Data{'n', 'o', 'p', 'e', 0xff});
    Value answer = readPref("a");
    EXPECT_EQ(answer["result"], Value(false));
    EXPECT_FALSE(answer["error"].stringOr().empty());
    EXPECT_NE(answer["error"], Value("invalid data format"));

    // Writing replaces the undecodable store.
    writePref("a", 1, false);
    EXPECT_EQ(storedPrefs(), Value::dict({{"a", 1}}));
}

TEST_F(WVUserDefaultsPluginTest, PrefsThatAreNotADictionaryAreNotOverwritten) {
    defaults.setObject("prefs", *foundation::plist::writeBinary(Value::list({"a"})));
    EXPECT_EQ(readPref("a"), failure("invalid data format"));
    EXPECT_EQ(writePref("a", 1, true), failure("failed to read prefs"));
    EXPECT_EQ(storedPrefs(), Value::list({"a"}));
}
