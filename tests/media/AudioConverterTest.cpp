#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "AudioFixtures.h"
#include "content/CustomSchemeHandler.h"
#include "content/MyHttpURLResponse.h"
#include "content/RequestResponseHandler.h"
#include "content/SchemeFixtures.h"
#include "content/SchemeResponders.h"
#include "content/StaticFileResponse.h"
#include "content/ThreadPool.h"
#include "foundation/AtomicFile.h"
#include "foundation/OperationQueue.h"
#include "foundation/ScratchFolder.h"
#include "foundation/Url.h"
#include "media/AudioConverter.h"
#include "support/Latch.h"
#include "support/ValuePrinter.h"

using foundation::Value;
using media::AudioConverter;
namespace fs = std::filesystem;

namespace {

constexpr double kTolerance = 0.030;  // seconds

// Serves a file whose reading breaks off halfway, its head announcing the whole length.
class BreakingResponder : public content::RequestResponseHandler {
public:
    explicit BreakingResponder(std::string path) : path_(std::move(path)) {}

protected:
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<content::HTTPURLResponse> getResponse(const content::URLRequest& request,
                                                          content::SchemeTask&) override {
        auto response = std::make_shared<content::MyHttpURLResponse>(request.url, 200);
        const std::string bytes = foundationtest::contentsOf(path_);
        response->setValueForHeader(std::to_string(bytes.size()), "Content-Length");
        response->setValueForHeader("audio/mpeg", "Content-Type");
        auto half = std::make_shared<foundation::Data>(bytes.begin(), bytes.begin() + bytes.size() / 2);
        response->setBodyPieces([half, sent = false]() mutable -> std::optional<foundation::Data> {
            if (sent) return std::nullopt;
            sent = true;
            return *half;
        });
        return response;
    }

private:
    std::string path_;
};

// One 30-second source of each kind for the whole suite, made by the ffmpeg command.
class AudioConverterTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        sources_ = new foundationtest::ScratchFolder();
        ASSERT_TRUE(audiotest::makeTone(m4a(), 30,
                                        "-c:a aac -metadata title=Morning -metadata artist=Tester "
                                        "-metadata album=Fixtures -metadata track=3"));
        ASSERT_TRUE(
            audiotest::makeTone(mp3(), 30, "-metadata title=Evening -metadata artist=Tester"));
    }
    static void TearDownTestSuite() { delete sources_; }
    static std::string m4a() { return *sources_ / "tone.m4a"; }
    static std::string mp3() { return *sources_ / "tone.mp3"; }

    std::string at(const std::string& name) const { return dir / name; }
    std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The content server's responders, and one whose reading breaks off, once a process.
    static void registerResponders() {
        static std::once_flag once;
        std::call_once(once, [] {
            content::registerSchemeResponders();
            content::CustomSchemeHandler::addResponseHandlerClass(
                {"BreakingResponder", std::nullopt,
                 [](std::string_view p) { return p == "/broken.mp3"; },
                 [] { return std::make_shared<BreakingResponder>(mp3()); }});
        });
    }
    // The "/fetch" URL of a computer file, its path percent-encoded `times` times.
    static std::string localFileURL(std::string path, int times) {
        for (int i = 0; i < times; ++i) path = foundation::Url::percentEncode(path, "/");
        return "myapp://x/fetch?action=localfile&path=" + path;
    }

    foundationtest::ScratchFolder dir;
    static foundationtest::ScratchFolder* sources_;
};
foundationtest::ScratchFolder* AudioConverterTest::sources_ = nullptr;

// What ffprobe says of a written file: AAC in an M4A container, its duration and tags.
void expectM4A(const Value& probed, double duration, const Value& tags) {
    EXPECT_EQ(probed["format"]["format_name"], Value("mov,mp4,m4a,3gp,3g2,mj2"))
        << testing::PrintToString(probed);
    EXPECT_EQ(probed["format"]["tags"]["major_brand"], Value("M4A "));
    EXPECT_EQ(probed["streams"][0]["codec_name"], Value("aac"));
    EXPECT_EQ(probed["streams"].size(), 1u);
    EXPECT_NEAR(audiotest::probedDuration(probed), duration, kTolerance);
    for (const auto& [key, value] : *tags.dictionary())
        EXPECT_EQ(probed["format"]["tags"][key], value) << key;
}

}  // namespace

TEST_F(AudioConverterTest, TagInfoOfReadableAndUnreadableSources) {
    std::ofstream(at("noise.mp3")) << "not audio at all";
    for (const auto& [source, title] : {std::pair{m4a(), "Morning"}, std::pair{mp3(), "Evening"}}) {
        Value info = AudioConverter::getAudioTagInfoOfFile(source);
        EXPECT_NEAR(*info["duration"].real(), 30, 0.05) << source;
        info.dictionary()->erase("duration");
        EXPECT_EQ(info, Value::dict({{"title", title},
                                     {"protected", false},
                                     {"playable", true},
                                     {"exportable", true},
                                     {"composable", true},
                                     {"readable", true}}));
    }
    const Value unreadable = Value::dict({{"protected", false},
                                          {"playable", false},
                                          {"exportable", false},
                                          {"composable", false},
                                          {"readable", false},
                                          {"duration", 0.0}});
    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile(at("noise.mp3")), unreadable);
    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile(at("missing.m4a")), unreadable);
}

