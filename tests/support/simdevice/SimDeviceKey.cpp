#include "simdevice/SimDeviceKey.h"

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <stdexcept>

namespace simdevice {

namespace {

std::string makeKey() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (!key) throw std::runtime_error("RSA key generation failed");
    OSSL_ENCODER_CTX* encoder =
        OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_PUBLIC_KEY, "PEM", "type-specific", nullptr);
    unsigned char* bytes = nullptr;
    size_t length = 0;
    const bool encoded = encoder && OSSL_ENCODER_to_data(encoder, &bytes, &length) == 1;
    std::string pem = encoded ? std::string(reinterpret_cast<char*>(bytes), length) : "";
    OPENSSL_free(bytes);
    OSSL_ENCODER_CTX_free(encoder);
    EVP_PKEY_free(key);
    if (pem.empty()) throw std::runtime_error("RSA key encoding failed");
    return pem;
}

}  // namespace

const std::string& devicePublicKeyPem() {
    static const std::string pem = makeKey();
    return pem;
}

}  // namespace simdevice
