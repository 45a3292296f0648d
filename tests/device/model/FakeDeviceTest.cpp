// The device interface's shared parts, through the directory-backed fake device that the
// subsystems above the device model test against.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "device/DeviceCopyDelegate.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScratchFolder.h"

namespace {

using testsupport::FakeMobileDevice;
using testsupport::TransferGate;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Recorder : iMobileDeviceCopyDelegate {
    void transferBytesOfTotal(std::int64_t bytes, std::int64_t total) override {
        reports.emplace_back(bytes, total);
    }
    bool shouldContinue() override { return reports.size() < stopAfter; }
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    std::size_t stopAfter = SIZE_MAX;
};

class FakeDeviceTest : public ::testing::Test {
protected:
    FakeDeviceTest() : device(std::make_shared<FakeMobileDevice>(media.path())) {
        std::filesystem::create_directories(media / "Folder/Inner");
        writeFile(media / "a.txt", "alpha");
        writeFile(media / "Folder/b.txt", "beta");
        device->setChunkSize(4);
    }
    foundationtest::ScratchFolder media;
    foundationtest::ScratchFolder computer;
    std::shared_ptr<FakeMobileDevice> device;
};

TEST(iMobileFileSystemNode, FullPathJoinsWithOneSeparator) {
    EXPECT_EQ(iMobileFileSystemNode("a", "/x/", false).fullpath(), "/x/a");
    EXPECT_TRUE(iMobileFileSystemNode::iMobileFileSystemNodeWithDirectoryParentDirectory("d", "/")
                    .isDirectory());
}

TEST_F(FakeDeviceTest, ListingFollowsThePathType) {
    std::filesystem::create_directories(media / "Folder/Second");
    struct Case {
        std::int32_t pathType;
        std::vector<std::string> names;
    };
    const Case cases[] = {{kPathTypeFolders, {"Inner", "Second"}},
                          {kPathTypeFiles, {"b.txt"}},
                          {kPathTypeFoldersThenFiles, {"Inner", "Second", "b.txt"}},
                          {0, {}},
                          {259, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pathType);
        std::vector<std::string> names;
        for (const auto& node : device->contentsOfDirectoryPathType("Folder", c.pathType)) {
            EXPECT_EQ(node.parentDirectory(), "/Folder");
            names.push_back(node.name());
        }
        auto firstFile = std::find(names.begin(), names.end(), "b.txt");
        std::sort(names.begin(), firstFile);  // folder order is the listing's
        EXPECT_EQ(names, c.names);
    }
    EXPECT_EQ(device->callCount("contentsOfDirectoryPathType"), 5);
}

TEST_F(FakeDeviceTest, UserInfoStoresReplacesAndRemoves) {
    device->setUserInfoForKey(std::make_shared<int>(7), "apps_node");
    ASSERT_TRUE(device->userInfoForKey("apps_node").has_value());
    EXPECT_EQ(*std::any_cast<std::shared_ptr<int>>(device->userInfoForKey("apps_node")), 7);
    device->setUserInfoForKey(std::make_shared<int>(1), "");
    EXPECT_FALSE(device->userInfoForKey("").has_value());
    device->setUserInfoForKey(std::any(), "apps_node");
    EXPECT_FALSE(device->userInfoForKey("apps_node").has_value());
}

TEST_F(FakeDeviceTest, TransfersReportEachChunkAndEndWhole) {
    writeFile(computer / "up.txt", "0123456789");
    auto recorder = std::make_shared<Recorder>();
    ASSERT_TRUE(device->uploadFileFrom("up.txt", computer / "up.txt", recorder));
    EXPECT_EQ(readFile(media / "up.txt"), "0123456789");
    using Reports = std::vector<std::pair<std::int64_t, std::int64_t>>;
    EXPECT_EQ(recorder->reports, (Reports{{4, 10}, {8, 10}, {10, 10}, {100, 100}}));

    auto fromSlot = std::make_shared<Recorder>();
    device->setCopyDelegate(fromSlot);
    ASSERT_TRUE(device->downloadFileTo("Folder/b.txt", computer / "deep/b.txt"));
    EXPECT_EQ(readFile(computer / "deep/b.txt"), "beta");
    EXPECT_EQ(fromSlot->reports, (Reports{{4, 4}}));
    EXPECT_FALSE(device->downloadFileTo("missing.txt", computer / "missing.txt"));
    EXPECT_FALSE(std::filesystem::exists(computer / "missing.txt"));
}

TEST_F(FakeDeviceTest, StoppedOrFailedTransfersKeepTheOldDestination) {
    writeFile(computer / "up.txt", "0123456789");
    writeFile(media / "up.txt", "old");
    writeFile(computer / "down.txt", "old");
    writeFile(media / "down.txt", "0123456789");
    auto stopper = std::make_shared<Recorder>();
    stopper->stopAfter = 1;
    EXPECT_FALSE(device->uploadFileFrom("up.txt", computer / "up.txt", stopper));
    device->failOperation("transferChunk", 1, 1);
    EXPECT_FALSE(device->downloadFileTo("down.txt", computer / "down.txt", nullptr));
    EXPECT_EQ(readFile(media / "up.txt"), "old");
    EXPECT_EQ(readFile(computer / "down.txt"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(media.path()), {}), 4);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(computer.path()), {}), 2);
}

TEST_F(FakeDeviceTest, GatePausesTransferAndDelegateStops) {
    writeFile(media / "big.txt", "0123456789");
    auto gate = std::make_shared<TransferGate>();
    device->setTransferGate(gate);
    auto delegate = std::make_shared<DeviceCopyDelegate>();
    std::vector<std::int64_t> seen;
    delegate->setCb([&seen](std::int64_t bytes, std::int64_t) { seen.push_back(bytes); });
    bool result = true;
    std::thread copy([&] { result = device->downloadFileTo("big.txt", computer / "big.txt", delegate); });
    EXPECT_EQ(gate->waitForPause(), 4);
    delegate->setStop(true);
    gate->open();
    copy.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(seen, (std::vector<std::int64_t>{4, 8}));
    EXPECT_FALSE(std::filesystem::exists(computer / "big.txt"));
}

TEST_F(FakeDeviceTest, ServicesSwitchAndRefuseEscapes) {
    foundationtest::ScratchFolder container;
    writeFile(container / "doc.txt", "document");
    device->addApplication({"com.example.notes", "Notes", container.path(), true, {1, 2}});
    EXPECT_FALSE(device->itemExistsAtPath("../a.txt"));
    bool ran = device->performOnService("com.example.notes", true, [&] {
        EXPECT_EQ(device->contentsOfFileAtPath("doc.txt"), foundation::Data({'d', 'o', 'c', 'u', 'm', 'e', 'n', 't'}));
    });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(device->performOnService("com.example.none", false, [] { ADD_FAILURE(); }));
    device->resetService();
    EXPECT_FALSE(device->contentsOfFileAtPath("a.txt").has_value());
    ASSERT_TRUE(device->connect(false));
    EXPECT_EQ(device->readFileAtPathOffsetLength("a.txt", 1, 3), foundation::Data({'l', 'p', 'h'}));
    EXPECT_EQ(device->appBundles()[0]["root"], foundation::Value("/Documents"));
    EXPECT_EQ(device->getIconDataForApp("com.example.notes"), foundation::Data({1, 2}));
}

}  // namespace
