// An NTLM challenge comes from any server or proxy: read raw and as the Base64 of a
// challenge header, it must be taken or refused, and the answer made from it must stay a
// single header line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "foundation/Base64.h"
#include "http/NetAuthentication.h"
#include "http/NetNTLMMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    if (auto challenge = NetNTLMMessages::parseChallenge(bytes)) {
        auto answer = NetNTLMMessages::authenticate(*challenge, {"user", "password", "DOMAIN"});
        if (!answer || answer->find_first_of("\r\n") != std::string::npos) std::abort();
    }
    NetAuthentication::Headers headers = {
        {"WWW-Authenticate", "NTLM " + foundation::base64::encode(bytes)}};
    auto authentication = NetAuthentication::createFromResponse(headers, false);
    if (!authentication) return 0;
    auto header = authentication->authorizationHeader({"user", "password", "D"}, "GET", "/");
    if (header && header->find_first_of("\r\n") != std::string::npos) std::abort();
    authentication->updateFromResponse(headers, false);
    return 0;
}
