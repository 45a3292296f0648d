#include <gtest/gtest.h>

#include <filesystem>

#include "content/ThreadPool.h"
#include "files/WVLocalFilesystemPlugin.h"
#include "foundation/OperationQueue.h"
#include "foundation/ScratchFolder.h"
#include "shell/BridgePairFixture.h"

namespace {

class WVLocalFilesystemPluginTest : public BridgePairTest {
protected:
    void SetUp() override {
        plugin = WVLocalFilesystemPlugin::create(front, {}, {});
        startPage();
    }
    std::shared_ptr<WVLocalFilesystemPlugin> plugin;
    foundationtest::ScratchFolder dir;
};

}  // namespace

TEST_F(WVLocalFilesystemPluginTest, ConcurrentRequestsAreEachAnsweredOnceAndQuietOnesStillRun) {
    // Requests in flight at once on the pool; each callback counts its answers. The last
    // request has no callback: it runs and is not answered.
    constexpr int kRequests = 40;
    page("window.counts = {}; for (var i = 0; i < " + std::to_string(kRequests) +
         "; i++) (function (i) {"
         "  bridge.callHandler('fs', {cmd: i % 2 ? 'mkdir' : 'ensure-filepath', path: '" +
         dir.path() + "/f' + i}, function (r) { counts[i] = (counts[i] || 0) + 1; });"
         "})(i); bridge.callHandler('fs', {cmd: 'mkdir', path: '" + dir.path() + "/quiet'});");
    ASSERT_TRUE(waitForPage("Object.keys(counts).length == " + std::to_string(kRequests)));
    ThreadPool::async().waitUntilAllOperationsAreFinished();
    testsupport::drainMainLoop();
    EXPECT_EQ(page("Object.values(counts).every(function (n) { return n === 1; })"), "true");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "f39"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "quiet"));

    // The bridge's handler keeps the plugin; it goes when the handler is taken off.
    std::weak_ptr<WVLocalFilesystemPlugin> weak = plugin;
    plugin.reset();
    EXPECT_FALSE(weak.expired());
    front->removeHandler("fs");
    EXPECT_TRUE(weak.expired());
}

TEST(WVLocalFilesystemPluginSetup, OnlyTheFirstCallMakesTheSharedInstance) {
    auto first = testsupport::HeadlessFront::open();
    auto second = testsupport::HeadlessFront::open();
    WVLocalFilesystemPlugin::setupWithBridgeWebviewInWindow(first, {}, {});
    WVLocalFilesystemPlugin::setupWithBridgeWebviewInWindow(second, {}, {});
    EXPECT_EQ(first->base().messageHandlerNames(), std::vector<std::string>{"fs"});
    EXPECT_TRUE(second->base().messageHandlerNames().empty());
}
