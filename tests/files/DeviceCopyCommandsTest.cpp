#include <gtest/gtest.h>

#include "content/ThreadPool.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>

#include <fmt/format.h>

#include "DeviceFolderFixture.h"
#include "foundation/DispatchGroup.h"
#include "foundation/QuitGate.h"
#include "support/MainLoop.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kChunk = 262144;

// Copies through an "mdfs" plugin whose bridge never reaches a page, so every message for
// the page stays in the bridge's start-up queue for the test to read.
class DeviceCopyTest : public DeviceFolderTest {
protected:
    struct Pending {
        std::mutex mutex;
        std::optional<Value> reply;
    };
    DeviceCopyTest() {
        devices->devices[device->uuid()] = device;
        device->setTransferGate(gate);
        plugin->setQuitGate(quit);
    }
    std::shared_ptr<Pending> start(const char* cmd, const std::string& path, const std::string& to,
                                   std::initializer_list<std::pair<const std::string, Value>> more = {}) {
        Value request = Value::dict(more);
        request.set("cmd", cmd);
        request.set("udid", device->uuid());
        request.set("path", path);
        request.set("to", to);
        auto pending = std::make_shared<Pending>();
        // On the pool, as the plugin runs its requests: a request held up by another copy's
        // device lock must not hold the main loop that copy reports progress through.
        ThreadPool::addAsyncJobWithBlock([plugin = plugin, request, pending] {
            plugin->process(request, [pending](const Value& reply) {
                std::lock_guard lock(pending->mutex);
                EXPECT_FALSE(pending->reply.has_value());
                pending->reply = reply;
            });
        });
        return pending;
    }
    static std::optional<Value> peek(const std::shared_ptr<Pending>& pending) {
        std::lock_guard lock(pending->mutex);
        return pending->reply;
    }
    static Value await(const std::shared_ptr<Pending>& pending) {
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return peek(pending).has_value(); }));
        return peek(pending).value_or(Value());
    }
    // Page-bound messages: the progress reports to `handler`, the reply to the stop call `id`.
    std::vector<Value> progressOf(const std::string& handler) const {
        std::vector<Value> reports;
        for (const Value& message : front->base().startupMessageQueue().value_or(std::vector<Value>{}))
            if (message["handlerName"] == Value(handler)) reports.push_back(message["data"]["progress"]);
        return reports;
    }
    std::optional<Value> stopReply(const std::string& id) const {
        for (const Value& message : front->base().startupMessageQueue().value_or(std::vector<Value>{}))
            if (message["responseId"] == Value(id)) return message["responseData"];
        return std::nullopt;
    }
    void callStop(const std::string& name, const std::string& id) {
        front->base().flushMessageQueue(fmt::format(R"([{{"handlerName":"{}","callbackId":"{}"}}])", name, id));
    }
    static Value report(std::int64_t bytes, std::int64_t total) { return Value::dict({{"total", total}, {"bytes", bytes}}); }
    static Value result(bool ok) { return Value::dict({{"result", ok}}); }
    std::vector<std::string> namesIn(const std::string& dir) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<testsupport::HeadlessFront> front = testsupport::HeadlessFront::open();
    std::shared_ptr<DeviceList> devices = std::make_shared<DeviceList>();
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin = WVMobileDeviceFilesystemPlugin::create(front, {}, devices);
    std::shared_ptr<testsupport::TransferGate> gate = std::make_shared<testsupport::TransferGate>();
    foundation::QuitGate quit;
};

TEST_F(DeviceCopyTest, ProgressPausesAndLateStops) {
    gate->open();
    const std::int64_t size = kChunk * 2 + 100;
    put(media(), "song.mp3", std::string(size, 's'));
    put(folder / "pc", "up.bin", std::string(kChunk + 1, 'u'));
    std::vector<double> pauses;
    plugin->setCopyPause([&](double seconds) { pauses.push_back(seconds); });

    EXPECT_EQ(await(start("device-download", "/song.mp3", folder / "pc/song.mp3",
                          {{"cb", "down"}, {"delay", 0.5}, {"stopCB", "stopDown"}})), result(true));
    EXPECT_EQ(progressOf("down"), (std::vector<Value>{report(kChunk, size), report(kChunk * 2, size), report(size, size)}));
    EXPECT_EQ(pauses, (std::vector<double>{0.5, 0.5, 0.5}));
    // An upload reports the phone's closing 100 of 100 too, and never pauses.
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/up.bin", {{"cb", "up"}, {"delay", 1}, {"stopCB", "stopUp"}})),
              result(true));
    EXPECT_EQ(progressOf("up"), (std::vector<Value>{report(kChunk, kChunk + 1), report(kChunk + 1, kChunk + 1), report(100, 100)}));
    EXPECT_EQ(pauses.size(), 3u);
    EXPECT_TRUE(read(media() + "/up.bin") == std::string(kChunk + 1, 'u'));

    // Stops after the end change nothing.
    callStop("stopDown", "s1");
    callStop("stopUp", "s2");
    EXPECT_EQ(stopReply("s1"), Value::null());
    EXPECT_EQ(stopReply("s2"), Value::null());
    EXPECT_TRUE(read(folder / "pc/song.mp3") == read(media() + "/song.mp3"));
    EXPECT_EQ(front->base().messageHandlerNames(), std::vector<std::string>{"mdfs"});

    EXPECT_EQ(await(start("device-download", "/song.mp3", "")), result(false));
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/../escape")),
              Value::dict({{"result", false}, {"error", "Invalid device path: /../escape"}}));
    EXPECT_EQ(await(start("device-download", "/none.mp3", folder / "pc/none")), result(false));
}

