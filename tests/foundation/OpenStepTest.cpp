#include <gtest/gtest.h>

#include "PropertyListSamples.h"

namespace foundation {
namespace {

using testing::failure;

Value readOk(std::string_view text) {
    return testing::readOk(text, plist::Format::OpenStep);
}

TEST(OpenStepTest, ReadsADeviceStyleFile) {
    const char* text = R"(// settings written by the device
{
    Version = 5;               /* numbers stay strings */
    "Display Name" = "Ann's \"pod\"";
    Path = /var/mobile/Media/iTunes_Control;
    Flags = ( on, off, "", );
    Empty = {};
    EmptyList = ();
    Key = <0fbd 7777 0A>;
    Nested = { Inner = ( { a = b; } ); Last = x };
    "with-symbols" = a_b$c+d:e.f-g;
}
)";
    EXPECT_EQ(readOk(text),
              Value::dict({
                  {"Version", "5"},
                  {"Display Name", "Ann's \"pod\""},
                  {"Path", "/var/mobile/Media/iTunes_Control"},
                  {"Flags", Value::list({"on", "off", ""})},
                  {"Empty", Value(Dictionary{})},
                  {"EmptyList", Value(Array{})},
                  {"Key", Data{0x0F, 0xBD, 0x77, 0x77, 0x0A}},
                  {"Nested", Value::dict({{"Inner", Value::list({Value::dict({{"a", "b"}})})},
                                          {"Last", "x"}})},
                  {"with-symbols", "a_b$c+d:e.f-g"},
              }));
}

TEST(OpenStepTest, ReadsStringsFilesScalarsAndEscapes) {
    const std::pair<const char*, Value> cases[] = {
        {"/* Menu */\n\"OK\" = \"D'accord\";\nCancel = Annuler;\n",
         Value::dict({{"OK", "D'accord"}, {"Cancel", "Annuler"}})},
        {"a = b", Value::dict({{"a", "b"}})},
        {"a = b; a = c;", Value::dict({{"a", "c"}})},
        {"word", Value("word")},
        {"'single quoted'", Value("single quoted")},
        {"(1, (2, 3))", Value::list({"1", Value::list({"2", "3"})})},
        {"<>", Value(Data{})},
        {R"("tab\tnl\nquote\"back\\cr\rbell\a")", Value("tab\tnl\nquote\"back\\cr\rbell\a")},
        {R"("\U00e9\u20AC\UD83D\UDE00")", Value("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")},
        {R"("\UD83Dx")", Value("\xEF\xBF\xBDx")},
        {R"("\012\101\0")", Value(std::string("\nA\0", 3))},
        {R"("\q")", Value("q")},
        {"\"multi\nline\"", Value("multi\nline")},
        {"\"raw \xC3\xA9 and bad \xFF\"", Value("raw \xC3\xA9 and bad \xEF\xBF\xBD")},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(readOk(text), expected) << text;
}

TEST(OpenStepTest, ErrorsNameTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\n a = b;\n c = d\n e = f;\n}", "line 4"},  // missing ';'
        {"{\n a = b;\n", "line 3"},                    // missing '}'
        {"{\n a = \"open\n\n}", "line 2"},             // unterminated string
        {"\n\n/* never closed", "line 3"},             // unterminated comment
        {"{ a = b; }\n extra", "line 2"},              // text after the value
    };
    for (const auto& [text, line] : cases) {
        const std::string error = failure(text);
        EXPECT_NE(error.find(line), std::string::npos) << text << " → " << error;
    }
    // Missing ',' or '=', odd and non-hex digits, a missing value or key, a key that is no
    // string, a strings file without ';', a bad escape.
    for (const char* text :
         {"(a, b c)", "{ a b; }", "a = b c = d", "{ a = <0fb>; }", "{ a = <0fxz>; }",
          "{ a = b; = }", "{ a = ; }", "{ (a) = b; }", "#", "(a,,b)", R"("\Uzz")"}) {
        failure(text);
    }
}

TEST(OpenStepTest, NestingIsBounded) {
    const std::string deepest =
        std::string(kMaxNestingDepth, '(') + std::string(kMaxNestingDepth, ')');
    EXPECT_TRUE(readOk(deepest).isArray());
    const std::string error = failure("(" + deepest + ")");
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
    failure(std::string(100000, '{'));
}

}  // namespace
}  // namespace foundation
