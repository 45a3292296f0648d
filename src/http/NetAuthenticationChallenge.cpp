#include "http/NetAuthenticationChallenge.h"

#include <cstring>

#include "http/NetHeaderMatching.h"

namespace {

constexpr std::size_t MaximumParameters = 64;

bool isTokenChar(char c) {
    auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && std::strchr("\"(),/:;<=>?@[\\]{}", c) == nullptr;
}

bool isToken68Char(char c) {
    auto u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
           std::strchr("-._~+/", c) != nullptr;
}

// A cursor over the header value; every read checks the end.
struct Reader {
    std::string_view text;
    std::size_t at = 0;

    bool atEnd() const { return at >= text.size(); }
    char peek(std::size_t ahead = 0) const {
        return at + ahead < text.size() ? text[at + ahead] : '\0';
    }
    void skipSpace() {
        while (!atEnd() && (text[at] == ' ' || text[at] == '\t')) ++at;
    }
    void skipSpaceAndCommas() {
        while (!atEnd() && (text[at] == ' ' || text[at] == '\t' || text[at] == ',')) ++at;
    }
    std::string token() {
        std::size_t start = at;
        while (!atEnd() && isTokenChar(text[at])) ++at;
        return std::string(text.substr(start, at - start));
    }
    std::optional<std::string> quoted() {
        if (peek() != '"') return std::nullopt;
        ++at;
        std::string value;
        while (!atEnd()) {
            char c = text[at++];
            if (c == '"') return value;
            if (c == '\\') {
                if (atEnd()) return std::nullopt;
                c = text[at++];
            }
            value.push_back(c);
        }
        return std::nullopt;  // no closing quote
    }
    // Whether a "name=" (not "name==") starts here, leaving the cursor unmoved.
    bool parameterAhead() const {
        std::size_t i = at;
        while (i < text.size() && isTokenChar(text[i])) ++i;
        if (i == at) return false;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        return i < text.size() && text[i] == '=' && (i + 1 >= text.size() || text[i + 1] != '=');
    }
    // A token68 ending at a comma or the end, or nothing (cursor unmoved).
    std::optional<std::string> token68() {
        std::size_t i = at;
        while (i < text.size() && isToken68Char(text[i])) ++i;
        if (i == at) return std::nullopt;
        while (i < text.size() && text[i] == '=') ++i;
        std::size_t end = i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i < text.size() && text[i] != ',') return std::nullopt;
        std::string value(text.substr(at, end - at));
        at = i;
        return value;
    }
};

}  // namespace

std::optional<std::string> NetAuthenticationChallenge::parameter(std::string_view name) const {
    for (const auto& [key, value] : parameters) {
        if (NetHeaderMatching::same(key, name)) return value;
    }
    return std::nullopt;
}

bool NetAuthenticationChallenge::isScheme(std::string_view name) const {
    return NetHeaderMatching::same(scheme, name);
}

std::vector<NetAuthenticationChallenge> NetAuthenticationChallenge::parse(std::string_view value) {
    std::vector<NetAuthenticationChallenge> challenges;
    Reader reader{value};
    for (;;) {
        reader.skipSpaceAndCommas();
        if (reader.atEnd() || challenges.size() >= MaximumChallenges) break;
        NetAuthenticationChallenge challenge;
        challenge.scheme = reader.token();
        if (challenge.scheme.empty()) break;
        reader.skipSpace();
        if (!reader.parameterAhead()) {
            if (auto token = reader.token68()) challenge.token68 = std::move(*token);
            challenges.push_back(std::move(challenge));
            continue;
        }
        bool malformed = false;
        while (reader.parameterAhead() && challenge.parameters.size() < MaximumParameters) {
            std::string name = reader.token();
            reader.skipSpace();
            ++reader.at;  // the "="
            reader.skipSpace();
            std::optional<std::string> parameterValue =
                reader.peek() == '"' ? reader.quoted() : std::optional(reader.token());
            if (!parameterValue) {
                malformed = true;
                break;
            }
            challenge.parameters.emplace_back(std::move(name), std::move(*parameterValue));
            reader.skipSpace();
            if (reader.atEnd()) break;
            if (reader.peek() != ',') {
                malformed = true;
                break;
            }
            // After the comma comes either another parameter or the next challenge.
            reader.skipSpaceAndCommas();
        }
        challenges.push_back(std::move(challenge));
        if (malformed) break;
    }
    return challenges;
}