// A download pauses after each chunk for its "delay" even when no page handler hears
// its progress.
TEST_F(DeviceCopyTest, ADownloadPausesWithoutAProgressHandler) {
    gate->open();
    const std::int64_t size = kChunk + 10;
    put(media(), "clip.mov", std::string(size, 'c'));
    std::vector<double> pauses;
    plugin->setCopyPause([&](double seconds) { pauses.push_back(seconds); });
    EXPECT_EQ(await(start("device-download", "/clip.mov", folder / "pc/clip.mov", {{"delay", 0.25}})),
              result(true));
    EXPECT_EQ(pauses, (std::vector<double>{0.25, 0.25}));
    EXPECT_TRUE(read(folder / "pc/clip.mov") == std::string(size, 'c'));
}

// Each end of a copy is checked by the rules of its own side: device paths stay inside
// the device's service, computer paths are used as given.
TEST_F(DeviceCopyTest, EachEndOfACopyIsCheckedByItsOwnSidesRules) {
    gate->open();
    put(folder / "pc", "up.bin", "from the computer");
    put(media(), "song.mp3", "from the device");
    const std::string doubled = std::string(folder / "pc") + "//up.bin";
    EXPECT_EQ(await(start("device-upload", doubled, "/up.bin")), result(true));
    EXPECT_TRUE(read(media() + "/up.bin") == "from the computer");
    EXPECT_EQ(await(start("device-upload", doubled, "/Up/../../up.bin")),
              Value::dict({{"result", false}, {"error", "Invalid device path: /Up/../../up.bin"}}));
    EXPECT_EQ(await(start("device-upload", std::string("/a\0b", 4), "/up.bin")),
              Value::dict({{"result", false}, {"error", "Invalid computer path: " + std::string("/a\0b", 4)}}));

    EXPECT_EQ(await(start("device-download", "/song.mp3", std::string(folder / "pc") + "//song.mp3")), result(true));
    EXPECT_TRUE(read(folder / "pc/song.mp3") == "from the device");
    EXPECT_EQ(await(start("device-download", "/../song.mp3", folder / "pc/x.mp3")),
              Value::dict({{"result", false}, {"error", "Invalid device path: /../song.mp3"}}));
    const std::string cut = std::string(folder / "pc") + std::string("/a\0b", 4);
    EXPECT_EQ(await(start("device-download", "/song.mp3", cut)),
              Value::dict({{"result", false}, {"error", "Invalid computer path: " + cut}}));
    EXPECT_FALSE(fs::exists(folder / "pc/x.mp3"));
    EXPECT_FALSE(fs::exists(folder / "pc/a"));
}

TEST_F(DeviceCopyTest, StopsKeepTheOldFilesAndAnswerWithoutHoldingTheMainThread) {
    put(media(), "song.mp3", std::string(kChunk * 4, 'n'));
    put(folder / "pc", "song.mp3", "old");
    put(media(), "Up/song.mp3", "old");
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        gate = std::make_shared<testsupport::TransferGate>();
        device->setTransferGate(gate);
        const std::string target = upload ? media() + "/Up" : std::string(folder / "pc");
        const auto pending = upload ? start("device-upload", media() + "/song.mp3", "/Up/song.mp3", {{"cb", "p1"}, {"stopCB", "stop"}})
                                    : start("device-download", "/song.mp3", target + "/song.mp3", {{"cb", "p0"}, {"stopCB", "stop"}});
        ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !progressOf(upload ? "p1" : "p0").empty(); }));
        EXPECT_EQ(namesIn(target).size(), 2u);  // the old file and the hidden partial one
        callStop("stop", upload ? "u" : "d");
        testsupport::drainMainLoop();
        EXPECT_FALSE(stopReply(upload ? "u" : "d"));  // answered once the copy has let go
        EXPECT_FALSE(peek(pending));
        gate->open();
        EXPECT_EQ(await(pending), result(false));
        ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return stopReply(upload ? "u" : "d").has_value(); }));
        EXPECT_EQ(namesIn(target), std::vector<std::string>{"song.mp3"});
        EXPECT_EQ(read(target + "/song.mp3"), "old");
    }
}

