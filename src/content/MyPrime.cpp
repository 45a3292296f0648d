#include "content/MyPrime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <fmt/format.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include "content/PackPublicKey.h"
#include "foundation/ConsolePrint.h"

namespace content {
namespace {

struct CachedKey {
    std::mutex lock;
    std::string keyText;
    EVP_PKEY* key = nullptr;  // kept for the life of the process
};

CachedKey& cachedKey() {
    static auto* const cache = new CachedKey;
    return *cache;
}

// The key imported once; a failed import is tried again at the next check.
EVP_PKEY* importedKey(const char* keyText) {
    auto& cache = cachedKey();
    std::lock_guard guard(cache.lock);
    if (cache.key && cache.keyText == keyText) return cache.key;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(keyText, -1), BIO_free);
    EVP_PKEY* key = bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!key) return nullptr;
    EVP_PKEY_free(cache.key);
    cache.key = key;
    cache.keyText = keyText;
    return key;
}

std::string lastOpenSslError() {
    const unsigned long code = ERR_get_error();
    if (code == 0) return "verification could not be set up";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

}  // namespace

MyPrime& MyPrime::shared() {
    static MyPrime* const verifier = [] {
        auto* prime = new MyPrime;
        prime->installFunctions(RSAVerifySign, SHA1Hash);
        prime->Init();
        return prime;
    }();
    return *verifier;
}

void MyPrime::Init() {
    publickey_.clear();
    const auto table = packPublicKeyTable();
    for (std::size_t i = 1; i < table.size(); i += 2) publickey_ += char(table[i]);
}

void MyPrime::installFunctions(VerifyFunction verify, DigestFunction digest) {
    pfnVerifySign_ = verify;
    pfnSha1Hash_ = digest;
}

bool MyPrime::VerifySign(const std::uint8_t* data, std::int32_t length,
                         const std::uint8_t* signature, std::int32_t signatureLength) const {
    // Both are set when the verifier is made; a miss is a programming error.
    if (!pfnVerifySign_ || publickey_.empty()) {
        std::fputs(!pfnVerifySign_ ? "MyPrime VerifySign: assertion pfnVerifySign != NULL failed\n"
                                   : "MyPrime VerifySign: assertion publickey.size() failed\n",
                   stderr);
        std::abort();
    }
    return pfnVerifySign_(publickey_.c_str(), data, length, signature, signatureLength);
}

int SHA1Hash(const std::uint8_t* data, std::int32_t length, std::uint8_t* out,
             std::int32_t* outLength) {
    if (!out) return 0;
    SHA1(data, length > 0 ? std::size_t(length) : 0, out);
    if (outLength) *outLength = SHA_DIGEST_LENGTH;
    return SHA_DIGEST_LENGTH;
}

bool verifySHA1Hash(const char* keyText, const std::uint8_t* digest, const std::uint8_t* signature,
                    std::int32_t signatureLength) {
    EVP_PKEY* key = importedKey(keyText);
    if (!key || signatureLength <= 0) return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) <= 0) {
        foundation::printToConsole("Error: {}\n", lastOpenSslError());
        return false;
    }
    const int verdict = EVP_PKEY_verify(ctx.get(), signature, std::size_t(signatureLength), digest,
                                        SHA_DIGEST_LENGTH);
    // A plain mismatch (0) is no error worth a line; a check that could not run (a malformed
    // signature) is.
    if (verdict < 0) foundation::printToConsole("Error: {}\n", lastOpenSslError());
    ERR_clear_error();
    return verdict == 1;
}

bool RSAVerifySign(const char* keyText, const std::uint8_t* data, std::int32_t length,
                   const std::uint8_t* signature, std::int32_t signatureLength) {
    if (signatureLength <= 0) return false;
    std::vector<std::uint8_t> working(signature, signature + signatureLength);
    std::uint8_t digest[SHA_DIGEST_LENGTH];
    SHA1Hash(data, length, digest, nullptr);
    if (verifySHA1Hash(keyText, digest, working.data(), signatureLength)) return true;
    std::reverse(working.begin(), working.end());
    return verifySHA1Hash(keyText, digest, working.data(), signatureLength);
}

}  // namespace content
