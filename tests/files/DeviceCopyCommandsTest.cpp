#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include <fmt/format.h>

#include "DeviceFolderFixture.h"
#include "support/MainLoop.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kChunk = 262144;

// Copies through an "mdfs" plugin whose bridge is kept here and never reaches a page, so
// every message for the page stays in the bridge's start-up queue for the test to read.
class DeviceCopyTest : public DeviceFolderTest {
protected:
    struct Pending {
        std::mutex mutex;
        std::optional<Value> reply;
        std::optional<Value> get() {
            std::lock_guard lock(mutex);
            return reply;
        }
    };

    DeviceCopyTest() {
        devices->devices[device->uuid()] = device;
        device->setTransferGate(gate);
    }

    std::shared_ptr<Pending> start(const char* cmd, const std::string& path, const std::string& to,
                                   std::initializer_list<std::pair<const std::string, Value>> more = {}) {
        Value request = Value::dict(more);
        request.set("cmd", cmd);
        request.set("udid", device->uuid());
        request.set("path", path);
        request.set("to", to);
        auto pending = std::make_shared<Pending>();
        plugin->process(request, [pending](const Value& reply) {
            std::lock_guard lock(pending->mutex);
            EXPECT_FALSE(pending->reply.has_value());
            pending->reply = reply;
        });
        return pending;
    }
    static Value await(const std::shared_ptr<Pending>& pending) {
        EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return pending->get().has_value(); }));
        return pending->get().value_or(Value());
    }
    // The page-bound messages: progress reports to `handler`, or the reply to a stop call.
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
    // The page calls the stop handler, asking for a reply under `id`.
    void callStop(const std::string& name, const std::string& id) {
        front->base().flushMessageQueue(
            fmt::format(R"([{{"handlerName":"{}","callbackId":"{}"}}])", name, id));
    }
    void waitForReports(const std::string& handler, std::size_t count) {
        ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return progressOf(handler).size() >= count; }));
    }
    static Value report(std::int64_t bytes, std::int64_t total) {
        return Value::dict({{"total", total}, {"bytes", bytes}});
    }
    std::vector<std::string> namesIn(const std::string& dir) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<testsupport::HeadlessFront> front = testsupport::HeadlessFront::open();
    std::shared_ptr<DeviceList> devices = std::make_shared<DeviceList>();
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin =
        WVMobileDeviceFilesystemPlugin::create(front, {}, devices);
    std::shared_ptr<testsupport::TransferGate> gate = std::make_shared<testsupport::TransferGate>();
};

TEST_F(DeviceCopyTest, ProgressGoesToTheNamedHandlerOncePerChunk) {
    gate->open();
    put(media(), "song.mp3", std::string(kChunk * 2 + 100, 's'));
    put(folder / "pc", "up.bin", std::string(kChunk + 1, 'u'));
    const std::int64_t size = kChunk * 2 + 100;

    EXPECT_EQ(await(start("device-download", "/song.mp3", folder / "pc/song.mp3", {{"cb", "down"}})),
              Value::dict({{"result", true}}));
    EXPECT_EQ(progressOf("down"),
              (std::vector<Value>{report(kChunk, size), report(kChunk * 2, size), report(size, size)}));
    EXPECT_TRUE(read(folder / "pc/song.mp3") == read(media() + "/song.mp3"));

    // An upload reports the device's closing 100 of 100 too, and never pauses.
    int pauses = 0;
    plugin->setCopyPause([&](double) { ++pauses; });
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/up.bin", {{"cb", "up"}, {"delay", 1}})),
              Value::dict({{"result", true}}));
    EXPECT_EQ(progressOf("up"), (std::vector<Value>{report(kChunk, kChunk + 1), report(kChunk + 1, kChunk + 1),
                                                     report(100, 100)}));
    EXPECT_EQ(pauses, 0);
    EXPECT_TRUE(read(media() + "/up.bin") == std::string(kChunk + 1, 'u'));

    // Missing or bad targets and sources.
    EXPECT_EQ(await(start("device-download", "/song.mp3", "")), Value::dict({{"result", false}}));
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/../escape")),
              Value::dict({{"result", false}, {"error", "Invalid device path: /../escape"}}));
    EXPECT_EQ(await(start("device-download", "/none.mp3", folder / "pc/none")), Value::dict({{"result", false}}));
    EXPECT_FALSE(fs::exists(folder / "pc/none"));
}