// The application about to quit stops the copies in flight as the page's stop does: each
// removes what it wrote so far, and the quit is told when they have ended. A download's
// partial file goes at once, also while its device does not answer.
TEST_F(DeviceCopyTest, QuittingStopsCopiesInFlightAndRemovesTheirPartialFiles) {
    put(media(), "song.mp3", std::string(kChunk * 4, 'n'));
    put(folder / "pc", "up.bin", std::string(kChunk * 4, 'u'));
    const auto down = start("device-download", "/song.mp3", folder / "pc/song.mp3", {{"cb", "p0"}});
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !progressOf("p0").empty(); }));
    EXPECT_EQ(namesIn(folder / "pc").size(), 2u);  // up.bin and the hidden partial download
    auto finishing = std::make_shared<foundation::DispatchGroup>();
    quit.close(finishing);
    EXPECT_FALSE(finishing->finished());  // the copy is held between two pieces
    EXPECT_EQ(namesIn(folder / "pc"), std::vector<std::string>{"up.bin"});
    gate->open();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return finishing->finished(); }));
    EXPECT_EQ(await(down), result(false));
    EXPECT_EQ(namesIn(folder / "pc"), std::vector<std::string>{"up.bin"});

    gate = std::make_shared<testsupport::TransferGate>();
    device->setTransferGate(gate);
    quit = foundation::QuitGate();
    plugin->setQuitGate(quit);
    const auto up = start("device-upload", folder / "pc/up.bin", "/up.bin", {{"cb", "p1"}});
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !progressOf("p1").empty(); }));
    finishing = std::make_shared<foundation::DispatchGroup>();
    quit.close(finishing);
    gate->open();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return finishing->finished(); }));
    EXPECT_EQ(await(up), result(false));
    EXPECT_EQ(namesIn(media()), std::vector<std::string>{"song.mp3"});
}

// Once the quit has begun, a copy asked for makes no file on either side and answers false,
// and the quit does not wait for it.
TEST_F(DeviceCopyTest, CopiesAskedForOnceTheQuitHasBegunMakeNoFile) {
    gate->open();
    put(media(), "song.mp3", std::string(kChunk * 2, 'n'));
    put(folder / "pc", "up.bin", std::string(kChunk * 2, 'u'));
    auto finishing = std::make_shared<foundation::DispatchGroup>();
    quit.close(finishing);
    EXPECT_EQ(await(start("device-download", "/song.mp3", folder / "pc/song.mp3", {{"cb", "p0"}, {"stopCB", "s0"}})),
              result(false));
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/up.bin", {{"cb", "p1"}, {"stopCB", "s1"}})),
              result(false));
    EXPECT_TRUE(finishing->finished());
    EXPECT_EQ(namesIn(folder / "pc"), std::vector<std::string>{"up.bin"});
    EXPECT_EQ(namesIn(media()), std::vector<std::string>{"song.mp3"});
    EXPECT_TRUE(progressOf("p0").empty());
    EXPECT_TRUE(progressOf("p1").empty());
    EXPECT_EQ(front->base().messageHandlerNames(), std::vector<std::string>{"mdfs"});
}

TEST_F(DeviceCopyTest, CopiesAtOnceKeepTheirOwnProgressAndStop) {
    put(media(), "a.bin", std::string(kChunk * 3, 'a'));
    put(media(), "b.bin", std::string(kChunk * 2, 'b'));
    const auto first = start("device-download", "/a.bin", folder / "pc/a.bin", {{"cb", "pa"}, {"stopCB", "sa"}});
    const auto second = start("device-download", "/b.bin", folder / "pc/b.bin", {{"cb", "pb"}, {"stopCB", "sb"}});
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return !progressOf("pa").empty() || !progressOf("pb").empty(); }));
    // Stop whichever runs first; the other goes on to its end.
    const bool aFirst = !progressOf("pa").empty();
    callStop(aFirst ? "sa" : "sb", "s");
    gate->open();
    EXPECT_EQ(await(aFirst ? first : second), result(false));
    EXPECT_EQ(await(aFirst ? second : first), result(true));
    const std::int64_t size = aFirst ? kChunk * 2 : kChunk * 3;
    const auto reports = progressOf(aFirst ? "pb" : "pa");
    ASSERT_EQ(reports.size(), static_cast<std::size_t>(size / kChunk));
    EXPECT_EQ(reports.back(), report(size, size));
    EXPECT_EQ(fs::exists(folder / "pc/a.bin"), !aFirst);
    EXPECT_EQ(fs::exists(folder / "pc/b.bin"), aFirst);
}

}  // namespace
