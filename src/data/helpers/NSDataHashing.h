#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "foundation/Value.h"

// Digests of a block of bytes, as raw bytes (not hexadecimal text). Any length works,
// 4 GiB and more included.
namespace NSData {

// MD5 (RFC 1321): 16 bytes.
foundation::Data MD5Hash(std::span<const std::uint8_t> data);

// MD5 of bytes handed over in pieces: the digest MD5Hash gives of them all together.
class MD5Stream {
public:
    MD5Stream();
    ~MD5Stream();
    MD5Stream(const MD5Stream&) = delete;
    MD5Stream& operator=(const MD5Stream&) = delete;

    void update(std::span<const std::uint8_t> bytes);
    foundation::Data finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// SHA-1: 20 bytes.
foundation::Data SHA1Hash(std::span<const std::uint8_t> data);

// SHA-256: 32 bytes.
foundation::Data SHA256Hash(std::span<const std::uint8_t> data);

// HMAC-SHA1 (RFC 2104) of the data under the key's bytes: 20 bytes.
foundation::Data HMACUsingSHA1_withSecretKey(std::span<const std::uint8_t> data,
                                             std::span<const std::uint8_t> key);

}  // namespace NSData
