#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>

#include "AudioFixtures.h"
#include "foundation/AtomicFile.h"
#include "foundation/ScratchFolder.h"
#include "logging/CapturingLogger.h"
#include "media/AudioConverter.h"
#include "media/MyAssetLoaderDelegate.h"

using foundation::Value;
using media::AudioConverter;
using media::MyAssetLoaderDelegate;

namespace {

// Sources given as URLs, read by an HTTP reader that stands in for the client: it serves one
// tone for every URL it is asked and records what it was asked.
class AudioURLSourceTest : public SharedHubTest {
protected:
    static void SetUpTestSuite() {
        sources_ = new foundationtest::ScratchFolder();
        ASSERT_TRUE(audiotest::makeTone(*sources_ / "tone.mp3", 12, "-metadata title=Evening"));
    }
    static void TearDownTestSuite() { delete sources_; }
    void SetUp() override {
        SharedHubTest::SetUp();
        MyAssetLoaderDelegate::setHTTPReader(
            [this](const std::string& url, std::uint64_t limit,
                   std::string* reason) -> std::optional<std::vector<std::uint8_t>> {
                std::lock_guard lock(mutex);
                asked.emplace_back(url, limit);
                if (refusal.empty()) return foundation::readFile(*sources_ / "tone.mp3");
                *reason = refusal;
                return std::nullopt;
            });
    }
    void TearDown() override {
        MyAssetLoaderDelegate::setHTTPReader(nullptr);
        SharedHubTest::TearDown();
    }
    std::string at(const std::string& name) const { return dir / name; }
    std::vector<std::string> logged() {
        LgLog::sharedInstance().flushLog();
        return logger->texts();
    }

    foundationtest::ScratchFolder dir;
    std::mutex mutex;
    std::vector<std::pair<std::string, std::uint64_t>> asked;
    std::string refusal;
    static foundationtest::ScratchFolder* sources_;
};
foundationtest::ScratchFolder* AudioURLSourceTest::sources_ = nullptr;

TEST_F(AudioURLSourceTest, HttpAndHttpsSourcesAreReadWholeWithinTheCapAndCut) {
    ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(
        "http://127.0.0.1:9/tone.mp3", at("cut.m4r"), 2, 7, "Web", nullptr));
    const Value probed = audiotest::probe(at("cut.m4r"));
    EXPECT_EQ(probed["streams"][0]["codec_name"], Value("aac"));
    EXPECT_EQ(probed["format"]["tags"]["major_brand"], Value("M4A "));
    EXPECT_NEAR(audiotest::probedDuration(probed), 5, 0.030);
    EXPECT_EQ(probed["format"]["tags"]["title"], Value("Web"));
    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile("HTTPS://Example.Org/a.mp3")["title"],
              Value("Evening"));
    EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::uint64_t>>{
                         {"http://127.0.0.1:9/tone.mp3", 256ull << 20},
                         {"HTTPS://Example.Org/a.mp3", 256ull << 20}}));
}

TEST_F(AudioURLSourceTest, OtherSchemesAndRefusedSourcesFailWithTheURLError) {
    refusal = "the response body is larger than 268435456 bytes";
    struct Case {
        std::string source;
        std::string reason;  // in the error's description
    };
    const Case cases[] = {
        {"http://127.0.0.1:9/big.mp3", refusal},
        {"ftp://127.0.0.1/tone.mp3", ""},
        {"gopher://127.0.0.1/tone.mp3", ""},
        {"data://text/plain,abc", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        std::optional<foundation::Error> error;
        EXPECT_FALSE(AudioConverter::convertToM4AError(c.source, at("x.m4a"), &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, "NSURLErrorDomain");
        EXPECT_EQ(error->code, 400);
        EXPECT_TRUE(error->userInfo.isNil());
        EXPECT_NE(error->message.find(c.reason), std::string::npos) << error->message;
        EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile(c.source), Value(foundation::Dictionary{}));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Only the http source reached the reader, once for each operation.
    EXPECT_EQ(asked.size(), 2u);

    // No HTTP client set up: refused the same way.
    MyAssetLoaderDelegate::setHTTPReader(nullptr);
    std::optional<foundation::Error> error;
    EXPECT_FALSE(
        AudioConverter::convertToM4AError("https://127.0.0.1:9/a.mp3", at("y.m4a"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 400);
}

// A failed range export logs its status and then its error, both as information; the
// whole-file export and the failures before an export log nothing.
TEST_F(AudioURLSourceTest, AFailedRangeExportLogsTheStatusItEndedInThenItsError) {
    lgLogLevel.store(LgLogLevelAll);
    const std::string source = *sources_ / "tone.mp3";
    // Refused before any audio is written: the export never ran.
    std::optional<foundation::Error> error;
    EXPECT_FALSE(AudioConverter::convertToM4RStartEndWithTitleError(source, at("none/x.m4r"), 1, 2,
                                                                    "T", &error));
    ASSERT_TRUE(error);
    const std::string refused = error->description();
    // Written whole, but it cannot take the destination's place: the export failed.
    std::filesystem::create_directory(at("folder.m4r"));
    std::filesystem::create_directory(at("folder.m4r/inside"));
    EXPECT_FALSE(AudioConverter::convertToM4RStartEndWithTitleError(source, at("folder.m4r"), 1, 2,
                                                                    "T", nullptr));
    EXPECT_FALSE(AudioConverter::convertToM4AError(source, at("none/x.m4a"), nullptr));
    EXPECT_FALSE(AudioConverter::convertToM4AError(source, at("folder.m4r"), nullptr));
    EXPECT_FALSE(AudioConverter::convertToM4RStartEndWithTitleError(at("missing.mp3"), at("x.m4r"),
                                                                    1, 2, "T", nullptr));
    EXPECT_FALSE(AudioConverter::convertToM4RStartEndWithTitleError(source, at("x.m4r"), 3, 2,
                                                                    "T", nullptr));
    const auto texts = logged();
    ASSERT_EQ(texts.size(), 4u) << testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "export status: 0");
    EXPECT_EQ(texts[1], refused);
    EXPECT_EQ(texts[2], "export status: 4");
    EXPECT_EQ(texts[3].rfind("AudioConverterErrorDomain 4: ", 0), 0u) << texts[3];
    for (const auto& record : logger->records()) EXPECT_EQ(record.flag(), LgLogFlagInfo);
}

}  // namespace
