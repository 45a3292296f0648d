#include <gtest/gtest.h>

#include <stdexcept>

#include "shell/events/RingtoneEventHandler.h"
#include "support/ValuePrinter.h"

using foundation::Value;

namespace {

// A converter that records each call and answers as the test sets it up.
struct FakeConverter {
    std::string calls;
    bool succeed = true;
    std::optional<foundation::Error> error;

    AudioConverterService service() {
        return {
            [this](const std::string& source) {
                if (source == "throw") throw std::runtime_error("cannot read");
                return Value::dict({{"title", source}, {"duration", 1.5}});
            },
            [this](const std::string& source, const std::string& dest,
                   std::optional<foundation::Error>* out) {
                calls += "whole " + source + " " + dest;
                *out = error;
                return succeed;
            },
            [this](const std::string& source, const std::string& dest, double start, double end,
                   const std::string& title, std::optional<foundation::Error>* out) {
                calls += "cut " + source + " " + dest + " " + std::to_string(int(start)) + "-" +
                         std::to_string(int(end)) + " " + title;
                *out = error;
                return succeed;
            },
        };
    }
};

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

Value ask(FakeConverter& converter, const Value& request) {
    Value answer;
    RingtoneEventHandler(converter.service())
        .handleRequestEventPluginCallback(request, nullptr,
                                          [&](const Value& reply) { answer = reply; });
    return answer;
}

}  // namespace

TEST(RingtoneEventHandler, CommandsAndTheirAnswers) {
    const Value ok = Value::dict({{"result", true}});
    auto convert = [](Value data) { return Value::dict({{"cmd", "convert"}, {"data", data}}); };
    struct Case {
        Value request;
        Value answer;
        std::string calls;
    };
    const Case cases[] = {
        {Value::dict({{"cmd", "get-meta"}, {"data", Value::dict({{"info", "/a.mp3"}})}}),
         Value::dict(
             {{"result", true}, {"data", Value::dict({{"title", "/a.mp3"}, {"duration", 1.5}})}}),
         ""},
        {Value::dict({{"cmd", "get-meta"}, {"data", Value::dict({{"info", 12}})}}),
         failure("Unknown info format!"), ""},
        {Value::dict({{"cmd", "get-meta"}, {"data", Value(foundation::Dictionary{})}}),
         failure("Unknown info format!"), ""},
        {Value::dict({{"cmd", "get-meta"}, {"data", Value::dict({{"info", "throw"}})}}),
         failure("cannot read"), ""},
        {Value::dict({{"cmd", "get-meta"}}), failure("no request data provided"), ""},
        {Value::dict({{"cmd", "convert"}, {"data", "text"}}), failure("no request data provided"),
         ""},
        {Value::dict({{"cmd", "other"}}), failure("unhandled ringtone command: other"), ""},
        {Value::dict({{"data", Value(foundation::Dictionary{})}}),
         failure("unhandled ringtone command: (null)"), ""},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"title", "T"}})), ok, "whole s d"},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"title", "T"}, {"start", 0}})), ok,
         "cut s d 0-0 T"},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"end", 30}})), ok, "cut s d 0-30 "},
        {convert(Value::dict(
             {{"source", "s"}, {"dest", "d"}, {"start", 10.5}, {"end", 20}, {"title", "R"}})),
         ok, "cut s d 10-20 R"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.request));
        FakeConverter converter;
        EXPECT_EQ(ask(converter, c.request), c.answer);
        EXPECT_EQ(converter.calls, c.calls);
    }
}

// The page may send the times as text: "10" to "20" cuts seconds 10 to 20, a text that
// holds no number counts as 0 and still asks for a cut.
TEST(RingtoneEventHandler, TimesSentAsTextCutThatSpan) {
    auto convert = [](Value data) { return Value::dict({{"cmd", "convert"}, {"data", data}}); };
    const std::pair<Value, std::string> cases[] = {
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"start", "10"}, {"end", "20"}})),
         "cut s d 10-20 "},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"start", " 5.5"}})), "cut s d 5-0 "},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"end", "30 s"}})), "cut s d 0-30 "},
        {convert(Value::dict({{"source", "s"}, {"dest", "d"}, {"start", "soon"}})), "cut s d 0-0 "},
    };
    for (const auto& [request, calls] : cases) {
        SCOPED_TRACE(testing::PrintToString(request));
        FakeConverter converter;
        EXPECT_EQ(ask(converter, request), Value::dict({{"result", true}}));
        EXPECT_EQ(converter.calls, calls);
    }
}

TEST(RingtoneEventHandler, FailuresGiveTheErrorsTexts) {
    auto withSuggestion = [](const char* suggestion) {
        return foundation::Error{"D", 5, "The export failed.",
                                 Value::dict({{"NSLocalizedRecoverySuggestion", suggestion}})};
    };
    const std::pair<std::optional<foundation::Error>, std::string> cases[] = {
        {withSuggestion("Disk full"), "The export failed. (Disk full)"},
        {withSuggestion(""), "The export failed. ()"},
        {foundation::Error{"D", 5, "No suggestion.", {}}, "No suggestion. ((null))"},
        {std::nullopt, "error occurred during converting ringtones."},
    };
    for (const auto& [error, text] : cases) {
        FakeConverter converter;
        converter.succeed = false;
        converter.error = error;
        EXPECT_EQ(ask(converter,
                      Value::dict({{"cmd", "convert"}, {"data", Value::dict({{"start", 1}})}})),
                  failure(text));
    }
    // Without a reply block the command still runs.
    FakeConverter converter;
    RingtoneEventHandler(converter.service())
        .handleRequestEventPluginCallback(
            Value::dict({{"cmd", "convert"}, {"data", Value(foundation::Dictionary{})}}), nullptr,
            {});
    EXPECT_EQ(converter.calls, "whole  ");
}
