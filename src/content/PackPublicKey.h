#pragma once

#include <cstdint>
#include <span>

namespace content {

// The public half of the key that signs the resource pack, generated at build time: every
// second byte of the table, starting with the second, is a character of its PEM text.
std::span<const std::uint8_t> packPublicKeyTable();

}  // namespace content
