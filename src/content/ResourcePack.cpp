#include "content/ResourcePack.h"

#include <cstring>

#include "data/helpers/NSDataHashing.h"
#include "foundation/Utf8.h"

namespace content::ResourcePack {
namespace {

// Reads front to back. Integers that come up short read as 0 and leave the cursor at the
// end; byte runs that come up short fail.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - pos_; }

    template <typename T>
    T integer() {
        if (remaining() < sizeof(T)) {
            pos_ = bytes_.size();
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v |= std::uint64_t(bytes_[pos_ + i]) << (8 * i);
        }
        pos_ += sizeof(T);
        return static_cast<T>(v);
    }

    std::size_t position() const { return pos_; }

    std::optional<foundation::Data> run(std::int64_t length) {
        if (length < 0 || std::uint64_t(length) > remaining()) return std::nullopt;
        foundation::Data out(bytes_.begin() + std::ptrdiff_t(pos_),
                             bytes_.begin() + std::ptrdiff_t(pos_ + std::size_t(length)));
        pos_ += std::size_t(length);
        return out;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

void cipherdata(std::span<std::uint8_t> data, std::string_view password) {
    if (password.empty()) return;
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] ^= static_cast<std::uint8_t>(password[i % password.size()]);
    }
}

foundation::Data signedDigest(std::span<const std::uint8_t> table,
                              std::span<const std::uint8_t> body) {
    foundation::Data message(table.begin(), table.end());
    message.insert(message.end(), body.begin(), body.end());
    return NSData::MD5Hash(message);
}

std::optional<Layout> parse(std::span<const std::uint8_t> pack, std::string_view password) {
    if (pack.size() < kMagicLength || std::memcmp(pack.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    Cursor in(pack.subspan(kMagicLength));
    if (in.remaining() < 2) return std::nullopt;
    Layout layout;
    auto signature = in.run(in.integer<std::int16_t>());
    if (!signature) return std::nullopt;
    layout.signature = std::move(*signature);

    const std::size_t tableStart = in.position();
    const auto bodyLength = in.integer<std::uint32_t>();
    const auto fileCount = in.integer<std::int32_t>();
    if (fileCount < 0) return std::nullopt;
    std::uint64_t offset = 0;
    // Records past the end of the file would all read as empty names of size 0; stopping
    // there keeps a huge count in a short file from running for ever.
    for (std::int32_t i = 0; i < fileCount && !in.atEnd(); ++i) {
        const auto size = in.integer<std::uint32_t>();
        auto name = in.run(in.integer<std::int16_t>());
        if (!name) return std::nullopt;
        cipherdata(*name, password);
        std::string text(name->begin(), name->end());
        if (!foundation::utf8::isValid(text)) return std::nullopt;
        layout.records.push_back({std::move(text), offset, size});
        offset += size;
    }

    if (layout.records.size() != std::size_t(fileCount)) return std::nullopt;
    const auto afterMagic = pack.subspan(kMagicLength);
    layout.table.assign(afterMagic.begin() + std::ptrdiff_t(tableStart),
                        afterMagic.begin() + std::ptrdiff_t(in.position()));

    auto body = in.run(bodyLength);
    if (!body) return std::nullopt;
    cipherdata(*body, password);
    layout.body = std::move(*body);
    return layout;
}

}  // namespace content::ResourcePack
