#include "http/NetNTLMMessages.h"

#include <ntlm.h>

#include <cstddef>
#include <cstring>

#include "foundation/Base64.h"

namespace {

constexpr char Signature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', '\0'};
constexpr std::uint32_t ChallengeType = 2;
// Signature, type, target name header, flags, challenge.
constexpr std::size_t ChallengeLength = 32;
// Where the target name of a challenge the library reads starts (after its fixed part).
constexpr std::size_t ChallengeFixedPart = 48;
static_assert(offsetof(tSmbNtlmAuthChallenge, buffer) == ChallengeFixedPart);

std::uint32_t little32(const std::uint8_t* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
           std::uint32_t(at[3]) << 24;
}

void putLittle16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLittle32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// UTF-8 as ISO Latin-1, whose bytes the library widens to the UTF-16 the messages carry;
// nullopt for malformed text or a character beyond U+00FF.
std::optional<std::string> latin1(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == 0) return std::nullopt;
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            continue;
        }
        if ((byte & 0xE0) != 0xC0 || i + 1 >= text.size()) return std::nullopt;
        auto next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        unsigned value = (byte & 0x1Fu) << 6 | (next & 0x3Fu);
        if (value < 0x80 || value > 0xFF) return std::nullopt;
        out.push_back(static_cast<char>(value));
        ++i;
    }
    return out;
}

template <typename Message>
std::string encoded(const Message& message) {
    auto length = static_cast<std::size_t>(SmbLength(&message));
    return foundation::base64::encode(
        std::span(reinterpret_cast<const std::uint8_t*>(&message), length));
}

}  // namespace

namespace NetNTLMMessages {

std::string negotiate() {
    tSmbNtlmAuthRequest request;
    std::memset(&request, 0, sizeof request);
    // User and domain go only in the answer; the server needs neither to make its challenge.
    buildSmbNtlmAuthRequest_noatsplit(&request, "", "");
    return encoded(request);
}

std::optional<Challenge> parseChallenge(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < ChallengeLength) return std::nullopt;
    if (std::memcmp(bytes.data(), Signature, sizeof Signature) != 0) return std::nullopt;
    if (little32(bytes.data() + 8) != ChallengeType) return std::nullopt;
    Challenge challenge;
    challenge.flags = little32(bytes.data() + 20);
    std::memcpy(challenge.serverChallenge.data(), bytes.data() + 24, 8);
    return challenge;
}

std::optional<std::string> authenticate(const Challenge& challenge,
                                        const NetCredentials& credentials) {
    auto user = latin1(credentials.username);
    auto domain = latin1(credentials.domain);
    auto password = latin1(credentials.password);
    if (!user || !domain || !password || user->size() > MaximumNameLength ||
        domain->size() > MaximumNameLength || password->size() > MaximumPasswordLength)
        return std::nullopt;

    // The library takes the account domain from the challenge's target name: give it a
    // challenge naming the credentials' domain, with the server's flags and challenge.
    tSmbNtlmAuthChallenge own;
    std::memset(&own, 0, sizeof own);
    std::memcpy(own.ident, Signature, sizeof Signature);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&own);
    putLittle32(bytes + 8, ChallengeType);
    auto domainBytes = static_cast<std::uint16_t>(domain->size() * 2);
    putLittle16(bytes + 12, domainBytes);
    putLittle16(bytes + 14, domainBytes);
    putLittle32(bytes + 16, static_cast<std::uint32_t>(ChallengeFixedPart));
    putLittle32(bytes + 20, challenge.flags);
    std::memcpy(own.challengeData, challenge.serverChallenge.data(), 8);
    for (std::size_t i = 0; i < domain->size(); ++i) {
        own.buffer[2 * i] = static_cast<std::uint8_t>((*domain)[i]);
        own.buffer[2 * i + 1] = 0;
    }
    own.bufIndex = domainBytes;

    tSmbNtlmAuthResponse response;
    std::memset(&response, 0, sizeof response);
    buildSmbNtlmAuthResponse_noatsplit(&own, &response, user->c_str(), password->c_str());
    return encoded(response);
}

}  // namespace NetNTLMMessages
