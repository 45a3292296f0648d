#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "SchemeFixtures.h"
#include "content/InflatedBuffer.h"
#include "content/ResourcePack.h"
#include "content/StaticFileResponse.h"
#include "foundation/ScratchFolder.h"

using namespace contenttest;
using content::StaticFileResponse;

namespace {

constexpr std::size_t kSignatureLengthOffset = 5;
constexpr std::size_t kSignatureOffset = 7;

std::size_t signatureLength(const foundation::Data& pack) {
    return std::size_t(pack[kSignatureLengthOffset] | (pack[kSignatureLengthOffset + 1] << 8));
}

class ResourcePackTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StaticFileResponse::initializeWithData(makePack(sampleSite()), "pelmor"));
    }
};

TEST(ResourcePackCipher, RoundTripsAndEmptyPasswordKeepsData) {
    const foundation::Data original{'a', 'b', 0, 255, 'z', 'q', 'r'};
    foundation::Data data = original;
    content::ResourcePack::cipherdata(data, "pelmor");
    EXPECT_NE(data, original);
    content::ResourcePack::cipherdata(data, "pelmor");
    EXPECT_EQ(data, original);
    content::ResourcePack::cipherdata(data, "");
    EXPECT_EQ(data, original);
}

// The body is deciphered in pieces: every password length and piece boundary must give
// what a byte-by-byte XOR and a whole-body inflate give.
TEST(ResourcePackCipher, PiecesMatchTheWholeForAnyPasswordLength) {
    foundation::Data raw(700'000);
    std::uint32_t seed = 12345;
    for (auto& byte : raw) byte = std::uint8_t((seed = seed * 1103515245 + 12345) >> 24);
    const foundation::Data body = packtool::gzip(raw);
    for (const std::string& password :
         std::vector<std::string>{"p", "pelmor", "seven77", std::string(4099, 'k')}) {
        foundation::Data enciphered = body;
        content::ResourcePack::cipherdata(enciphered, password);
        for (std::size_t i = 0; i < body.size(); ++i) {
            ASSERT_EQ(enciphered[i], body[i] ^ std::uint8_t(password[i % password.size()]))
                << password.size() << " at " << i;
        }
        content::ResourcePack::Index index;
        index.cipheredBody = enciphered;
        EXPECT_EQ(content::ResourcePack::signedDigestOfCipheredBody(index, password),
                  content::ResourcePack::signedDigest({}, body));
        EXPECT_EQ(content::ResourcePack::inflateCipheredBody(index, password, raw.size()), raw);
        EXPECT_FALSE(content::ResourcePack::inflateCipheredBody(index, password, raw.size() - 1));
        EXPECT_FALSE(content::ResourcePack::inflateCipheredBody(index, password, raw.size() + 1));
    }
}

// Inflating into room of its own: the member must fill it exactly.
TEST(ResourcePackCipher, InflatesIntoExactRoomOnly) {
    foundation::Data raw(600'000);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = std::uint8_t(i * 7 / 5);
    foundation::Data enciphered = packtool::gzip(raw);
    content::ResourcePack::cipherdata(enciphered, "pelmor");
    content::ResourcePack::Index index;
    index.cipheredBody = enciphered;

    foundation::Data room(raw.size(), 0xAA);
    ASSERT_TRUE(content::ResourcePack::inflateCipheredBodyInto(index, "pelmor", room));
    EXPECT_EQ(room, raw);
    foundation::Data shorter(raw.size() - 1);
    EXPECT_FALSE(content::ResourcePack::inflateCipheredBodyInto(index, "pelmor", shorter));
    foundation::Data longer(raw.size() + 1);
    EXPECT_FALSE(content::ResourcePack::inflateCipheredBodyInto(index, "pelmor", longer));
}

TEST(ResourcePackInflatedBuffer, HoldsExactlyTheSizeAskedForAndEveryByteOfIt) {
    EXPECT_TRUE(content::InflatedBuffer(0).bytes().empty());
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{4096}, std::size_t{(2u << 20) + 3}}) {
        content::InflatedBuffer buffer(size);
        const auto bytes = buffer.bytes();
        ASSERT_EQ(bytes.size(), size);
        std::fill(bytes.begin(), bytes.end(), std::uint8_t(size));
        EXPECT_EQ(bytes.front(), std::uint8_t(size));
        EXPECT_EQ(bytes.back(), std::uint8_t(size));
    }
}