TEST_F(DeviceCopyTest, DownloadsPauseForTheirDelayAfterEveryReport) {
    gate->open();
    put(media(), "song.mp3", std::string(kChunk * 3, 's'));
    std::vector<double> pauses;
    plugin->setCopyPause([&](double seconds) { pauses.push_back(seconds); });
    EXPECT_EQ(await(start("device-download", "/song.mp3", folder / "pc/a", {{"delay", 0.5}})),
              Value::dict({{"result", true}}));
    EXPECT_EQ(pauses, (std::vector<double>{0.5, 0.5, 0.5}));
    pauses.clear();
    await(start("device-download", "/song.mp3", folder / "pc/b", {{"delay", "0.5"}}));
    EXPECT_TRUE(pauses.empty());
}

TEST_F(DeviceCopyTest, StoppedDownloadKeepsTheOldFileAndLeavesNoPartOne) {
    put(media(), "song.mp3", std::string(kChunk * 4, 'n'));
    put(folder / "pc", "song.mp3", "old");
    const auto pending = start("device-download", "/song.mp3", folder / "pc/song.mp3", {{"cb", "p"}, {"stopCB", "stop"}});
    waitForReports("p", 1);
    EXPECT_EQ(namesIn(folder / "pc").size(), 2u);  // the old file and the hidden partial one

    callStop("stop", "s1");
    EXPECT_FALSE(stopReply("s1"));  // answered once the copy has let go
    EXPECT_EQ(front->base().messageHandlerNames(), std::vector<std::string>{"mdfs"});
    gate->open();
    EXPECT_EQ(await(pending), Value::dict({{"result", false}}));
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return stopReply("s1").has_value(); }));
    EXPECT_EQ(*stopReply("s1"), Value::null());
    EXPECT_EQ(namesIn(folder / "pc"), std::vector<std::string>{"song.mp3"});
    EXPECT_EQ(read(folder / "pc/song.mp3"), "old");
}

TEST_F(DeviceCopyTest, UploadStopLeavesTheMainThreadFreeAndTheDeviceAsItWas) {
    put(folder / "pc", "big.bin", std::string(kChunk * 4, 'b'));
    put(media(), "Up/big.bin", "old");
    const auto pending = start("device-upload", folder / "pc/big.bin", "/Up/big.bin", {{"cb", "p"}, {"stopCB", "stop"}});
    waitForReports("p", 1);
    // The copy holds the device; the handler returns at once all the same.
    callStop("stop", "s1");
    testsupport::drainMainLoop();
    EXPECT_FALSE(stopReply("s1"));
    EXPECT_FALSE(pending->get());
    gate->open();
    EXPECT_EQ(await(pending), Value::dict({{"result", false}}));
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return stopReply("s1").has_value(); }));
    EXPECT_EQ(namesIn(media() + "/Up"), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(read(media() + "/Up/big.bin"), "old");
}

TEST_F(DeviceCopyTest, LateStopHarmsNothing) {
    gate->open();
    put(media(), "song.mp3", "whole");
    put(folder / "pc", "up.bin", "whole up");
    EXPECT_EQ(await(start("device-download", "/song.mp3", folder / "pc/song.mp3", {{"stopCB", "stopDown"}})),
              Value::dict({{"result", true}}));
    EXPECT_EQ(await(start("device-upload", folder / "pc/up.bin", "/up.bin", {{"stopCB", "stopUp"}})),
              Value::dict({{"result", true}}));
    callStop("stopDown", "s1");
    callStop("stopUp", "s2");
    EXPECT_EQ(stopReply("s1"), Value::null());
    EXPECT_EQ(stopReply("s2"), Value::null());
    EXPECT_EQ(read(folder / "pc/song.mp3"), "whole");
    EXPECT_EQ(read(media() + "/up.bin"), "whole up");
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
    const Value stopped = await(aFirst ? first : second);
    const Value finished = await(aFirst ? second : first);
    EXPECT_EQ(stopped, Value::dict({{"result", false}}));
    EXPECT_EQ(finished, Value::dict({{"result", true}}));
    const std::int64_t size = aFirst ? kChunk * 2 : kChunk * 3;
    const auto reports = progressOf(aFirst ? "pb" : "pa");
    ASSERT_FALSE(reports.empty());
    for (const Value& r : reports) EXPECT_EQ(r["total"], Value(size));
    EXPECT_EQ(reports.back(), report(size, size));
    EXPECT_EQ(fs::exists(folder / "pc/a.bin"), !aFirst);
    EXPECT_EQ(fs::exists(folder / "pc/b.bin"), aFirst);
}

}  // namespace
