#include "data/helpers/NSDataHashing.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <array>
#include <memory>
#include <stdexcept>

namespace NSData {
namespace {

// Bytes go into the library in bounded pieces so that no length is narrowed on its way,
// whatever the size of the whole.
template <typename Consumer>
void forEachPiece(std::span<const std::uint8_t> bytes, Consumer&& consume) {
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    while (!bytes.empty()) {
        const auto piece = bytes.first(std::min(bytes.size(), kPiece));
        consume(piece);
        bytes = bytes.subspan(piece.size());
    }
}

class DigestStream {
public:
    explicit DigestStream(const EVP_MD* type) : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), type, nullptr) != 1) {
            throw std::runtime_error("digest initialisation failed");
        }
    }

    void update(std::span<const std::uint8_t> bytes) {
        forEachPiece(bytes, [&](std::span<const std::uint8_t> piece) {
            if (EVP_DigestUpdate(context_.get(), piece.data(), piece.size()) != 1) {
                throw std::runtime_error("digest update failed");
            }
        });
    }

    foundation::Data finish() {
        std::array<std::uint8_t, EVP_MAX_MD_SIZE> out{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(context_.get(), out.data(), &length) != 1) {
            throw std::runtime_error("digest finalisation failed");
        }
        return foundation::Data(out.begin(), out.begin() + length);
    }

private:
    struct Free {
        void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> context_;
};

foundation::Data digest(const EVP_MD* type, std::span<const std::uint8_t> data) {
    DigestStream stream(type);
    stream.update(data);
    return stream.finish();
}

}  // namespace

struct MD5Stream::State {
    DigestStream stream{EVP_md5()};
};

MD5Stream::MD5Stream() : state_(std::make_unique<State>()) {}
MD5Stream::~MD5Stream() = default;

void MD5Stream::update(std::span<const std::uint8_t> bytes) {
    state_->stream.update(bytes);
}

foundation::Data MD5Stream::finish() {
    return state_->stream.finish();
}

foundation::Data MD5Hash(std::span<const std::uint8_t> data) {
    return digest(EVP_md5(), data);
}

foundation::Data SHA1Hash(std::span<const std::uint8_t> data) {
    return digest(EVP_sha1(), data);
}

foundation::Data SHA256Hash(std::span<const std::uint8_t> data) {
    return digest(EVP_sha256(), data);
}

foundation::Data HMACUsingSHA1_withSecretKey(std::span<const std::uint8_t> data,
                                             std::span<const std::uint8_t> key) {
    struct MacFree {
        void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
    };
    struct ContextFree {
        void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
    };
    std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    std::unique_ptr<EVP_MAC_CTX, ContextFree> context(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
    char digestName[] = "SHA1";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
        OSSL_PARAM_construct_end()};
    // A zero-length key still needs a valid pointer.
    static constexpr std::uint8_t kNoKey = 0;
    if (!context || EVP_MAC_init(context.get(), key.empty() ? &kNoKey : key.data(), key.size(),
                                 parameters) != 1) {
        throw std::runtime_error("HMAC initialisation failed");
    }
    forEachPiece(data, [&](std::span<const std::uint8_t> piece) {
        if (EVP_MAC_update(context.get(), piece.data(), piece.size()) != 1) {
            throw std::runtime_error("HMAC update failed");
        }
    });
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> out{};
    std::size_t length = 0;
    if (EVP_MAC_final(context.get(), out.data(), &length, out.size()) != 1) {
        throw std::runtime_error("HMAC finalisation failed");
    }
    return foundation::Data(out.begin(), out.begin() + length);
}

}  // namespace NSData
