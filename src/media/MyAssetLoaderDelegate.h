#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"

namespace media {

// Reads the whole content of a "myapp" URL into memory, through the same responders that
// serve the page, for an audio source given as such a URL.
class MyAssetLoaderDelegate {
public:
    // The most it holds in memory.
    static constexpr std::size_t kMaxContentLength = std::size_t(512) << 20;

    // The content; nullopt with an error of the URL error domain, code 400, when the URL is
    // not a "myapp" URL, is not answered with status 200, or is larger than the limit.
    static std::optional<std::shared_ptr<const std::vector<std::uint8_t>>> contentsOfURL(
        const std::string& url, foundation::Error* error);
};

}  // namespace media
