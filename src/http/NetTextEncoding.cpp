#include "http/NetTextEncoding.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "foundation/Utf8.h"

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first byte or character it cannot map.
Converter strictConverter(const std::string& encoding) {
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(encoding.c_str(), &status));
    if (U_FAILURE(status) || !converter) return nullptr;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
    if (U_FAILURE(status)) return nullptr;
    return converter;
}

bool isUtf8(const std::string& encoding) {
    std::string name = encoding;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == "utf-8" || name == "utf8";
}

// Runs the bytes from one converter into another, stopping at the first failure.
std::optional<std::string> convert(UConverter* to, UConverter* from, std::string_view input) {
    std::string output;
    output.resize(input.size() * 4 + 16);
    UErrorCode status = U_ZERO_ERROR;
    for (;;) {
        char* target = output.data();
        const char* source = input.data();
        status = U_ZERO_ERROR;
        ucnv_convertEx(to, from, &target, output.data() + output.size(), &source,
                       input.data() + input.size(), nullptr, nullptr, nullptr, nullptr, true, true,
                       &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            output.resize(output.size() * 2);
            ucnv_reset(to);
            ucnv_reset(from);
            continue;
        }
        if (U_FAILURE(status)) return std::nullopt;
        output.resize(static_cast<std::size_t>(target - output.data()));
        return output;
    }
}

}  // namespace

namespace NetTextEncoding {

std::optional<std::string> decode(const foundation::Data& bytes, const std::string& encoding) {
    std::string_view input(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (isUtf8(encoding)) {
        if (!foundation::utf8::isValid(input)) return std::nullopt;
        return std::string(input);
    }
    Converter from = strictConverter(encoding);
    Converter to = strictConverter("UTF-8");
    if (!from || !to) return std::nullopt;
    return convert(to.get(), from.get(), input);
}

std::optional<std::string> encode(std::string_view text, const std::string& encoding) {
    if (!foundation::utf8::isValid(text)) return std::nullopt;
    if (isUtf8(encoding)) return std::string(text);
    Converter from = strictConverter("UTF-8");
    Converter to = strictConverter(encoding);
    if (!from || !to) return std::nullopt;
    return convert(to.get(), from.get(), text);
}

std::string ianaCharsetName(const std::string& encoding) {
    UErrorCode status = U_ZERO_ERROR;
    const char* canonical = ucnv_getCanonicalName(encoding.c_str(), "IANA", &status);
    const char* name = nullptr;
    if (U_SUCCESS(status) && canonical != nullptr && *canonical != '\0') {
        status = U_ZERO_ERROR;
        name = ucnv_getStandardName(canonical, "MIME", &status);
        if (U_FAILURE(status) || name == nullptr) {
            status = U_ZERO_ERROR;
            name = ucnv_getStandardName(canonical, "IANA", &status);
        }
    }
    std::string result = (U_SUCCESS(status) && name != nullptr) ? name : encoding;
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

}  // namespace NetTextEncoding
