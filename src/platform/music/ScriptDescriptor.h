#pragma once

#include <cstdint>
#include <string>

namespace music {

// The result of one script handler call: text, a boolean, an integer or a file reference.
struct ScriptDescriptor {
    enum class Type { Text, Boolean, Integer, FileURL };

    Type type = Type::Text;
    std::string text;  // the text, or the file URL
    std::int64_t integer = 0;

    static ScriptDescriptor ofText(std::string value) { return {Type::Text, std::move(value), 0}; }
    static ScriptDescriptor ofBoolean(bool value) { return {Type::Boolean, {}, value ? 1 : 0}; }
    static ScriptDescriptor ofInteger(std::int64_t value) { return {Type::Integer, {}, value}; }
    static ScriptDescriptor ofFileURL(std::string url) {
        return {Type::FileURL, std::move(url), 0};
    }

    // The descriptor coerced to text: numbers as decimals, booleans as "true" or "false".
    std::string stringValue() const {
        switch (type) {
            case Type::Boolean:
                return integer ? "true" : "false";
            case Type::Integer:
                return std::to_string(integer);
            default:
                return text;
        }
    }
    bool booleanValue() const {
        return type == Type::Text ? text == "true" : type != Type::FileURL && integer != 0;
    }
};

}  // namespace music
