#include <gtest/gtest.h>

#include "foundation/PropertyList.h"

namespace foundation {
namespace {

Value readOk(std::string_view text) {
    std::string error;
    plist::Format format{};
    auto value = plist::read(text, &error, &format);
    EXPECT_TRUE(value) << error << "\n" << text;
    EXPECT_EQ(format, plist::Format::OpenStep);
    return value.value_or(Value());
}

std::string failure(std::string_view text) {
    std::string error;
    EXPECT_FALSE(plist::read(text, &error)) << text;
    EXPECT_FALSE(error.empty());
    return error;
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

TEST(OpenStepTest, ReadsStringsFiles) {
    EXPECT_EQ(readOk("/* Menu */\n\"OK\" = \"D'accord\";\nCancel = Annuler;\n"),
              Value::dict({{"OK", "D'accord"}, {"Cancel", "Annuler"}}));
    EXPECT_EQ(readOk("a = b"), Value::dict({{"a", "b"}}));
    EXPECT_EQ(readOk("a = b; a = c;"), Value::dict({{"a", "c"}}));
}

TEST(OpenStepTest, TopLevelScalarsAndArrays) {
    EXPECT_EQ(readOk("word"), Value("word"));
    EXPECT_EQ(readOk("'single quoted'"), Value("single quoted"));
    EXPECT_EQ(readOk("(1, (2, 3))"), Value::list({"1", Value::list({"2", "3"})}));
    EXPECT_EQ(readOk("<>"), Value(Data{}));
}

TEST(OpenStepTest, DecodesEscapes) {
    EXPECT_EQ(readOk(R"("tab\tnl\nquote\"back\\cr\rbell\a")"),
              Value("tab\tnl\nquote\"back\\cr\rbell\a"));
    EXPECT_EQ(readOk(R"("\U00e9\u20AC\UD83D\UDE00")"),
              Value("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
    EXPECT_EQ(readOk(R"("\UD83Dx")"), Value("\xEF\xBF\xBDx"));
    EXPECT_EQ(readOk(R"("\012\101\0")"), Value(std::string("\nA\0", 3)));
    EXPECT_EQ(readOk(R"("\q")"), Value("q"));
    EXPECT_EQ(readOk("\"multi\nline\""), Value("multi\nline"));
    EXPECT_EQ(readOk("\"raw \xC3\xA9 and bad \xFF\""), Value("raw \xC3\xA9 and bad \xEF\xBF\xBD"));
    failure(R"("\Uzz")");
}

TEST(OpenStepTest, ErrorsNameTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"{\n a = b;\n c = d\n e = f;\n}", "line 4"},  // missing ';'
        {"{\n a = b;\n", "line 3"},                    // missing '}'
        {"(\n a,\n b\n c\n)", "line 4"},               // missing ','
        {"{\n a b;\n}", "line 2"},                     // missing '='
        {"{\n a = \"open\n\n}", "line 2"},             // unterminated string
        {"\n\n/* never closed", "line 3"},             // unterminated comment
        {"{ a = <0fb>; }", "line 1"},                  // odd hex digits
        {"{ a = <0fxz>; }", "line 1"},                 // not hex
        {"{ a = b; }\n extra", "line 2"},              // text after the value
        {"{ a = b; = }", "line 1"},
        {"{ a = ; }", "line 1"},
        {"{ (a) = b; }", "line 1"},  // key must be a string
        {"a = b\nc = d", "line 2"},  // strings file without ';'
        {"#", "line 1"},
        {"(a,,b)", "line 1"},
    };
    for (const auto& [text, line] : cases) {
        const std::string error = failure(text);
        EXPECT_NE(error.find(line), std::string::npos) << text << " → " << error;
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
