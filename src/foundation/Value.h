#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace foundation {

class Value;

// Character types, whose signedness varies between machines (char) or which read as code
// units rather than numbers (char8_t, char16_t, char32_t, wchar_t).
template <typename T>
concept CharacterType = std::same_as<T, char> || std::same_as<T, wchar_t> ||
    std::same_as<T, char8_t> || std::same_as<T, char16_t> || std::same_as<T, char32_t>;

// Absent (nil) and JSON/plist null are different things: a dictionary lookup of a
// missing key gives nil, while {"a": null} holds a null.
struct Nil {
    bool operator==(const Nil&) const = default;
};
struct Null {
    bool operator==(const Null&) const = default;
};

// Seconds since 1970-01-01T00:00:00Z. Property lists count from 2001; the codecs shift.
struct Date {
    double secondsSince1970 = 0;
    bool operator==(const Date&) const = default;
};

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

// A plain value as it travels between subsystems, to the page (JSON) and to devices
// (property lists). Numbers keep whether they are boolean, signed, unsigned or floating.
class Value {
public:
    enum class Kind {
        Nil,
        Null,
        Boolean,
        Int64,
        UInt64,
        Double,
        String,
        Data,
        Date,
        Array,
        Dictionary
    };

    Value() = default;
    static Value null() { return Value(Null{}); }

    Value(Nil) {}
    Value(Null) : storage_(Null{}) {}
    Value(bool b) : storage_(b) {}
    template <std::signed_integral T>
    requires(!std::same_as<T, bool> && !CharacterType<T>) Value(T v)
        : storage_(static_cast<std::int64_t>(v)) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool> && !CharacterType<T>) Value(T v)
        : storage_(static_cast<std::uint64_t>(v)) {}
    // A character is neither a number nor a string: say which one is meant.
    template <CharacterType T>
    Value(T) = delete;
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(Data d) : storage_(std::move(d)) {}
    Value(Date d) : storage_(d) {}
    Value(Array a);
    Value(Dictionary d);

    // Copying and destruction keep their own work lists instead of recursing, so that
    // any depth built in code is safe.
    Value(const Value& other);
    // Moves are defined out of line: inlined, g++ 12 reports the inactive members of a
    // moved nil Value as "maybe uninitialized", which -Werror turns into build failures.
    Value(Value&&) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&&) noexcept;
    ~Value();

    Kind kind() const { return static_cast<Kind>(storage_.index()); }
    bool isNil() const { return kind() == Kind::Nil; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isBool() const { return kind() == Kind::Boolean; }
    bool isNumber() const;  // Int64, UInt64 or Double (not Boolean)
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }

    // Exact accessors: nullptr when the value is of another kind.
    const bool* boolean() const { return std::get_if<bool>(&storage_); }
    const std::int64_t* int64() const { return std::get_if<std::int64_t>(&storage_); }
    const std::uint64_t* uint64() const { return std::get_if<std::uint64_t>(&storage_); }
    const double* real() const { return std::get_if<double>(&storage_); }
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const Data* data() const { return std::get_if<Data>(&storage_); }
    const Date* date() const { return std::get_if<Date>(&storage_); }
    const Array* array() const;
    Array* array();
    const Dictionary* dictionary() const;
    Dictionary* dictionary();

    // Numeric readings in the manner of a number object: booleans count as 0/1, doubles
    // are truncated, out-of-range values saturate; nullopt for non-numbers.
    std::optional<std::int64_t> toInt64() const;
    std::optional<std::uint64_t> toUInt64() const;
    std::optional<double> toDouble() const;
    std::optional<bool> toBool() const;
    // The string, or the fallback for any other kind.
    std::string stringOr(std::string_view fallback = {}) const;

    // Dictionary lookup: nil for a missing key or when this is not a dictionary.
    const Value& operator[](std::string_view key) const;
    // Array element: nil when out of range or when this is not an array.
    const Value& operator[](std::size_t index) const;
    // Sets a key (turning a nil value into an empty dictionary first); a nil value
    // removes the key, since containers never hold nil. Other kinds are left unchanged.
    void set(std::string_view key, Value value);
    // Appends (turning a nil value into an empty array first); nil is not appended.
    // Other kinds are left unchanged.
    void append(Value value);
    // Element count of an array, dictionary, string or data; 0 otherwise.
    std::size_t size() const;

    // Strict equality: same kind and same contents (Int64 5 differs from UInt64 5). NaN
    // equals NaN here, so that a copy always equals its original.
    bool operator==(const Value& other) const;

    // Shorthand for building literal dictionaries: Value::dict({{"a", 1}, {"b", "x"}}).
    static Value dict(std::initializer_list<std::pair<const std::string, Value>> entries);
    static Value list(std::initializer_list<Value> items);

private:
    // Containers are boxed so that Value can hold Array and Dictionary of itself.
    template <typename T>
    struct Box {
        std::unique_ptr<T> ptr;
    };
    using Storage = std::variant<Nil, Null, bool, std::int64_t, std::uint64_t, double, std::string,
                                 Data, Date, Box<Array>, Box<Dictionary>>;
    // Moves the nested non-empty containers out into `pending`, leaving this one shallow.
    void detachNestedContainers(std::vector<Value>& pending);
    bool isNonEmptyContainer() const;
    // Equality of two values of the same kind that is not a container.
    bool sameScalar(const Value& other) const;

    Storage storage_;
};

const char* kindName(Value::Kind kind);

// Deepest nesting of arrays and dictionaries that the JSON and property-list readers and
// writers accept: deeper input is refused rather than risking the stack.
inline constexpr std::size_t kMaxNestingDepth = 512;

}  // namespace foundation
