#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation::plist {

// Reads the old text form: { key = value; }, ( a, b ), <0fbd 7777>, quoted and unquoted
// strings, // and /* */ comments. Every value is a string, data, array or dictionary. A
// bare "key = value;" sequence at the top reads as a dictionary (strings files). Error
// messages carry the line number.
class OpenStepPropertyListReader {
public:
    explicit OpenStepPropertyListReader(std::string_view text) : text_(text) {}

    std::optional<Value> read(std::string* error);

private:
    bool parseValue(std::size_t depth, Value& out);
    bool parseDictionary(std::size_t depth, Value& out);
    bool parseEntries(Dictionary& entries, char terminator, std::size_t depth,
                      std::optional<std::string> firstKey);
    bool parseArray(std::size_t depth, Value& out);
    bool parseData(Value& out);
    bool parseString(std::string& out);
    bool parseQuoted(std::string& out);
    bool parseEscape(std::string& out);
    bool parseUnquoted(std::string& out);
    bool skipSpace();
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }
    char take();
    bool fail(std::string message);
    bool failTooDeep();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
    std::string error_;
};

}  // namespace foundation::plist
