#include "data/db/SqlLowerCase.h"

#include <unicode/ucasemap.h>

#include <memory>

namespace sqltext {

std::string lowerCased(std::string_view text) {
    bool ascii = true;
    std::string out(text);
    for (char& c : out) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            ascii = false;
            break;
        }
        if (byte >= 'A' && byte <= 'Z') c = static_cast<char>(byte + ('a' - 'A'));
    }
    if (ascii) return out;

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", 0, &status),
                                                             &ucasemap_close);
    if (U_FAILURE(status)) return std::string(text);
    out.assign(text.size() * 3 + 4, '\0');
    int32_t length = ucasemap_utf8ToLower(map.get(), out.data(), static_cast<int32_t>(out.size()),
                                          text.data(), static_cast<int32_t>(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        out.assign(static_cast<std::size_t>(length), '\0');
        length = ucasemap_utf8ToLower(map.get(), out.data(), length, text.data(),
                                      static_cast<int32_t>(text.size()), &status);
    }
    if (U_FAILURE(status)) return std::string(text);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace sqltext
