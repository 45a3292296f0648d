#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "http/NetCredentialRecord.h"

// The three messages of an NTLM exchange, each carried Base64-encoded after "NTLM " in an
// "Authorization" or "Proxy-Authorization" header: the client's negotiation, the server's
// challenge and the client's answer. libntlm makes the client's messages and the responses
// (LM and NT); the challenge is read here, since it comes from the network.
namespace NetNTLMMessages {

struct Challenge {
    std::array<std::uint8_t, 8> serverChallenge{};
    std::uint32_t flags = 0;
};

// The message opening the exchange, Base64-encoded.
std::string negotiate();

// The server's challenge from its decoded bytes; nullopt when they are not one.
std::optional<Challenge> parseChallenge(std::span<const std::uint8_t> bytes);

// The answer to a challenge, Base64-encoded, naming the credentials' user and account domain.
// nullopt when the user name, domain or password cannot be carried: longer than the message
// allows, or holding characters beyond ISO Latin-1, which the library would send wrongly.
std::optional<std::string> authenticate(const Challenge& challenge,
                                        const NetCredentials& credentials);

// Longest user name and account domain (each in characters) and password carried.
constexpr std::size_t MaximumNameLength = 200;
constexpr std::size_t MaximumPasswordLength = 128;

}  // namespace NetNTLMMessages
