#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

// The whole body of a GET of an http or https URL, carried out on the calling thread by a
// NetHTTPRequest with its proxies, time-outs and redirects. A body larger than the limit is
// refused without being read whole: an announced length above it before any of the body,
// a body without one as soon as it grows past it.
class NetURLContents {
public:
    // nullopt with the reason when the request fails, the answer's status is not 200, or
    // the body passes `limit` bytes.
    static std::optional<foundation::Data> read(const std::string& url, std::uint64_t limit,
                                                std::string* reason);
};
