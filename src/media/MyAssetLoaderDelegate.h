#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"

namespace media {

// Reads the whole content of an audio source given as a URL into memory: a "myapp" URL
// through the same responders that serve the page, an "http" or "https" URL through the
// HTTP client the process entry hands in. Other schemes are refused.
class MyAssetLoaderDelegate {
public:
    // The most a source may hold; a larger one is refused, and not read past this.
    static constexpr std::size_t kMaxContentLength = std::size_t(256) << 20;

    // Reads the whole body of an http or https URL, refusing (nullopt with the reason) one
    // larger than `limit` bytes without reading it whole.
    using HTTPReader = std::function<std::optional<std::vector<std::uint8_t>>(
        const std::string& url, std::uint64_t limit, std::string* reason)>;
    // Set once at start-up, before the first conversion.
    static void setHTTPReader(HTTPReader reader);

    // The content; nullopt with an error of the URL error domain, code 400, when the URL
    // is of another scheme, is not answered with status 200, or is larger than the limit.
    static std::optional<std::shared_ptr<const std::vector<std::uint8_t>>> contentsOfURL(
        const std::string& url, foundation::Error* error);
};

}  // namespace media
