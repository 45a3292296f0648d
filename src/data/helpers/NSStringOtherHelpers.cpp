// The string helpers that nothing in the program relies on yet.
#include <fmt/format.h>
#include <unicode/udat.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "data/helpers/NSDataHashing.h"
#include "data/helpers/NSStringHelpers.h"
#include "foundation/Utf8.h"
#include "logging/LogCall.h"

namespace NSString {
namespace {

std::string lowerHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Byte offsets of the first `count` code points (or all of them).
std::size_t prefixOfCodePoints(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < text.size(); ++n) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        std::size_t width = lead < 0x80    ? 1
                            : lead >= 0xF0 ? 4
                            : lead >= 0xE0 ? 3
                            : lead >= 0xC0 ? 2
                                           : 1;
        at = std::min(text.size(), at + width);
    }
    return at;
}

std::size_t codePointCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<std::uint8_t>(c) & 0xC0) != 0x80;
    return count;
}

// The text padded with repetitions of the pad, or cut, to `length` code points.
std::string padOrCut(std::string_view text, std::size_t length, std::string_view pad) {
    std::size_t have = codePointCount(text);
    if (have >= length) return std::string(text.substr(0, prefixOfCodePoints(text, length)));
    std::string out(text);
    if (pad.empty()) return out;
    for (std::size_t at = 0; have < length; ++have) {
        const std::size_t next = at + prefixOfCodePoints(pad.substr(at), 1);
        out.append(pad.substr(at, next - at));
        at = next == pad.size() ? 0 : next;
    }
    return out;
}

const foundation::Value* valueAtKeyPath(const foundation::Value& value, std::string_view keyPath) {
    const foundation::Value* current = &value;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = std::min(keyPath.find('.', start), keyPath.size());
        current = &(*current)[keyPath.substr(start, dot - start)];
        if (current->isNil()) return nullptr;
        if (dot == keyPath.size()) return current;
        start = dot + 1;
    }
}

}  // namespace

std::string sha1(std::string_view text) {
    return lowerHex(NSData::SHA1Hash(bytesOf(text)));
}

std::string stringOfTime(std::int32_t milliseconds) {
    const std::int64_t seconds = milliseconds / 1000;
    if (std::llabs(milliseconds) < 3600000) {
        return fmt::format("{}:{:02}", seconds / 60, seconds % 60);
    }
    return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string stringWithSeconds(double seconds) {
    const double rounded = std::trunc(seconds + 0.5);
    // Out-of-range values saturate instead of overflowing the conversion.
    const auto whole =
        std::isnan(rounded)
            ? 0
            : static_cast<std::int32_t>(std::clamp(rounded, double{INT32_MIN}, double{INT32_MAX}));
    if (std::fabs(seconds) < 3600) return fmt::format("{:02}:{:02}", whole / 60, whole % 60);
    return fmt::format("{:02}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
}

std::optional<std::string> incramentFilePathIfExists(const std::optional<std::string>& path) {
    namespace fs = std::filesystem;
    if (!path) return std::nullopt;
    std::error_code ignored;
    if (!fs::exists(fs::symlink_status(*path, ignored))) return path;
    const fs::path original(*path);
    const std::string stem = original.stem().string();
    const std::string extension = original.extension().string();
    for (unsigned n = 1;; ++n) {
        const fs::path candidate =
            original.parent_path() / fmt::format("{} ({}){}", stem, n, extension);
        if (!fs::exists(fs::symlink_status(candidate, ignored))) {
            LogInfo("incramented filename: old [{}] \n new [{}]", *path, candidate.string());
            return candidate.string();
        }
    }
}

std::string stringOfDate(const std::optional<foundation::Date>& date) {
    if (!date) return "";
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format =
        udat_open(UDAT_SHORT, UDAT_MEDIUM, nullptr, nullptr, 0, nullptr, 0, &status);
    if (U_FAILURE(status)) return "";
    std::u16string text(64, u'\0');
    const UDate when = date->secondsSince1970 * 1000.0;
    std::int32_t length = udat_format(format, when, text.data(),
                                      static_cast<std::int32_t>(text.size()), nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        text.resize(static_cast<std::size_t>(length) + 1);
        length = udat_format(format, when, text.data(), static_cast<std::int32_t>(text.size()),
                             nullptr, &status);
    }
    udat_close(format);
    if (U_FAILURE(status)) return "";
    text.resize(static_cast<std::size_t>(length));
    return foundation::utf8::fromUtf16(text);
}

bool isEmpty(std::string_view text) {
    return IsEmpty(text);
}

bool inArrayKeyPath(std::string_view text, const foundation::Array& array,
                    std::string_view keyPath) {
    for (const auto& element : array) {
        const foundation::Value* value = valueAtKeyPath(element, keyPath);
        if (value && value->string() && *value->string() == text) return true;
    }
    return false;
}

std::string hexString(std::string_view text) {
    return lowerHex(bytesOf(text));
}

std::optional<std::string> decodeHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const int high = hexValue(text[at]);
        const int low = hexValue(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high << 4 | low);
    }
    if (!foundation::utf8::isValid(out)) return std::nullopt;
    return out;
}

std::string relativePathTo(std::string_view text, std::string_view path) {
    // The folder holding `path`, as a path without its last component reads.
    std::string_view folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    const std::size_t slash = folder.rfind('/');
    folder = slash == std::string_view::npos ? std::string_view{}
             : slash == 0                    ? folder.substr(0, 1)
                                             : folder.substr(0, slash);
    if (folder == "/") return text.empty() ? std::string() : std::string(text.substr(1));
    std::string out(text);
    if (folder.empty()) return out;
    for (std::size_t at = out.find(folder); at != std::string::npos; at = out.find(folder, at)) {
        out.erase(at, folder.size());
    }
    return out;
}

std::string safeFilename(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (std::string_view("/\\?%*|\"<>:").find(c) == std::string_view::npos) out += c;
    }
    return out;
}

std::vector<std::string> stringArrayByLength(std::string_view text, std::size_t) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos;
         at = text.find("\r\n", start)) {
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 2;
    }
    pieces.emplace_back(text.substr(start));
    return pieces;
}

std::string stringByPaddingToLengthWithString(std::string_view text, std::size_t length,
                                              std::string_view pad) {
    if (text.size() <= length) return padOrCut(text, length, pad);
    return padOrCut(stringArrayByLength(text, length).front(), length, pad);
}

}  // namespace NSString
