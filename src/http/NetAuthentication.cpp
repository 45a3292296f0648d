#include "http/NetAuthentication.h"

#include <openssl/rand.h>

#include <fmt/format.h>

#include <array>
#include <span>

#include "data/helpers/NSDataHashing.h"
#include "foundation/Base64.h"
#include "http/NetHeaderMatching.h"

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string hex(const foundation::Data& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto byte : bytes) out += fmt::format("{:02x}", byte);
    return out;
}

std::string quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

bool safeText(const std::string& text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// The qop list offers "auth" ("auth", "auth-int" or both, in any order and case).
bool offersAuth(const std::string& qop) {
    std::size_t start = 0;
    while (start <= qop.size()) {
        auto end = qop.find(',', start);
        std::string item = NetHeaderMatching::lowered(qop.substr(start, end - start));
        auto first = item.find_first_not_of(" \t");
        auto last = item.find_last_not_of(" \t");
        if (first != std::string::npos && item.substr(first, last - first + 1) == "auth")
            return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

// Higher answers first: Digest with SHA-256, Digest with MD5, NTLM, Basic, then Negotiate.
int strength(const NetAuthentication& authentication, bool sha256) {
    if (authentication.method() == "Digest") return sha256 ? 5 : 4;
    if (authentication.method() == "NTLM") return 3;
    if (authentication.method() == "Basic") return 2;
    return 1;
}

// The server's NTLM challenge carried by a challenge of that scheme.
std::optional<NetNTLMMessages::Challenge> ntlmChallengeOf(
    const NetAuthenticationChallenge& challenge) {
    if (!challenge.isScheme("NTLM") || challenge.token68.empty()) return std::nullopt;
    auto bytes = foundation::base64::decode(challenge.token68);
    if (!bytes) return std::nullopt;
    return NetNTLMMessages::parseChallenge(*bytes);
}

}  // namespace

std::shared_ptr<NetAuthentication> NetAuthentication::fromChallenge(
    const NetAuthenticationChallenge& challenge) {
    auto made = std::make_shared<NetAuthentication>();
    made->realm_ = challenge.parameter("realm");
    if (challenge.isScheme("Basic")) {
        made->method_ = "Basic";
        return made;
    }
    if (challenge.isScheme("NTLM")) {
        made->method_ = "NTLM";
        made->realm_.reset();
        if (challenge.token68.empty()) return made;
        // Already the server's challenge, as when the negotiation was sent before any.
        made->ntlmChallenge_ = ntlmChallengeOf(challenge);
        return made->ntlmChallenge_ ? made : nullptr;
    }
    if (challenge.isScheme("Negotiate")) {
        made->method_ = "Negotiate";
        return made;
    }
    if (!challenge.isScheme("Digest")) return nullptr;
    made->method_ = "Digest";
    auto nonce = challenge.parameter("nonce");
    if (!nonce || !made->realm_ || !safeText(*nonce) || !safeText(*made->realm_)) return nullptr;
    made->nonce_ = *nonce;
    made->opaque_ = challenge.parameter("opaque");
    if (made->opaque_ && !safeText(*made->opaque_)) return nullptr;
    std::string algorithm = challenge.parameter("algorithm").value_or("MD5");
    std::string lowered = NetHeaderMatching::lowered(algorithm);
    if (lowered == "md5" || lowered == "md5-sess") {
        made->hash_ = Hash::MD5;
    } else if (lowered == "sha-256" || lowered == "sha-256-sess") {
        made->hash_ = Hash::SHA256;
    } else {
        return nullptr;
    }
    made->session_ = lowered.ends_with("-sess");
    made->algorithmName_ = made->hash_ == Hash::SHA256 ? "SHA-256" : "MD5";
    if (made->session_) made->algorithmName_ += "-sess";
    if (auto qop = challenge.parameter("qop")) {
        // Only "auth-int" on offer: the body would have to be hashed, which is not done.
        if (!offersAuth(*qop)) return nullptr;
        made->qopAuth_ = true;
    } else if (made->session_) {
        return nullptr;  // "-sess" needs a client nonce, which needs qop
    }
    return made;
}

std::shared_ptr<NetAuthentication> NetAuthentication::createFromResponse(const Headers& headers,
                                                                         bool proxy) {
    std::shared_ptr<NetAuthentication> best;
    int bestStrength = 0;
    const char* name = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
    for (const auto& value : NetHeaderMatching::values(headers, name)) {
        for (const auto& challenge : NetAuthenticationChallenge::parse(value)) {
            auto made = fromChallenge(challenge);
            if (!made) continue;
            int s = strength(*made, made->hash_ == Hash::SHA256);
            if (s <= bestStrength) continue;
            bestStrength = s;
            best = std::move(made);
        }
    }
    return best;
}

bool NetAuthentication::isValid() const {
    std::lock_guard guard(lock_);
    return valid_;
}

bool NetAuthentication::credentialsRejected() const {
    std::lock_guard guard(lock_);
    return rejected_;
}

void NetAuthentication::updateFromResponse(const Headers& headers, bool proxy) {
    std::lock_guard guard(lock_);
    if (!sentSinceUpdate_) return;
    sentSinceUpdate_ = false;
    if (method_ == "NTLM" && !ntlmAnswerSent_) {
        const char* name = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
        for (const auto& value : NetHeaderMatching::values(headers, name)) {
            for (const auto& challenge : NetAuthenticationChallenge::parse(value)) {
                if (auto found = ntlmChallengeOf(challenge)) {
                    ntlmChallenge_ = found;
                    return;
                }
            }
        }
    }
    if (method_ == "Digest") {
        const char* name = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
        for (const auto& value : NetHeaderMatching::values(headers, name)) {
            for (const auto& challenge : NetAuthenticationChallenge::parse(value)) {
                auto stale = challenge.parameter("stale");
                if (!stale || NetHeaderMatching::lowered(*stale) != "true") continue;
                auto fresh = fromChallenge(challenge);
                if (!fresh || fresh->hash_ != hash_ || fresh->realm_ != realm_) continue;
                nonce_ = fresh->nonce_;
                opaque_ = fresh->opaque_;
                nonceCount_ = 0;
                return;
            }
        }
    }
    valid_ = false;
    rejected_ = true;
}

std::optional<std::string> NetAuthentication::digestResponse(const DigestInput& in) {
    std::string lowered = NetHeaderMatching::lowered(in.algorithm);
    bool sha256 = lowered.starts_with("sha-256");
    if (lowered != "md5" && lowered != "md5-sess" && lowered != "sha-256" &&
        lowered != "sha-256-sess")
        return std::nullopt;
    auto hash = [sha256](const std::string& text) {
        return hex(sha256 ? NSData::SHA256Hash(bytesOf(text)) : NSData::MD5Hash(bytesOf(text)));
    };
    std::string ha1 = hash(in.username + ":" + in.realm + ":" + in.password);
    if (lowered.ends_with("-sess")) ha1 = hash(ha1 + ":" + in.nonce + ":" + in.cnonce);
    std::string ha2 = hash(in.method + ":" + in.uri);
    if (in.qop.empty()) return hash(ha1 + ":" + in.nonce + ":" + ha2);
    return hash(ha1 + ":" + in.nonce + ":" + in.nc + ":" + in.cnonce + ":" + in.qop + ":" + ha2);
}

std::optional<std::string> NetAuthentication::authorizationHeader(
    const NetCredentials& credentials, const std::string& requestMethod,
    const std::string& requestTarget) {
    if (!safeText(credentials.username) || !safeText(credentials.password)) return std::nullopt;
    if (method_ == "Basic") {
        // RFC 7617: a colon cannot be told apart from the separator.
        if (credentials.username.find(':') != std::string::npos) return std::nullopt;
        std::lock_guard guard(lock_);
        sentSinceUpdate_ = true;
        return "Basic " + foundation::base64::encode(
                              bytesOf(credentials.username + ":" + credentials.password));
    }
    if (method_ == "Digest") return digestHeader(credentials, requestMethod, requestTarget);
    if (method_ == "NTLM") return ntlmHeader(credentials);
    return std::nullopt;
}

std::optional<std::string> NetAuthentication::ntlmHeader(const NetCredentials& credentials) {
    std::lock_guard guard(lock_);
    if (!ntlmChallenge_) {
        sentSinceUpdate_ = true;
        ntlmAnswerSent_ = false;
        return "NTLM " + NetNTLMMessages::negotiate();
    }
    auto answer = NetNTLMMessages::authenticate(*ntlmChallenge_, credentials);
    if (!answer) return std::nullopt;
    // A challenge is answered once; a request after this one starts a new exchange.
    ntlmChallenge_.reset();
    sentSinceUpdate_ = true;
    ntlmAnswerSent_ = true;
    return "NTLM " + *answer;
}

std::optional<std::string> NetAuthentication::digestHeader(const NetCredentials& credentials,
                                                           const std::string& requestMethod,
                                                           const std::string& requestTarget) {
    if (!safeText(requestTarget) || !safeText(requestMethod)) return std::nullopt;
    std::string nonce;
    std::optional<std::string> opaque;
    std::uint32_t count = 0;
    {
        std::lock_guard guard(lock_);
        nonce = nonce_;
        opaque = opaque_;
        count = ++nonceCount_;
        sentSinceUpdate_ = true;
    }
    std::array<std::uint8_t, 16> random{};
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) return std::nullopt;
    std::string cnonce = hex(foundation::Data(random.begin(), random.end()));
    std::string nc = fmt::format("{:08x}", count);
    const std::string& realm = *realm_;
    auto response =
        digestResponse({algorithmName_, credentials.username, realm, credentials.password,
                        requestMethod, requestTarget, nonce, nc, cnonce, qopAuth_ ? "auth" : ""});
    if (!response) return std::nullopt;

    std::string header = fmt::format(
        "Digest username={}, realm={}, nonce={}, uri={}, "
        "algorithm={}, response=\"{}\"",
        quote(credentials.username), quote(realm), quote(nonce), quote(requestTarget),
        algorithmName_, *response);
    if (qopAuth_) header += fmt::format(", qop=auth, nc={}, cnonce=\"{}\"", nc, cnonce);
    if (opaque) header += ", opaque=" + quote(*opaque);
    return header;
}
