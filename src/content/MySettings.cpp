#include "content/MySettings.h"

#include <limits>

#include "content/MyPrime.h"

namespace content {

bool MySettings::VerifySign(std::span<const std::uint8_t> signature,
                            std::span<const std::uint8_t> data) {
    constexpr auto kMax = std::size_t(std::numeric_limits<std::int32_t>::max());
    if (signature.size() > kMax || data.size() > kMax) return false;
    return MyPrime::shared().VerifySign(data.data(), std::int32_t(data.size()), signature.data(),
                                        std::int32_t(signature.size()));
}

}  // namespace content
