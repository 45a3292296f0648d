#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/ScratchFolder.h"
#include "http/NetURLContents.h"
#include "media/AudioConverter.h"
#include "media/AudioFixtures.h"
#include "media/MyAssetLoaderDelegate.h"
#include "support/httpserver/LocalNginx.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Value;
using media::AudioConverter;
using testsupport::LocalNginx;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

// The converter with the HTTP client as the application wires it, over sources an nginx of
// the test's own serves.
class AudioSourceOverHttpTest : public testing::Test {
protected:
    void SetUp() override {
        if (LocalNginx::binary().empty()) GTEST_SKIP() << "no nginx binary";
        nginx = LocalNginx::start("");
        ASSERT_TRUE(nginx) << "nginx did not start";
        media::MyAssetLoaderDelegate::setHTTPReader(NetURLContents::read);
    }
    void TearDown() override { media::MyAssetLoaderDelegate::setHTTPReader(nullptr); }
    std::string at(const std::string& name) const { return dir / name; }

    std::unique_ptr<LocalNginx> nginx;
    foundationtest::ScratchFolder dir;
};

TEST_F(AudioSourceOverHttpTest, ARingtoneIsCutFromAServedFile) {
    ASSERT_TRUE(audiotest::makeTone(nginx->root() + "/tone.mp3", 20,
                                    "-metadata title=Evening -metadata artist=Tester"));
    const std::string url = nginx->url("/tone.mp3");
    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile(url)["title"], Value("Evening"));
    std::optional<foundation::Error> error;
    ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(url, at("ring.m4r"), 4.5, 12,
                                                                   "Served", &error))
        << error->message;
    const Value probed = audiotest::probe(at("ring.m4r"));
    EXPECT_EQ(probed["streams"][0]["codec_name"], Value("aac"));
    EXPECT_EQ(probed["format"]["format_name"], Value("mov,mp4,m4a,3gp,3g2,mj2"));
    EXPECT_EQ(probed["format"]["tags"]["major_brand"], Value("M4A "));
    EXPECT_NEAR(audiotest::probedDuration(probed), 7.5, 0.030);
    EXPECT_EQ(probed["format"]["tags"]["title"], Value("Served"));

    // A missing file is the URL error of a source that cannot be read.
    EXPECT_FALSE(
        AudioConverter::convertToM4AError(nginx->url("/none.mp3"), at("none.m4a"), &error));
    EXPECT_EQ(error->code, 400);
    EXPECT_NE(error->message.find("status 404"), std::string::npos) << error->message;
}

TEST_F(AudioSourceOverHttpTest, ASourceOverTheCapIsRefusedByItsAnnouncedLength) {
    // Sparse: nothing of it is written to disk, and little of it is ever sent.
    std::filesystem::resize_file(
        [&] {
            nginx->writeFile("big.mp3", "");
            return nginx->root() + "/big.mp3";
        }(),
        media::MyAssetLoaderDelegate::kMaxContentLength + 1);
    std::optional<foundation::Error> error;
    EXPECT_FALSE(AudioConverter::convertToM4AError(nginx->url("/big.mp3"), at("big.m4a"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSURLErrorDomain");
    EXPECT_EQ(error->code, 400);
    EXPECT_NE(error->message.find("larger than 268435456 bytes"), std::string::npos)
        << error->message;
    EXPECT_FALSE(std::filesystem::exists(at("big.m4a")));
}

// Bodies the server never finishes: a reader that waited for the whole body would fail only
// by its time-out, not by the size it refuses.
TEST(NetURLContents, ABodyPastTheLimitIsRefusedWithoutWaitingForItsEnd) {
    const std::string chunk(4096, 'a');
    const std::string size = fmt::format("{:x}", chunk.size());
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 8; ++i) chunked += size + "\r\n" + chunk + "\r\n";
    TestHttpServer server([&](const testsupport::ReceivedRequest& request) {
        ScriptedAnswer answer;
        if (request.target == "/announced") {
            answer.raw = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nfirst bytes";
        } else if (request.target == "/streamed") {
            answer.raw = chunked;
        } else {
            answer = ScriptedAnswer::ok("small body");
        }
        return answer;  // kept open: the rest never comes
    });
    for (const char* path : {"/announced", "/streamed"}) {
        SCOPED_TRACE(path);
        std::string reason;
        EXPECT_FALSE(NetURLContents::read(server.url(path), 16384, &reason));
        EXPECT_NE(reason.find("larger than 16384 bytes"), std::string::npos) << reason;
    }
    std::string reason;
    const auto small = NetURLContents::read(server.url("/small"), 10, &reason);
    ASSERT_TRUE(small) << reason;
    EXPECT_EQ(std::string(small->begin(), small->end()), "small body");
    EXPECT_FALSE(NetURLContents::read(server.url("/small"), 9, &reason));
}

}  // namespace