TEST_F(AudioConverterTest, WholeFileExportKeepsTheMetadata) {
    std::optional<foundation::Error> error;
    ASSERT_TRUE(AudioConverter::convertToM4AError(mp3(), at("whole.m4a"), &error));
    EXPECT_FALSE(error);
    expectM4A(audiotest::probe(at("whole.m4a")), 30,
              Value::dict({{"title", "Evening"}, {"artist", "Tester"}}));
    EXPECT_EQ(folderNames(), std::vector<std::string>{"whole.m4a"});
}

TEST_F(AudioConverterTest, RangesAreCutWithTheNewTitle) {
    struct Case {
        double start, end;
        std::string title;
        double duration;
        Value tags;
    };
    const Case cases[] = {
        {10, 0, "Cut", 20,
         Value::dict({{"title", "Cut"}, {"artist", "Tester"}, {"album", "Fixtures"}})},
        {0, 5.5, "Short", 5.5, Value::dict({{"title", "Short"}, {"artist", "Tester"}})},
        // An empty title keeps every tag, the track number too.
        {29, 0, "", 1, Value::dict({{"title", "Morning"}, {"track", "3"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::string out = at("cut.m4r");
        std::optional<foundation::Error> error;
        ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(m4a(), out, c.start, c.end,
                                                                       c.title, &error));
        const Value probed = audiotest::probe(out);
        expectM4A(probed, c.duration, c.tags);
        if (!c.title.empty()) {
            EXPECT_TRUE(probed["format"]["tags"]["track"].isNil());
        }
    }
    // The new title replaces a title; a source without one gets none, its other tags kept.
    ASSERT_TRUE(audiotest::makeTone(at("untitled.m4a"), 3, "-c:a aac -metadata artist=Tester"));
    ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(at("untitled.m4a"), at("t.m4r"),
                                                                   1, 0, "Named", nullptr));
    const Value probed = audiotest::probe(at("t.m4r"));
    expectM4A(probed, 2, Value::dict({{"artist", "Tester"}}));
    EXPECT_TRUE(probed["format"]["tags"]["title"].isNil()) << testing::PrintToString(probed);
}

// A cut holds the audio of its range as players count it, from the stream's first timestamp:
// the same samples ffmpeg cuts from that range, not shifted, not empty, not the whole file.
TEST_F(AudioConverterTest, CutsHoldTheAudioOfTheirRange) {
    // Vorbis whose timestamps begin at 100 s, and MP3 with the encoder delay in its header.
    ASSERT_TRUE(audiotest::makeChirp(at("late.ogg"), 30, "-c:a libvorbis -output_ts_offset 100"));
    ASSERT_TRUE(audiotest::makeChirp(at("delayed.mp3"), 30));
    struct Case {
        const char* source;
        double start, end;
        double duration;
    };
    const Case cases[] = {
        {"late.ogg", 0, 20, 20}, {"late.ogg", 10, 0, 20}, {"late.ogg", 3, 5, 2},
        {"delayed.mp3", 0, 2, 2}, {"delayed.mp3", 7, 9, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + std::to_string(c.start) + "-" +
                     std::to_string(c.end));
        std::optional<foundation::Error> error;
        ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(
            at(c.source), at("cut.m4r"), c.start, c.end, "Cut", &error));
        const auto cut = audiotest::decodedSamples(at("cut.m4r"));
        const auto reference =
            audiotest::decodedSamples(at(c.source), c.start, c.end > 0 ? c.end : 30);
        EXPECT_NEAR(cut.size() / 44100.0, c.duration, kTolerance);
        EXPECT_NEAR(reference.size() / 44100.0, c.duration, kTolerance);
        // A millisecond apart at most; the encoder delay alone is 25 ms.
        EXPECT_LE(std::abs(audiotest::offsetBetween(cut, reference, 2205)), 44);
    }
}

TEST_F(AudioConverterTest, FailuresKeepWhatWasThere) {
    registerResponders();
    std::ofstream(at("old.m4r")) << "old ringtone";
    std::ofstream(at("noise.mp3")) << "not audio at all";
    fs::copy_file(m4a(), at("source.m4a"));
    struct Case {
        std::string source, destination;
        double start, end;
        std::string message;
    };
    const Case cases[] = {
        {at("noise.mp3"), at("old.m4r"), 0, 0,
         "The audio in \"" + at("noise.mp3") + "\" cannot be read."},
        {at("source.m4a"), at("source.m4a"), 0, 0, "The destination is the source itself."},
        {at("source.m4a"), at("./source.m4a"), 5, 0, "The destination is the source itself."},
        {"file://" + at("source.m4a"), at("source.m4a"), 0, 0,
         "The destination is the source itself."},
        {"file://" + at("source%2Em4a"), at("source.m4a"), 5, 0,
         "The destination is the source itself."},
        // The page's own URL of a computer file, its path encoded twice or once.
        {localFileURL(at("source.m4a"), 2), at("source.m4a"), 0, 0,
         "The destination is the source itself."},
        {localFileURL(at("source.m4a"), 1), at("./source.m4a"), 5, 0,
         "The destination is the source itself."},
        {at("source.m4a"), at("none/x.m4r"), 5, 0,
         "\"" + at("none/x.m4r") + "\" cannot be written."},
        {at("source.m4a"), at("old.m4r"), -1, 0, "The range from -1 to 0 seconds is not valid."},
        {at("source.m4a"), at("old.m4r"), 10, 5, "The range from 10 to 5 seconds is not valid."},
        {at("source.m4a"), at("old.m4r"), 10, 10, "The range from 10 to 10 seconds is not valid."},
        {at("source.m4a"), at("old.m4r"), NAN, 0, "The range from nan to 0 seconds is not valid."},
        {at("source.m4a"), at("old.m4r"), 30, 0,
         "The start at 30 seconds is not within the audio."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::optional<foundation::Error> error;
        const bool whole = c.start == 0 && c.end == 0;
        EXPECT_FALSE(whole ? AudioConverter::convertToM4AError(c.source, c.destination, &error)
                           : AudioConverter::convertToM4RStartEndWithTitleError(
                                 c.source, c.destination, c.start, c.end, "T", &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message, c.message);
        EXPECT_EQ(foundationtest::contentsOf(at("old.m4r")), "old ringtone");
        EXPECT_EQ(fs::file_size(at("source.m4a")), fs::file_size(m4a()));
        EXPECT_EQ(folderNames(), (std::vector<std::string>{"noise.mp3", "old.m4r", "source.m4a"}));
    }
    // A good export replaces the old file.
    ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(m4a(), at("old.m4r"), 0, 2,
                                                                   "New", nullptr));
    expectM4A(audiotest::probe(at("old.m4r")), 2, Value::dict({{"title", "New"}}));
}

TEST_F(AudioConverterTest, AsynchronousExportAnswersOnceWhenDone) {
    const AudioConverter converter;
    for (const auto& source : {at("missing.m4a"), m4a()}) {
        testsupport::Latch done(1);
        std::vector<std::pair<bool, bool>> answers;  // completed, with an error
        converter.convertToM4RStartEndWithTitleCb(
            source, at("async.m4r"), 10, 12, "Async",
            [&](bool ok, const std::optional<foundation::Error>& error) {
                answers.emplace_back(ok, error.has_value());
                done.count_down();
            });
        done.wait();
        ThreadPool::async().waitUntilAllOperationsAreFinished();
        const bool good = source == m4a();
        EXPECT_EQ(answers, (std::vector<std::pair<bool, bool>>{{good, !good}}));
    }
    expectM4A(audiotest::probe(at("async.m4r")), 2, Value::dict({{"title", "Async"}}));
}

TEST_F(AudioConverterTest, MyappURLsAreReadThroughTheContentServer) {
    registerResponders();
    ASSERT_TRUE(content::StaticFileResponse::initializeWithData(
        contenttest::makePack({contenttest::file("tone.m4a", foundationtest::contentsOf(m4a()))}),
        "pelmor"));

    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile("myapp://x/tone.m4a")["title"],
              Value("Morning"));
    ASSERT_TRUE(AudioConverter::convertToM4RStartEndWithTitleError(
        "myapp://x/tone.m4a", at("url.m4r"), 20, 0, "From URL", nullptr));
    expectM4A(audiotest::probe(at("url.m4r")), 10, Value::dict({{"title", "From URL"}}));

    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile("myapp://x/none.m4a"),
              Value(foundation::Dictionary{}));
    std::optional<foundation::Error> error;
    EXPECT_FALSE(AudioConverter::convertToM4AError("myapp://x/none.m4a", at("none.m4a"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSURLErrorDomain");
    EXPECT_EQ(error->code, 400);

    // Half a file is no source, although what came would decode.
    EXPECT_EQ(AudioConverter::getAudioTagInfoOfFile("myapp://x/broken.mp3"),
              Value(foundation::Dictionary{}));
    error.reset();
    EXPECT_FALSE(
        AudioConverter::convertToM4AError("myapp://x/broken.mp3", at("broken.m4a"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSURLErrorDomain");
    EXPECT_FALSE(fs::exists(at("broken.m4a")));
}
