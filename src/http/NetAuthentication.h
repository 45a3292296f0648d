#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/NetAuthenticationChallenge.h"
#include "http/NetCredentialRecord.h"
#include "http/NetNTLMMessages.h"

// The answer to a server's (401) or proxy's (407) challenge: made from the response's
// challenges, it turns credentials into an "Authorization" or "Proxy-Authorization" value.
// Basic, Digest (RFC 7616: MD5 and SHA-256, with or without "-sess", qop "auth") and NTLM
// (two rounds: the negotiation, then the answer to the server's challenge) are answered;
// "Negotiate" is recognised as single sign-on, which needs no user name and password and
// cannot be answered here. Shared by the requests of a session record, so its Digest
// counter and NTLM state are guarded by a lock of their own.
class NetAuthentication {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // The strongest challenge answered here, or nullptr when none is.
    static std::shared_ptr<NetAuthentication> createFromResponse(const Headers& headers,
                                                                 bool proxy);

    // "Basic", "Digest", "NTLM" or "Negotiate".
    const std::string& method() const { return method_; }
    const std::optional<std::string>& realm() const { return realm_; }
    bool requiresUsernameAndPassword() const { return method_ != "Negotiate"; }
    // NTLM names the account's domain beside the user name, and has no realm.
    bool requiresAccountDomain() const { return method_ == "NTLM"; }
    bool isValid() const;
    // Whether the server turned down the credentials last applied with this object.
    bool credentialsRejected() const;

    // A further challenge after credentials were sent: a Digest challenge marked stale
    // takes the new nonce and stays valid, as does an NTLM challenge answering the
    // negotiation; any other means the credentials were refused, and the object is no
    // longer valid. Without credentials sent since, nothing changes.
    void updateFromResponse(const Headers& headers, bool proxy);

    // The header value carrying the credentials for a request with this method and target
    // ("/path?query", or "host:port" for a tunnel); nullopt when it cannot be made.
    std::optional<std::string> authorizationHeader(const NetCredentials& credentials,
                                                   const std::string& requestMethod,
                                                   const std::string& requestTarget);

    // The "response" value of a Digest answer (RFC 7616 section 3.4.1), in lower-case
    // hexadecimal. `algorithm` is "MD5", "MD5-sess", "SHA-256" or "SHA-256-sess"; an empty
    // `qop` gives the RFC 2069 form without counter and client nonce.
    struct DigestInput {
        std::string algorithm, username, realm, password, method, uri, nonce, nc, cnonce, qop;
    };
    static std::optional<std::string> digestResponse(const DigestInput& input);

private:
    enum class Hash { MD5, SHA256 };
    static std::shared_ptr<NetAuthentication> fromChallenge(const NetAuthenticationChallenge& c);
    std::optional<std::string> ntlmHeader(const NetCredentials& credentials);
    std::optional<std::string> digestHeader(const NetCredentials& credentials,
                                            const std::string& requestMethod,
                                            const std::string& requestTarget);

    std::string method_;
    std::optional<std::string> realm_;
    Hash hash_ = Hash::MD5;
    bool session_ = false;  // "-sess" algorithm
    bool qopAuth_ = false;  // qop "auth" offered; without it the RFC 2069 form is used
    std::string algorithmName_;
    std::string nonce_;
    std::optional<std::string> opaque_;

    mutable std::mutex lock_;
    bool valid_ = true;
    bool rejected_ = false;
    bool sentSinceUpdate_ = false;
    std::uint32_t nonceCount_ = 0;
    // The server's NTLM challenge not yet answered, and whether the last message sent was
    // an answer (rather than the negotiation).
    std::optional<NetNTLMMessages::Challenge> ntlmChallenge_;
    bool ntlmAnswerSent_ = false;
};
