#include "device/AFCFileInfo.h"

#include <algorithm>
#include <charconv>

using foundation::Value;

namespace AFCFileInfo {

namespace {

Value converted(const std::string& text) {
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return Value(text);
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) {
        return text.empty() ? Value(std::int64_t{0}) : Value(text);
    }
    return Value(number);
}

// Nanoseconds to the date of the whole second at or below them.
void turnIntoDate(Value& info, const char* key) {
    const auto nanoseconds = info[key].int64();
    if (!nanoseconds) return;
    info.set(key, foundation::Date{static_cast<double>(*nanoseconds / 1000000000)});
}

}  // namespace

Value dictionaryFromPairs(const mobiledevice::AFCKeyValues& pairs) {
    Value info = Value(foundation::Dictionary());
    for (const auto& [key, value] : pairs) info.set(key, converted(value));
    return info;
}

Value fileInfoFromPairs(const mobiledevice::AFCKeyValues& pairs, const std::string& path) {
    Value info = dictionaryFromPairs(pairs);
    info.set("path", path);
    turnIntoDate(info, "st_birthtime");
    turnIntoDate(info, "st_mtime");
    return info;
}

}  // namespace AFCFileInfo

namespace NSDictionary {

bool isDirectory(const Value& info) { return info["st_ifmt"].stringOr() == "S_IFDIR"; }
bool isRegularFile(const Value& info) { return info["st_ifmt"].stringOr() == "S_IFREG"; }
bool isSymLink(const Value& info) { return info["st_ifmt"].stringOr() == "S_IFLNK"; }
Value modification(const Value& info) { return info["st_mtime"]; }
Value creation(const Value& info) { return info["st_birthtime"]; }
Value fileSize(const Value& info) { return isDirectory(info) ? Value() : info["st_size"]; }
Value symLinkTarget(const Value& info) { return isSymLink(info) ? info["LinkTarget"] : Value(); }

}  // namespace NSDictionary
