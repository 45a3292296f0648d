#include "simdevice/SimDeviceKey.h"

#include <openssl/encoder.h>
#include <openssl/rsa.h>

#include <stdexcept>

namespace simdevice {

EVP_PKEY* deviceKey() {
    static EVP_PKEY* const key = [] {
        EVP_PKEY* made = EVP_RSA_gen(2048);
        if (!made) throw std::runtime_error("RSA key generation failed");
        return made;
    }();
    return key;
}

const std::string& devicePublicKeyPem() {
    static const std::string pem = [] {
        OSSL_ENCODER_CTX* encoder = OSSL_ENCODER_CTX_new_for_pkey(deviceKey(), EVP_PKEY_PUBLIC_KEY,
                                                                  "PEM", "type-specific", nullptr);
        unsigned char* bytes = nullptr;
        size_t length = 0;
        const bool encoded = encoder && OSSL_ENCODER_to_data(encoder, &bytes, &length) == 1;
        std::string text = encoded ? std::string(reinterpret_cast<char*>(bytes), length) : "";
        OPENSSL_free(bytes);
        OSSL_ENCODER_CTX_free(encoder);
        if (text.empty()) throw std::runtime_error("RSA key encoding failed");
        return text;
    }();
    return pem;
}

}  // namespace simdevice
