#pragma once

#include <span>

#include <cstdint>

namespace content {

class MySettings {
public:
    // Whether the signature belongs to the data (the pack body's MD5 digest).
    static bool VerifySign(std::span<const std::uint8_t> signature,
                           std::span<const std::uint8_t> data);
};

}  // namespace content