TEST(ResourcePackWriter, FolderPackedAndReadBackGivesTheSameFiles) {
    foundationtest::ScratchFolder folder;
    std::filesystem::create_directories(folder / "img/icons");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"index.html", "<html></html>"},
        {"img/icons/a.png", std::string("\x89PNG\0\1", 6)},
        {"empty.txt", ""},
        {"img/b.svg", "<svg/>"}};
    for (const auto& [name, contents] : files) {
        ASSERT_TRUE(foundation::writeFileAtomically(
            folder / name, foundation::Data(contents.begin(), contents.end())));
    }
    const auto pack = makePack(packtool::collectFolder(folder.path()));
    const auto layout = content::ResourcePack::parse(pack, "pelmor");
    ASSERT_TRUE(layout);
    ASSERT_EQ(layout->records.size(), files.size());
    ASSERT_TRUE(StaticFileResponse::initializeWithData(pack, "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), files.size());
    for (const auto& [name, contents] : files) {
        EXPECT_TRUE(StaticFileResponse::test("/" + name)) << name;
    }
}

TEST_F(ResourcePackTest, DamagedPacksAreRefusedAndTheTableKept) {
    const auto good = makePack({file("index.html", "x"), file("other.html", "yy")});
    const std::size_t sigEnd = kSignatureOffset + signatureLength(good);
    const std::vector<std::pair<const char*, std::function<foundation::Data()>>> cases = {
        {"one body byte changed",
         [&] {
             auto p = good;
             p.back() ^= 1;
             return p;
         }},
        {"bad magic",
         [&] {
             auto p = good;
             p[2] = 'X';
             return p;
         }},
        {"no data", [] { return foundation::Data{}; }},
        {"short header", [&] { return foundation::Data(good.begin(), good.begin() + 6); }},
        {"empty signature",
         [&] {
             foundation::Data p(good.begin(), good.begin() + kSignatureLengthOffset);
             p.push_back(0);
             p.push_back(0);
             p.insert(p.end(), good.begin() + std::ptrdiff_t(sigEnd), good.end());
             return p;
         }},
        {"body cut short", [&] { return foundation::Data(good.begin(), good.end() - 3); }},
        {"records overrun the body",
         [&] {
             return packtool::assembleResourcePack({{"index.html", 1}, {"big", 1000}},
                                                   packtool::gzip({'a', 'b'}), "pelmor",
                                                   packPrivateKey());
         }},
        {"signed body that does not inflate",
         [&] {
             return packtool::assembleResourcePack({{"index.html", 1}}, {1, 2, 3, 4, 5}, "pelmor",
                                                   packPrivateKey());
         }},
        {"wrong password", [&] { return good; }},
    };
    for (const auto& [name, make] : cases) {
        const std::string password = std::string(name) == "wrong password" ? "other" : "pelmor";
        EXPECT_FALSE(StaticFileResponse::initializeWithData(make(), password)) << name;
        EXPECT_EQ(StaticFileResponse::fileCount(), sampleSite().size()) << name;
        EXPECT_TRUE(StaticFileResponse::test("/css/site.css")) << name;
    }
}

// The file table is signed with the body: names and sizes cannot be moved around in a
// signed pack, and sizes that do not add up to the body are refused even when signed.
TEST_F(ResourcePackTest, ChangedOrInconsistentFileTablesAreRefused) {
    const auto good = makePack({file("a.html", "x"), file("b.html", "yy")});
    // The table: body length, count, then per file size, name length and 6 name bytes.
    const std::size_t first = kSignatureOffset + signatureLength(good) + 8;
    const std::size_t second = first + 4 + 2 + 6;
    auto swapped = [&](std::size_t offset, std::size_t length) {
        auto p = good;
        std::swap_ranges(p.begin() + std::ptrdiff_t(first + offset),
                         p.begin() + std::ptrdiff_t(first + offset + length),
                         p.begin() + std::ptrdiff_t(second + offset));
        return p;
    };
    const std::vector<std::pair<const char*, foundation::Data>> cases = {
        {"two names swapped", swapped(6, 6)},
        {"two sizes swapped", swapped(0, 4)},
        {"signed sizes short of the body",
         packtool::assembleResourcePack({{"index.html", 1}}, packtool::gzip({'a', 'b'}), "pelmor",
                                        packPrivateKey())},
        {"signed count above the records",
         [&] {
             auto p = good;
             p[first - 4] = 3;
             return p;
         }()},
    };
    for (const auto& [name, pack] : cases) {
        EXPECT_FALSE(StaticFileResponse::initializeWithData(pack, "pelmor")) << name;
        EXPECT_EQ(StaticFileResponse::fileCount(), sampleSite().size()) << name;
    }
    ASSERT_TRUE(StaticFileResponse::initializeWithData(good, "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), 2u);
}

TEST_F(ResourcePackTest, ReversedSignatureLoads) {
    auto pack = makePack({file("index.html", "reversed")});
    std::reverse(pack.begin() + kSignatureOffset,
                 pack.begin() + std::ptrdiff_t(kSignatureOffset + signatureLength(pack)));
    EXPECT_TRUE(StaticFileResponse::initializeWithData(pack, "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), 1u);
}

TEST_F(ResourcePackTest, HugeFileCountInAShortPackEndsAtTheData) {
    auto pack = makePack({file("index.html", "x")});
    const std::size_t countAt = kSignatureOffset + signatureLength(pack) + 4;
    pack[countAt + 3] = 0x7f;  // about 2^31 records promised
    EXPECT_FALSE(StaticFileResponse::initializeWithData(pack, "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), sampleSite().size());
}

TEST_F(ResourcePackTest, EmptyPackLoadsAndLeavesRootUnclaimed) {
    ASSERT_TRUE(StaticFileResponse::initializeWithData(makePack({}), "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), 0u);
    EXPECT_FALSE(StaticFileResponse::test("/"));
}

// A name given twice is the later record's file; each record's bytes still take their
// place in the body, so the files after the first of the two keep their own.
TEST_F(ResourcePackTest, TheLaterOfTwoRecordsOfOneNameWins) {
    ASSERT_TRUE(StaticFileResponse::initializeWithData(
        makePack({file("a.txt", "first"), file("b.txt", "bee"), file("a.txt", "second!"),
                  file("c.txt", "sea")}),
        "pelmor"));
    EXPECT_EQ(StaticFileResponse::fileCount(), 3u);
    const auto served = [](const std::string& name) {
        auto task = std::make_shared<RecordingTask>("myapp://x/" + name);
        StaticFileResponse().handle(task->request(), task, nullptr);
        return task->body();
    };
    EXPECT_EQ(served("a.txt"), "second!");
    EXPECT_EQ(served("b.txt"), "bee");
    EXPECT_EQ(served("c.txt"), "sea");
}

}  // namespace
