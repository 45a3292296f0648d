#include "foundation/Value.h"

#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace foundation {

namespace {

// Copies compare equal to their original even when they hold NaN.
bool sameDouble(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Never destroyed: jobs of the background pool may still look values up while the
// process's static objects are being destroyed at exit.
const Value& nilValue() {
    static const Value* const nil = new Value();
    return *nil;
}

// 2^63 and 2^64 as doubles: the first values past the integer ranges.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

}  // namespace

Value::Value(Array a) {
    std::erase_if(a, [](const Value& item) { return item.isNil(); });
    storage_.emplace<Box<Array>>(Box<Array>{std::make_unique<Array>(std::move(a))});
}

Value::Value(Dictionary d) {
    std::erase_if(d, [](const auto& entry) { return entry.second.isNil(); });
    storage_.emplace<Box<Dictionary>>(Box<Dictionary>{std::make_unique<Dictionary>(std::move(d))});
}

namespace {

// The container a copy fills, and the original it copies.
struct CopyTask {
    const Value* from;
    Value* to;
};

}  // namespace

Value::Value(const Value& other) {
    // Scalars and one level of each container are copied here; nested containers get an
    // empty placeholder of their kind and a task, so the depth never reaches the stack.
    std::vector<CopyTask> tasks;
    auto copyShallow = [&tasks](const Value& from, Value& to) {
        std::visit(
            [&](const auto& held) {
                using T = std::decay_t<decltype(held)>;
                if constexpr (std::is_same_v<T, Box<Array>> || std::is_same_v<T, Box<Dictionary>>) {
                    using Inner = typename decltype(held.ptr)::element_type;
                    // A moved-from container has no box; its copy is an empty container.
                    to.storage_.emplace<T>(T{std::make_unique<Inner>()});
                    if (held.ptr && !held.ptr->empty()) tasks.push_back({&from, &to});
                } else {
                    to.storage_.emplace<T>(held);
                }
            },
            from.storage_);
    };
    copyShallow(other, *this);
    while (!tasks.empty()) {
        const CopyTask task = tasks.back();
        tasks.pop_back();
        // Elements are placed before any task for them runs: the containers do not move
        // them afterwards, so the tasks' pointers stay valid.
        if (const Array* items = task.from->array()) {
            Array& target = *task.to->array();
            target.resize(items->size());
            for (std::size_t i = 0; i < items->size(); ++i) copyShallow((*items)[i], target[i]);
        } else {
            Dictionary& target = *task.to->dictionary();
            for (const auto& [key, item] : *task.from->dictionary()) {
                copyShallow(item, target.try_emplace(target.end(), key)->second);
            }
        }
    }
}

Value::Value(Value&&) noexcept = default;
Value& Value::operator=(Value&&) noexcept = default;

Value& Value::operator=(const Value& other) {
    // Copy first: `other` may live inside this value.
    Value copy(other);
    storage_ = std::move(copy.storage_);
    return *this;
}

bool Value::isNonEmptyContainer() const {
    if (const auto* box = std::get_if<Box<Array>>(&storage_)) return box->ptr && !box->ptr->empty();
    if (const auto* box = std::get_if<Box<Dictionary>>(&storage_)) {
        return box->ptr && !box->ptr->empty();
    }
    return false;
}

void Value::detachNestedContainers(std::vector<Value>& pending) {
    if (auto* box = std::get_if<Box<Array>>(&storage_); box && box->ptr) {
        for (Value& item : *box->ptr) {
            if (item.isNonEmptyContainer()) pending.push_back(std::move(item));
        }
    } else if (auto* box = std::get_if<Box<Dictionary>>(&storage_); box && box->ptr) {
        for (auto& entry : *box->ptr) {
            if (entry.second.isNonEmptyContainer()) pending.push_back(std::move(entry.second));
        }
    }
}

Value::~Value() {
    if (!isNonEmptyContainer()) return;
    // Nested containers are taken out and destroyed one level at a time, so that the
    // depth never reaches the stack: each value destroyed below holds no nested container.
    std::vector<Value> pending;
    detachNestedContainers(pending);
    while (!pending.empty()) {
        Value next = std::move(pending.back());
        pending.pop_back();
        next.detachNestedContainers(pending);
    }
}

bool Value::isNumber() const {
    const Kind k = kind();
    return k == Kind::Int64 || k == Kind::UInt64 || k == Kind::Double;
}

const Array* Value::array() const {
    const auto* box = std::get_if<Box<Array>>(&storage_);
    if (!box) return nullptr;
    if (!box->ptr) {
        static const Array* const empty = new Array();  // never destroyed, as nilValue()
        return empty;
    }
    return box->ptr.get();
}

Array* Value::array() {
    auto* box = std::get_if<Box<Array>>(&storage_);
    if (!box) return nullptr;
    if (!box->ptr) box->ptr = std::make_unique<Array>();
    return box->ptr.get();
}

const Dictionary* Value::dictionary() const {
    const auto* box = std::get_if<Box<Dictionary>>(&storage_);
    if (!box) return nullptr;
    if (!box->ptr) {
        static const Dictionary* const empty = new Dictionary();
        return empty;
    }
    return box->ptr.get();
}

Dictionary* Value::dictionary() {
    auto* box = std::get_if<Box<Dictionary>>(&storage_);
    if (!box) return nullptr;
    if (!box->ptr) box->ptr = std::make_unique<Dictionary>();
    return box->ptr.get();
}

std::optional<std::int64_t> Value::toInt64() const {
    switch (kind()) {
        case Kind::Boolean:
            return *boolean() ? 1 : 0;
        case Kind::Int64:
            return *int64();
        case Kind::UInt64: {
            constexpr auto max = std::numeric_limits<std::int64_t>::max();
            return *uint64() > static_cast<std::uint64_t>(max)
                       ? max
                       : static_cast<std::int64_t>(*uint64());
        }
        case Kind::Double: {
            const double d = *real();
            if (std::isnan(d)) return 0;
            if (d >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
            if (d < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
            return static_cast<std::int64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::uint64_t> Value::toUInt64() const {
    switch (kind()) {
        case Kind::Boolean:
            return *boolean() ? 1 : 0;
        case Kind::Int64:
            return *int64() < 0 ? 0 : static_cast<std::uint64_t>(*int64());
        case Kind::UInt64:
            return *uint64();
        case Kind::Double: {
            const double d = *real();
            if (std::isnan(d) || d <= 0) return 0;
            if (d >= kTwoTo64) return std::numeric_limits<std::uint64_t>::max();
            return static_cast<std::uint64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::toDouble() const {
    switch (kind()) {
        case Kind::Boolean:
            return *boolean() ? 1.0 : 0.0;
        case Kind::Int64:
            return static_cast<double>(*int64());
        case Kind::UInt64:
            return static_cast<double>(*uint64());
        case Kind::Double:
            return *real();
        default:
            return std::nullopt;
    }
}

std::optional<bool> Value::toBool() const {
    switch (kind()) {
        case Kind::Boolean:
            return *boolean();
        case Kind::Int64:
            return *int64() != 0;
        case Kind::UInt64:
            return *uint64() != 0;
        case Kind::Double:
            return *real() != 0;
        default:
            return std::nullopt;
    }
}

std::string Value::stringOr(std::string_view fallback) const {
    if (const auto* s = string()) return *s;
    return std::string(fallback);
}

const Value& Value::operator[](std::string_view key) const {
    const auto* dict = dictionary();
    if (!dict) return nilValue();
    const auto it = dict->find(key);
    return it == dict->end() ? nilValue() : it->second;
}

const Value& Value::operator[](std::size_t index) const {
    const auto* items = array();
    if (!items || index >= items->size()) return nilValue();
    return (*items)[index];
}

void Value::set(std::string_view key, Value value) {
    if (isNil()) *this = Value(Dictionary{});
    auto* dict = dictionary();
    if (!dict) return;
    if (value.isNil()) {
        const auto it = dict->find(key);
        if (it != dict->end()) dict->erase(it);
        return;
    }
    dict->insert_or_assign(std::string(key), std::move(value));
}

void Value::append(Value value) {
    if (isNil()) *this = Value(Array{});
    auto* items = array();
    if (!items || value.isNil()) return;
    items->push_back(std::move(value));
}

std::size_t Value::size() const {
    switch (kind()) {
        case Kind::String:
            return string()->size();
        case Kind::Data:
            return data()->size();
        case Kind::Array:
            return array()->size();
        case Kind::Dictionary:
            return dictionary()->size();
        default:
            return 0;
    }
}

bool Value::sameScalar(const Value& other) const {
    switch (kind()) {
        case Kind::Nil:
        case Kind::Null:
            return true;
        case Kind::Boolean:
            return *boolean() == *other.boolean();
        case Kind::Int64:
            return *int64() == *other.int64();
        case Kind::UInt64:
            return *uint64() == *other.uint64();
        case Kind::Double:
            return sameDouble(*real(), *other.real());
        case Kind::String:
            return *string() == *other.string();
        case Kind::Data:
            return *data() == *other.data();
        case Kind::Date:
            return sameDouble(date()->secondsSince1970, other.date()->secondsSince1970);
        case Kind::Array:
        case Kind::Dictionary:
            break;
    }
    return false;
}

bool Value::operator==(const Value& other) const {
    if (kind() != other.kind()) return false;
    if (!isArray() && !isDictionary()) return sameScalar(other);
    // Containers are compared with a work list rather than recursion, as copies are made.
    std::vector<std::pair<const Value*, const Value*>> pending{{this, &other}};
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        if (a->kind() != b->kind()) return false;
        if (const Array* x = a->array()) {
            const Array& y = *b->array();
            if (x->size() != y.size()) return false;
            for (std::size_t i = 0; i < y.size(); ++i) pending.emplace_back(&(*x)[i], &y[i]);
        } else if (const Dictionary* x = a->dictionary()) {
            const Dictionary& y = *b->dictionary();
            if (x->size() != y.size()) return false;
            for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j) {
                if (i->first != j->first) return false;
                pending.emplace_back(&i->second, &j->second);
            }
        } else if (!a->sameScalar(*b)) {
            return false;
        }
    }
    return true;
}

Value Value::dict(std::initializer_list<std::pair<const std::string, Value>> entries) {
    Dictionary d;
    for (const auto& [key, value] : entries) {
        if (!value.isNil()) d.insert_or_assign(key, value);
    }
    return Value(std::move(d));
}

Value Value::list(std::initializer_list<Value> items) {
    return Value(Array(items));
}

const char* kindName(Value::Kind kind) {
    switch (kind) {
        case Value::Kind::Nil:
            return "nil";
        case Value::Kind::Null:
            return "null";
        case Value::Kind::Boolean:
            return "boolean";
        case Value::Kind::Int64:
            return "int64";
        case Value::Kind::UInt64:
            return "uint64";
        case Value::Kind::Double:
            return "double";
        case Value::Kind::String:
            return "string";
        case Value::Kind::Data:
            return "data";
        case Value::Kind::Date:
            return "date";
        case Value::Kind::Array:
            return "array";
        case Value::Kind::Dictionary:
            return "dictionary";
    }
    return "unknown";
}

}  // namespace foundation
