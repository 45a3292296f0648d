#include "content/ResourcePack.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "data/ZipHelper/GzipInflate.h"
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

    std::optional<std::span<const std::uint8_t>> span(std::int64_t length) {
        if (length < 0 || std::uint64_t(length) > remaining()) return std::nullopt;
        auto out = bytes_.subspan(pos_, std::size_t(length));
        pos_ += std::size_t(length);
        return out;
    }

    std::optional<foundation::Data> run(std::int64_t length) {
        auto bytes = span(length);
        if (!bytes) return std::nullopt;
        return foundation::Data(bytes->begin(), bytes->end());
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Deflate inflates at most this many times its size.
constexpr std::uint64_t kMaximumRatio = 1032;

// Whole passwords, so that every run starts at the password's first byte.
std::size_t keyRunLength(std::string_view password, std::size_t within) {
    return std::max(password.size(), within - within % password.size());
}

// XOR of `in` with a run of whole passwords into `out` (which may be `in`), sixteen bytes
// at a time: `key` holds the run, at least `length` bytes of it.
void xorWithKey(const std::uint8_t* in, std::uint8_t* out, const std::uint8_t* key,
                std::size_t length) {
    using Block = std::uint8_t __attribute__((vector_size(16)));
    std::size_t i = 0;
    for (; i + sizeof(Block) <= length; i += sizeof(Block)) {
        Block a, k;
        std::memcpy(&a, in + i, sizeof a);
        std::memcpy(&k, key + i, sizeof k);
        a ^= k;
        std::memcpy(out + i, &a, sizeof a);
    }
    for (; i < length; ++i) out[i] = in[i] ^ key[i];
}

// Deciphers `in` into `out` (the same length; may be the same bytes), the password starting
// at its first byte.
void decipherInto(std::span<const std::uint8_t> in, std::uint8_t* out, std::string_view password) {
    if (password.empty()) {
        if (out != in.data() && !in.empty()) std::memmove(out, in.data(), in.size());
        return;
    }
    std::array<std::uint8_t, 4096> key{};
    if (password.size() > key.size()) {
        for (std::size_t i = 0, k = 0; i < in.size(); ++i) {
            out[i] = in[i] ^ static_cast<std::uint8_t>(password[k]);
            if (++k == password.size()) k = 0;
        }
        return;
    }
    const std::size_t runLength = std::min(in.size(), keyRunLength(password, key.size()));
    for (std::size_t i = 0, k = 0; i < runLength; ++i) {
        key[i] = static_cast<std::uint8_t>(password[k]);
        if (++k == password.size()) k = 0;
    }
    for (std::size_t done = 0; done < in.size(); done += runLength) {
        const std::size_t n = std::min(runLength, in.size() - done);
        xorWithKey(in.data() + done, out + done, key.data(), n);
    }
}

// Hands the deciphered body to `take` in pieces of a bounded buffer, never whole; `take`
// answers whether it wants more.
template <typename Take>
void forEachDecipheredPiece(std::span<const std::uint8_t> ciphered, std::string_view password,
                            Take&& take) {
    if (password.empty()) {
        if (!ciphered.empty()) take(ciphered);
        return;
    }
    std::vector<std::uint8_t> buffer(keyRunLength(password, 256 * 1024));
    for (std::size_t done = 0; done < ciphered.size();) {
        const std::size_t n = std::min(buffer.size(), ciphered.size() - done);
        decipherInto(ciphered.subspan(done, n), buffer.data(), password);
        if (!take(std::span<const std::uint8_t>(buffer.data(), n))) return;
        done += n;
    }
}

}  // namespace

void cipherdata(std::span<std::uint8_t> data, std::string_view password) {
    decipherInto(data, data.data(), password);
}

foundation::Data signedDigest(std::span<const std::uint8_t> table,
                              std::span<const std::uint8_t> body) {
    foundation::Data message(table.begin(), table.end());
    message.insert(message.end(), body.begin(), body.end());
    return NSData::MD5Hash(message);
}

std::optional<Index> parseIndex(std::span<const std::uint8_t> pack, std::string_view password) {
    if (pack.size() < kMagicLength || std::memcmp(pack.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    Cursor in(pack.subspan(kMagicLength));
    if (in.remaining() < 2) return std::nullopt;
    Index index;
    auto signature = in.run(in.integer<std::int16_t>());
    if (!signature) return std::nullopt;
    index.signature = std::move(*signature);

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
        index.records.push_back({std::move(text), offset, size});
        offset += size;
    }

    if (index.records.size() != std::size_t(fileCount)) return std::nullopt;
    index.table = pack.subspan(kMagicLength + tableStart, in.position() - tableStart);

    auto body = in.span(bodyLength);
    if (!body) return std::nullopt;
    index.cipheredBody = *body;
    return index;
}

std::optional<Layout> parse(std::span<const std::uint8_t> pack, std::string_view password) {
    auto index = parseIndex(pack, password);
    if (!index) return std::nullopt;
    Layout layout;
    layout.signature = std::move(index->signature);
    layout.table.assign(index->table.begin(), index->table.end());
    layout.body.assign(index->cipheredBody.begin(), index->cipheredBody.end());
    cipherdata(layout.body, password);
    layout.records = std::move(index->records);
    return layout;
}

foundation::Data signedDigestOfCipheredBody(const Index& index, std::string_view password) {
    NSData::MD5Stream digest;
    digest.update(index.table);
    forEachDecipheredPiece(index.cipheredBody, password, [&](std::span<const std::uint8_t> piece) {
        digest.update(piece);
        return true;
    });
    return digest.finish();
}

bool inflateCipheredBodyInto(const Index& index, std::string_view password,
                             std::span<std::uint8_t> output) {
    // No body of this length inflates to more; nor is it worth making room for.
    if (index.cipheredBody.empty() || output.size() / kMaximumRatio > index.cipheredBody.size()) {
        return false;
    }
    ziphelper::GzipInflateStream inflater;
    if (!inflater.ready()) return false;
    z_stream& stream = inflater.get();
    // Once the output is full, one spare byte of room shows a member that is longer.
    std::uint8_t spare = 0;
    std::size_t written = 0;
    bool ended = false;
    bool failed = false;
    forEachDecipheredPiece(index.cipheredBody, password, [&](std::span<const std::uint8_t> piece) {
        stream.next_in = const_cast<Bytef*>(piece.data());
        stream.avail_in = static_cast<uInt>(piece.size());
        while (stream.avail_in > 0) {
            const bool full = written == output.size();
            const auto room =
                full ? uInt{1}
                     : static_cast<uInt>(std::min<std::size_t>(output.size() - written, UINT_MAX));
            stream.next_out = full ? &spare : output.data() + written;
            stream.avail_out = room;
            const int status = inflate(&stream, Z_NO_FLUSH);
            if (full && stream.avail_out == 0) {
                failed = true;
                return false;
            }
            if (!full) written += room - stream.avail_out;
            if (status == Z_STREAM_END) {
                ended = true;
                return false;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) {
                failed = true;
                return false;
            }
        }
        return true;
    });
    return !failed && ended && written == output.size();
}

std::optional<foundation::Data> inflateCipheredBody(const Index& index, std::string_view password,
                                                    std::uint64_t inflatedSize) {
    if (index.cipheredBody.empty() || inflatedSize / kMaximumRatio > index.cipheredBody.size()) {
        return std::nullopt;
    }
    foundation::Data output(static_cast<std::size_t>(inflatedSize));
    if (!inflateCipheredBodyInto(index, password, output)) return std::nullopt;
    return output;
}

}  // namespace content::ResourcePack
