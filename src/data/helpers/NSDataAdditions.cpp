#include "data/helpers/NSDataAdditions.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "foundation/Utf8.h"

namespace NSData {

Range rangeOfDataBackwardsSearch(std::span<const std::uint8_t> data,
                                 std::span<const std::uint8_t> pattern) {
    Range range{kNotFound, pattern.size()};
    if (pattern.empty() || data.size() < pattern.size()) return range;
    const auto found = std::find_end(data.begin(), data.end(), pattern.begin(), pattern.end());
    if (found != data.end()) range.location = static_cast<std::uint64_t>(found - data.begin());
    return range;
}

Range rangeOfData(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern) {
    Range range{kNotFound, pattern.size()};
    if (pattern.empty() || data.size() < pattern.size()) return range;
    const auto found = std::search(data.begin(), data.end(), pattern.begin(), pattern.end());
    if (found != data.end()) range.location = static_cast<std::uint64_t>(found - data.begin());
    return range;
}

namespace {

const char* converterName(StringEncoding encoding) {
    switch (encoding) {
        case StringEncoding::ASCII:
            return "US-ASCII";
        case StringEncoding::ISOLatin1:
            return "ISO-8859-1";
        case StringEncoding::WindowsCP1252:
            return "windows-1252";
        case StringEncoding::MacOSRoman:
            return "macintosh";
        case StringEncoding::UTF16:
            return "UTF-16";
        case StringEncoding::UTF16BigEndian:
            return "UTF-16BE";
        case StringEncoding::UTF16LittleEndian:
            return "UTF-16LE";
        case StringEncoding::UTF8:
            break;
    }
    return "UTF-8";
}

}  // namespace

std::optional<std::string> stringValueWithEncoding(std::span<const std::uint8_t> data,
                                                   StringEncoding encoding) {
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    if (encoding == StringEncoding::UTF8) {
        if (!foundation::utf8::isValid(bytes)) return std::nullopt;
        return std::string(bytes);
    }
    if (bytes.size() > INT32_MAX / 2) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    struct Close {
        void operator()(UConverter* c) const { ucnv_close(c); }
    };
    std::unique_ptr<UConverter, Close> converter(ucnv_open(converterName(encoding), &status));
    if (U_FAILURE(status)) return std::nullopt;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    // The plain "UTF-16" converter defaults to the machine's byte order without a mark;
    // the big-endian default is the documented one.
    if (encoding == StringEncoding::UTF16 &&
        !(bytes.size() >= 2 && static_cast<std::uint8_t>(bytes[0]) == 0xFF &&
          static_cast<std::uint8_t>(bytes[1]) == 0xFE) &&
        !(bytes.size() >= 2 && static_cast<std::uint8_t>(bytes[0]) == 0xFE &&
          static_cast<std::uint8_t>(bytes[1]) == 0xFF)) {
        return stringValueWithEncoding(data, StringEncoding::UTF16BigEndian);
    }
    std::u16string text(bytes.size() + 1, u'\0');
    const std::int32_t length =
        ucnv_toUChars(converter.get(), text.data(), static_cast<std::int32_t>(text.size()),
                      bytes.data(), static_cast<std::int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    text.resize(static_cast<std::size_t>(length));
    // The UTF-16 converters let an unpaired surrogate through; it is not valid text.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
    }
    return foundation::utf8::fromUtf16(text);
}

}  // namespace NSData

namespace NSMutableData {

void prepend(foundation::Data& target, std::span<const std::uint8_t> bytes) {
    target.insert(target.begin(), bytes.begin(), bytes.end());
}

}  // namespace NSMutableData
