#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/ScratchFolder.h"
#include "http/NetDataCompressor.h"
#include "http/NetDataDecompressor.h"
#include "http/NetErrors.h"

using foundation::Data;

namespace {

constexpr std::size_t Chunk = 262144;

// Half random (incompressible) and half repeated text, so both zlib paths are exercised.
Data sample(std::size_t size, std::uint32_t seed = 7) {
    Data data(size);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = (i / 4096) % 2 == 0 ? static_cast<std::uint8_t>(random())
                                      : static_cast<std::uint8_t>("orvandel "[i % 9]);
    }
    return data;
}

void writeFile(const std::string& path, const Data& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

Data readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Inflates through zlib's own gzip reader: an independent check that the file is complete.
std::optional<Data> gunzipWithZlib(const std::string& path) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    Data result;
    std::uint8_t buffer[65536];
    int n;
    while ((n = gzread(file, buffer, sizeof buffer)) > 0)
        result.insert(result.end(), buffer, buffer + n);
    int errnum = 0;
    gzerror(file, &errnum);
    bool ok = n == 0 && errnum == Z_OK;
    gzclose(file);
    if (!ok) return std::nullopt;
    return result;
}

Data zlibWrapped(const Data& input) {
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    Data output(size);
    EXPECT_EQ(compress2(output.data(), &size, input.data(), static_cast<uLong>(input.size()), 6),
              Z_OK);
    output.resize(size);
    return output;
}

class ZlibSizes : public testing::TestWithParam<std::size_t> {};

}  // namespace

TEST_P(ZlibSizes, MemoryRoundTripMakesGzipThatInflatesBack) {
    Data input = sample(GetParam());
    foundation::Error error;
    auto compressed = NetDataCompressor::compressData(input, &error);
    if (input.empty()) {
        // Nothing to compress gives nothing, and no error.
        EXPECT_FALSE(compressed);
        EXPECT_TRUE(error.message.empty());
        return;
    }
    ASSERT_TRUE(compressed) << error.message;
    ASSERT_GE(compressed->size(), 2u);
    EXPECT_EQ((*compressed)[0], 0x1F);
    EXPECT_EQ((*compressed)[1], 0x8B);
    auto inflated = NetDataDecompressor::uncompressData(*compressed, &error);
    ASSERT_TRUE(inflated) << error.message;
    EXPECT_EQ(*inflated, input);
}

TEST_P(ZlibSizes, FileRoundTripWritesCompleteGzip) {
    foundationtest::ScratchFolder folder;
    Data input = sample(GetParam(), 11);
    writeFile(folder / "plain", input);
    foundation::Error error;
    ASSERT_TRUE(
        NetDataCompressor::compressDataFromFile(folder / "plain", folder / "packed.gz", &error))
        << error.message;
    auto independent = gunzipWithZlib(folder / "packed.gz");
    ASSERT_TRUE(independent) << "gzip stream not finished";
    EXPECT_EQ(*independent, input);
    ASSERT_TRUE(
        NetDataDecompressor::uncompressDataFromFile(folder / "packed.gz", folder / "back", &error))
        << error.message;
    EXPECT_EQ(readFile(folder / "back"), input);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ZlibSizes,
                         testing::Values(0, 1, 2, 100, Chunk - 1, Chunk, Chunk + 1, 2 * Chunk,
                                         3 * Chunk + 17));

TEST(Zlib, AnEmptyFileInflatesToAnEmptyFile) {
    foundationtest::ScratchFolder folder;
    writeFile(folder / "empty.gz", Data{});
    writeFile(folder / "back", Data{'o', 'l', 'd'});
    foundation::Error error;
    EXPECT_TRUE(
        NetDataDecompressor::uncompressDataFromFile(folder / "empty.gz", folder / "back", &error))
        << error.message;
    EXPECT_TRUE(readFile(folder / "back").empty());
}

TEST(Zlib, ChunkedInflationMatchesOneCallForAnySplit) {
    Data input = sample(700000, 3);
    auto compressed = NetDataCompressor::compressData(input, nullptr);
    ASSERT_TRUE(compressed);
    std::mt19937 random(42);
    for (std::size_t maxPiece :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{100000}}) {
        NetDataDecompressor decompressor;
        ASSERT_FALSE(decompressor.setupStream());
        Data joined;
        std::size_t at = 0;
        while (at < compressed->size()) {
            std::size_t piece =
                std::min<std::size_t>(1 + random() % maxPiece, compressed->size() - at);
            foundation::Error error;
            auto out = decompressor.uncompressBytes(compressed->data() + at, piece, &error);
            ASSERT_TRUE(out) << error.message;
            joined.insert(joined.end(), out->begin(), out->end());
            at += piece;
        }
        EXPECT_TRUE(decompressor.streamEnded()) << maxPiece;
        EXPECT_EQ(joined, input) << "pieces up to " << maxPiece;
    }
}

TEST(Zlib, ChunkedCompressionOfTinyPiecesInflatesBack) {
    Data input = sample(50000, 5);
    NetDataCompressor compressor;
    ASSERT_FALSE(compressor.setupStream());
    Data packed;
    for (std::size_t at = 0; at < input.size(); at += 1) {
        foundation::Error error;
        auto out = compressor.compressBytes(input.data() + at, 1, &error, at + 1 == input.size());
        ASSERT_TRUE(out) << error.message;
        packed.insert(packed.end(), out->begin(), out->end());
    }
    EXPECT_TRUE(compressor.streamFinished());
    auto inflated = NetDataDecompressor::uncompressData(packed, nullptr);
    ASSERT_TRUE(inflated);
    EXPECT_EQ(*inflated, input);
}

