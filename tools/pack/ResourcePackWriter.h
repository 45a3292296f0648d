#pragma once

#include <string>
#include <vector>

#include "foundation/Value.h"

namespace packtool {

struct PackFile {
    std::string name;  // relative, "/" between folders, no leading "/"
    foundation::Data contents;
};

// Every regular file below the folder, named relative to it, in a stable (sorted) order.
// Throws std::runtime_error when the folder cannot be read.
std::vector<PackFile> collectFolder(const std::string& folder);

// The resource pack of the files: gzip body, enciphered with the password, signed with the
// RSA private key (PEM text) over the MD5 digest of the file table and the deciphered body.
// Throws std::runtime_error for a bad key or files the layout cannot hold.
foundation::Data writeResourcePack(const std::vector<PackFile>& files, const std::string& password,
                                   const std::string& privateKeyPem);

// The pack around an already compressed body: the records as given (name and size in the
// inflated body), the body enciphered and signed. For tools and tests that need packs the
// files cannot give (a body that does not inflate, records that overrun it).
foundation::Data assembleResourcePack(
    const std::vector<std::pair<std::string, std::uint32_t>>& records, foundation::Data gzipBody,
    const std::string& password, const std::string& privateKeyPem);

// gzip (window bits 31) of the bytes, at the best compression.
foundation::Data gzip(const foundation::Data& raw);

}  // namespace packtool
