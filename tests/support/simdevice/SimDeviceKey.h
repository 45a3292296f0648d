#pragma once

#include <string>

namespace simdevice {

// The public half of an RSA device key in PEM ("RSA PUBLIC KEY"), made once per process:
// hosts build their pairing certificates on it.
const std::string& devicePublicKeyPem();

}  // namespace simdevice
