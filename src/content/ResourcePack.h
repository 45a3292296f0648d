#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

namespace content {

// The resource pack holds the web application in one file (little-endian, packed):
//   "RES" 0 x | int16 signature length | signature | uint32 body length | int32 file count
//   | per file: uint32 size, int16 name length, enciphered UTF-8 name | enciphered body
// The deciphered body is one gzip stream; inflated, it is every file's contents in record
// order without gaps, so the sizes add up to the inflated length. The signature covers the
// MD5 digest of the file table (from the body length to the last name, as stored) followed
// by the deciphered body: names, sizes and order cannot be changed without breaking it.
namespace ResourcePack {

inline constexpr char kMagic[4] = {'R', 'E', 'S', '\0'};
inline constexpr std::size_t kMagicLength = 5;
// The password the program's own pack is enciphered with.
inline constexpr std::string_view kPassword = "pelmor";

struct Record {
    std::string name;
    std::uint64_t offset = 0;  // in the inflated body
    std::uint32_t size = 0;
};

struct Layout {
    foundation::Data signature;
    foundation::Data table;  // as stored, from the body length to the end of the last name
    foundation::Data body;   // deciphered (the gzip stream)
    std::vector<Record> records;
};

// The layout with the body left where it lies in the pack, still enciphered.
struct Index {
    foundation::Data signature;
    std::span<const std::uint8_t> table;
    std::span<const std::uint8_t> cipheredBody;
    std::vector<Record> records;
};

// What the signature signs: the MD5 digest of the table bytes, then the deciphered body.
foundation::Data signedDigest(std::span<const std::uint8_t> table,
                              std::span<const std::uint8_t> body);

// XOR with the password's bytes, restarting at index 0 for each call. The same call
// enciphers and deciphers; an empty password leaves the data as it is.
void cipherdata(std::span<std::uint8_t> data, std::string_view password);

// Reads the layout and deciphers names and body. nullopt for a bad magic, a short header,
// a negative length or count, fewer records than counted, a name or body running past the
// end, or a name that is not UTF-8.
std::optional<Layout> parse(std::span<const std::uint8_t> pack, std::string_view password);
// The same checks, without copying or deciphering the body; the spans point into `pack`.
std::optional<Index> parseIndex(std::span<const std::uint8_t> pack, std::string_view password);

// The digest the signature must match, for a body deciphered piece by piece.
foundation::Data signedDigestOfCipheredBody(const Index& index, std::string_view password);

// Deciphers and inflates the body into exactly `inflatedSize` bytes. nullopt when the body
// is not one gzip member of that inflated size (bytes behind the member are ignored).
std::optional<foundation::Data> inflateCipheredBody(const Index& index, std::string_view password,
                                                    std::uint64_t inflatedSize);
// The same into `output`, which the member must fill exactly; false otherwise (what was
// written by then is left in `output`).
bool inflateCipheredBodyInto(const Index& index, std::string_view password,
                             std::span<std::uint8_t> output);

}  // namespace ResourcePack
}  // namespace content