TEST(Zlib, HighlyCompressedInputInflatesWholeInOneCall) {
    Data zeros(8 * 1024 * 1024, 0);
    auto compressed = NetDataCompressor::compressData(zeros, nullptr);
    ASSERT_TRUE(compressed);
    ASSERT_LT(compressed->size(), 64u * 1024);
    auto inflated = NetDataDecompressor::uncompressData(*compressed, nullptr);
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated->size(), zeros.size());
}

TEST(Zlib, ZlibHeaderIsRecognisedBesideGzip) {
    Data input = sample(10000);
    auto inflated = NetDataDecompressor::uncompressData(zlibWrapped(input), nullptr);
    ASSERT_TRUE(inflated);
    EXPECT_EQ(*inflated, input);
}

TEST(Zlib, EmptyChunkGivesNothingAndNoError) {
    NetDataDecompressor decompressor;
    foundation::Error error;
    EXPECT_FALSE(decompressor.uncompressBytes(nullptr, 0, &error));
    EXPECT_TRUE(error.message.empty());
    EXPECT_FALSE(NetDataDecompressor::uncompressData({}, &error));
    EXPECT_TRUE(error.message.empty());
    // The stream goes on with the next chunk as if the empty one had not been.
    const Data input = sample(1000);
    auto packed = NetDataCompressor::compressData(input, nullptr);
    ASSERT_TRUE(packed);
    auto out = decompressor.uncompressBytes(packed->data(), packed->size(), &error);
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, input);
}

TEST(Zlib, EmptyChunkCompressesToNothingAndTheStreamGoesOn) {
    NetDataCompressor compressor;
    foundation::Error error;
    EXPECT_FALSE(compressor.compressBytes(nullptr, 0, &error, true));
    EXPECT_TRUE(error.message.empty());
    EXPECT_FALSE(compressor.streamFinished());
    const Data input = sample(1000);
    auto packed = compressor.compressBytes(input.data(), input.size(), &error, true);
    ASSERT_TRUE(packed) << error.message;
    EXPECT_EQ(NetDataDecompressor::uncompressData(*packed, nullptr), input);
}

TEST(Zlib, DataThatIsNotCompressedFailsWithCode11) {
    const std::string garbage = "this is certainly not a deflate stream";
    foundation::Error error;
    auto out = NetDataDecompressor::uncompressData(
        {reinterpret_cast<const std::uint8_t*>(garbage.data()), garbage.size()}, &error);
    EXPECT_FALSE(out);
    EXPECT_EQ(error.domain, NetworkRequestErrorDomain);
    EXPECT_EQ(error.code, NetCompressionError);
    EXPECT_EQ(error.message,
              "Decompression of data failed with code " + std::to_string(Z_DATA_ERROR));
}

TEST(Zlib, FileErrorsLeaveTheDestinationAsItWas) {
    foundationtest::ScratchFolder folder;
    const Data previous = {'o', 'l', 'd'};
    auto packed = NetDataCompressor::compressData(sample(300000), nullptr);
    ASSERT_TRUE(packed);
    writeFile(folder / "truncated.gz", Data(packed->begin(), packed->begin() + packed->size() / 2));
    writeFile(folder / "garbage.gz", sample(1000));

    struct Case {
        const char* name;
        bool compress;
        std::string source;
        std::string destination;
        std::string message;
        std::string underlying = {};  // the system's text, under the usual key
    };
    const std::string missing = folder / "missing";
    const std::vector<Case> cases = {
        {"missing source", true, missing, folder / "dest",
         "Compression of " + missing + " failed the file does not exist"},
        {"missing source, inflating", false, missing, folder / "dest",
         "Decompression of " + missing + " failed the file does not exist"},
        {"truncated gzip", false, folder / "truncated.gz", folder / "dest",
         "Decompression of data failed with code " + std::to_string(Z_BUF_ERROR)},
        {"not gzip", false, folder / "garbage.gz", folder / "dest",
         "Decompression of data failed with code " + std::to_string(Z_DATA_ERROR)},
        {"no such folder", true, folder / "truncated.gz", folder / "none/dest",
         "Compression of " + (folder / "truncated.gz") +
             " failed because we were to create a file at " + (folder / "none/dest"),
         std::strerror(ENOENT)},
        {"source is a folder", true, folder / "", folder / "dest",
         "Compression of " + (folder / "") +
             " failed because we were unable to read from the source data file",
         std::strerror(EISDIR)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(folder / "dest", previous);
        foundation::Error error;
        bool ok =
            c.compress
                ? NetDataCompressor::compressDataFromFile(c.source, c.destination, &error)
                : NetDataDecompressor::uncompressDataFromFile(c.source, c.destination, &error);
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.code, NetCompressionError);
        EXPECT_EQ(error.message, c.message);
        const std::string* underlying = error.userInfo["NSUnderlyingError"].string();
        EXPECT_EQ(underlying ? *underlying : "", c.underlying);
        EXPECT_EQ(readFile(folder / "dest"), previous);
    }
    // No temporary files are left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 3u);
}
