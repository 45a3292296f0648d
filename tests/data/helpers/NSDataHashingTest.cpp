#include <gtest/gtest.h>

#include <sys/mman.h>

#include "data/helpers/NSDataHashing.h"
#include "data/support/ByteHelpers.h"

namespace {

using datatest::bytes;
using datatest::hex;
using foundation::Data;

TEST(NSDataHashingTest, DigestsMatchPublishedVectors) {
    struct Case {
        std::string input;
        const char* md5;
        const char* sha1;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0",
         "c12252ceda8be8994d5fa0290a47231c1d16aae3"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "8215ef0796a20bcaaae116d3876c664a", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1, '\0'), "93b885adfe0da089cdf634904fd59f71",
         "5ba93c9db0cff93f52b521d7420e43f6eda2784f"},
    };
    for (const auto& c : cases) {
        const Data input = bytes(c.input);
        EXPECT_EQ(hex(NSData::MD5Hash(input)), c.md5) << c.input;
        EXPECT_EQ(hex(NSData::SHA1Hash(input)), c.sha1) << c.input;
    }
}

TEST(NSDataHashingTest, HmacSha1MatchesRfc2202) {
    struct Case {
        Data key;
        Data data;
        const char* mac;
    };
    const Case cases[] = {
        {Data(20, 0x0b), bytes("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {bytes("Jefe"), bytes("what do ya want for nothing?"),
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Data(20, 0xaa), Data(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        // Keys longer than the 64-byte block are hashed first.
        {Data(80, 0xaa), bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Data(), Data(), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(NSData::HMACUsingSHA1_withSecretKey(c.data, c.key)), c.mac);
    }
}

// More than 4 GiB of zeros, mapped without backing memory: a length narrowed to 32 bits
// would hash a single byte instead.
TEST(NSDataHashingTest, DigestOfMoreThanFourGibibytes) {
    const std::size_t size = (std::size_t{1} << 32) + 1;
    void* zeros =
        mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (zeros == MAP_FAILED) GTEST_SKIP() << "cannot map 4 GiB of address space";
    const std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(zeros), size);
    EXPECT_EQ(hex(NSData::SHA1Hash(data)), "e7d747b75f76e0e41e83b75bce4642816136304f");
    munmap(zeros, size);
}

}  // namespace
