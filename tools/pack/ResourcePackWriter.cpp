#include "pack/ResourcePackWriter.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <zlib.h>

#include "content/ResourcePack.h"
#include "foundation/AtomicFile.h"

namespace packtool {
namespace {

template <typename T>
void putInteger(foundation::Data& out, T value) {
    auto v = static_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

}  // namespace

foundation::Data gzip(const foundation::Data& raw) {
    if (raw.size() > std::numeric_limits<uInt>::max()) {
        throw std::runtime_error("the files are too large for one pack");
    }
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("cannot start the compressor");
    }
    foundation::Data out(deflateBound(&z, uLong(raw.size())) + 64);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("compression failed");
    return out;
}

namespace {

// PKCS#1 v1.5 with SHA-1 over the message.
foundation::Data sign(const foundation::Data& message, const std::string& privateKeyPem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(privateKeyPem.data(), int(privateKeyPem.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr,
        EVP_PKEY_free);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) {
        throw std::runtime_error("the private key is not an RSA key in PEM form");
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_PKEY_CTX* pctx = nullptr;
    std::size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), &pctx, EVP_sha1(), nullptr, key.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, message.data(), message.size()) != 1) {
        throw std::runtime_error("cannot sign the pack");
    }
    foundation::Data signature(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) != 1) {
        throw std::runtime_error("cannot sign the pack");
    }
    signature.resize(length);
    return signature;
}

}  // namespace

std::vector<PackFile> collectFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<PackFile> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::string error;
        auto contents = foundation::readFile(entry.path().string(), &error);
        if (!contents) throw std::runtime_error(entry.path().string() + ": " + error);
        files.push_back(
            {fs::relative(entry.path(), folder).generic_string(), std::move(*contents)});
    }
    std::sort(files.begin(), files.end(),
              [](const PackFile& a, const PackFile& b) { return a.name < b.name; });
    return files;
}

foundation::Data writeResourcePack(const std::vector<PackFile>& files, const std::string& password,
                                   const std::string& privateKeyPem) {
    std::vector<std::pair<std::string, std::uint32_t>> records;
    foundation::Data raw;
    for (const auto& file : files) {
        if (file.contents.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::runtime_error(file.name + ": too large for a pack");
        }
        records.emplace_back(file.name, std::uint32_t(file.contents.size()));
        raw.insert(raw.end(), file.contents.begin(), file.contents.end());
    }
    return assembleResourcePack(records, gzip(raw), password, privateKeyPem);
}

foundation::Data assembleResourcePack(
    const std::vector<std::pair<std::string, std::uint32_t>>& records, foundation::Data body,
    const std::string& password, const std::string& privateKeyPem) {
    if (records.size() > std::size_t(std::numeric_limits<std::int32_t>::max())) {
        throw std::runtime_error("too many files for one pack");
    }
    foundation::Data recordBytes;
    for (const auto& [name, size] : records) {
        if (name.empty() || name.size() > std::size_t(std::numeric_limits<std::int16_t>::max())) {
            throw std::runtime_error("a file name is empty or too long: " + name);
        }
        putInteger(recordBytes, size);
        putInteger(recordBytes, std::int16_t(name.size()));
        foundation::Data enciphered(name.begin(), name.end());
        content::ResourcePack::cipherdata(enciphered, password);
        recordBytes.insert(recordBytes.end(), enciphered.begin(), enciphered.end());
    }
    if (body.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error("the compressed body is too large for a pack");
    }
    foundation::Data table;
    putInteger(table, std::uint32_t(body.size()));
    putInteger(table, std::int32_t(records.size()));
    table.insert(table.end(), recordBytes.begin(), recordBytes.end());
    const foundation::Data signature =
        sign(content::ResourcePack::signedDigest(table, body), privateKeyPem);
    if (signature.size() > std::size_t(std::numeric_limits<std::int16_t>::max())) {
        throw std::runtime_error("the signature is too long");
    }
    content::ResourcePack::cipherdata(body, password);

    foundation::Data pack(std::begin(content::ResourcePack::kMagic),
                          std::end(content::ResourcePack::kMagic));
    pack.push_back(1);  // the fifth magic byte is not examined
    putInteger(pack, std::int16_t(signature.size()));
    pack.insert(pack.end(), signature.begin(), signature.end());
    pack.insert(pack.end(), table.begin(), table.end());
    pack.insert(pack.end(), body.begin(), body.end());
    return pack;
}

}  // namespace packtool
