#pragma once

#include <openssl/evp.h>

#include <string>

namespace simdevice {

// The device's RSA key pair, made once per process: hosts build their pairing
// certificates on its public half, and the device proves itself with it in sessions.
EVP_PKEY* deviceKey();
// The public half in PEM ("RSA PUBLIC KEY").
const std::string& devicePublicKeyPem();

}  // namespace simdevice
