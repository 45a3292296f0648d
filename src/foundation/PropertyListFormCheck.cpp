#include "foundation/PropertyListFormCheck.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <vector>

#include "foundation/PropertyListDate.h"

namespace foundation::plist {

namespace {

// libplist 2.2 keeps dates as int32 seconds since 2001.
constexpr double kLibplistFirstDate =
    kSecondsFrom1970To2001 + static_cast<double>(std::numeric_limits<std::int32_t>::min());
constexpr double kLibplistPastLastDate =
    kSecondsFrom1970To2001 + static_cast<double>(std::numeric_limits<std::int32_t>::max()) + 1;

class Checker {
public:
    explicit Checker(Target target) : target_(target) {}

    // On failure, `path_` holds the segments from the failing value up to the top.
    std::optional<std::string> check(const Value& value, std::size_t depth) {
        switch (value.kind()) {
            case Value::Kind::Nil:
                return "nil has no property-list form";
            case Value::Kind::Null:
                return "null has no property-list form";
            case Value::Kind::UInt64:
                if (target_ == Target::LibplistNode &&
                    *value.uint64() >
                        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                    return "libplist would write this integer as a negative one";
                }
                return std::nullopt;
            case Value::Kind::String:
                return checkText(*value.string());
            case Value::Kind::Date:
                return checkDate(value.date()->secondsSince1970);
            case Value::Kind::Array: {
                if (depth >= kMaxNestingDepth) return tooDeep();
                const Array& items = *value.array();
                for (std::size_t i = 0; i < items.size(); ++i) {
                    if (auto why = check(items[i], depth + 1)) {
                        path_.push_back(fmt::format("[{}]", i));
                        return why;
                    }
                }
                return std::nullopt;
            }
            case Value::Kind::Dictionary: {
                if (depth >= kMaxNestingDepth) return tooDeep();
                for (const auto& [key, item] : *value.dictionary()) {
                    auto why = checkText(key);
                    if (!why) why = check(item, depth + 1);
                    if (why) {
                        path_.push_back("." + key);
                        return why;
                    }
                }
                return std::nullopt;
            }
            default:
                return std::nullopt;
        }
    }

    std::string place() const {
        if (path_.empty()) return "at the top";
        std::string out = "at ";
        for (auto it = path_.rbegin(); it != path_.rend(); ++it) out += *it;
        if (out[3] == '.') out.erase(3, 1);
        return out;
    }

private:
    static std::string tooDeep() {
        return fmt::format("more than {} nested containers", kMaxNestingDepth);
    }

    std::optional<std::string> checkText(const std::string& text) const {
        if (text.find('\0') == std::string::npos) return std::nullopt;
        if (target_ == Target::Xml) return "text holding NUL has no XML form";
        if (target_ == Target::LibplistNode) return "libplist would cut this text at its NUL";
        return std::nullopt;
    }

    std::optional<std::string> checkDate(double seconds) const {
        if (target_ == Target::Xml && !formatXmlDate(seconds)) {
            return "the date has no XML form (years 1 to 9999)";
        }
        if (target_ == Target::LibplistNode &&
            !(seconds >= kLibplistFirstDate && seconds < kLibplistPastLastDate)) {
            return "libplist keeps dates only from 1933 to 2069";
        }
        return std::nullopt;
    }

    Target target_;
    std::vector<std::string> path_;
};

}  // namespace

std::optional<std::string> findUnwritable(const Value& value, Target target) {
    Checker checker(target);
    if (auto why = checker.check(value, 0)) return fmt::format("{} {}", *why, checker.place());
    return std::nullopt;
}

}  // namespace foundation::plist
