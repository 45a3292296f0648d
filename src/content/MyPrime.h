#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <openssl/types.h>

namespace content {

// Checks resource-pack signatures with the program's RSA public key: PKCS#1 v1.5 over the
// SHA-1 of the signed bytes, the signature also accepted in reversed byte order.
class MyPrime {
public:
    using VerifyFunction = bool (*)(const char* keyText, const std::uint8_t* data,
                                    std::int32_t length, const std::uint8_t* signature,
                                    std::int32_t signatureLength);
    using DigestFunction = int (*)(const std::uint8_t* data, std::int32_t length, std::uint8_t* out,
                                   std::int32_t* outLength);

    // The verifier of this process, with the program's key and functions installed.
    static MyPrime& shared();

    MyPrime() = default;
    MyPrime(const MyPrime&) = delete;
    MyPrime& operator=(const MyPrime&) = delete;

    // Builds the key text from the table compiled into the program.
    void Init();
    void installFunctions(VerifyFunction verify, DigestFunction digest);
    bool VerifySign(const std::uint8_t* data, std::int32_t length, const std::uint8_t* signature,
                    std::int32_t signatureLength) const;
    const std::string& publickey() const { return publickey_; }

private:
    std::string publickey_;
    VerifyFunction pfnVerifySign_ = nullptr;
    DigestFunction pfnSha1Hash_ = nullptr;
};

// SHA-1 of the signed bytes, then the signature as given and, failing that, reversed.
bool RSAVerifySign(const char* keyText, const std::uint8_t* data, std::int32_t length,
                   const std::uint8_t* signature, std::int32_t signatureLength);
// PKCS#1 v1.5 verification of a SHA-1 digest. The key imported from the text is cached
// for the life of the process once an import succeeds.
bool verifySHA1Hash(const char* keyText, const std::uint8_t* digest, const std::uint8_t* signature,
                    std::int32_t signatureLength);
// SHA-1 of the buffer into out (20 bytes); gives 20, or 0 without an out buffer.
int SHA1Hash(const std::uint8_t* data, std::int32_t length, std::uint8_t* out,
             std::int32_t* outLength);

}  // namespace content
