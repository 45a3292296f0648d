// The list of a phone's applications as "/fetch" reaches it: kept with the device under
// "apps_node" and made anew only when the page asks for a refresh.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/FetchDeviceAccess.h"
#include "fakedevice/FakeMobileDevice.h"
#include "files/FileSystemNode.h"
#include "foundation/ScratchFolder.h"

namespace {

FileSystemNode::Ptr keptNode(iMobileDevice& device) {
    const std::any kept = device.userInfoForKey("apps_node");
    const auto* node = std::any_cast<FileSystemNode::Ptr>(&kept);
    return node ? *node : nullptr;
}

TEST(FetchAppsRoot, IsKeptWithTheDeviceAndMadeAnewOnRefresh) {
    foundationtest::ScratchFolder folder;
    std::filesystem::create_directories(folder / "media");
    std::filesystem::create_directories(folder / "app/Documents");
    const auto device = std::make_shared<testsupport::FakeMobileDevice>(folder / "media");
    device->addApplication({"com.example.notes", "Notes", folder / "app", true, {}});
    FetchDeviceAccess access(device);

    EXPECT_EQ(keptNode(*device), nullptr);
    ASSERT_TRUE(access.appsRoot(false));
    const auto first = keptNode(*device);
    ASSERT_NE(first, nullptr);
    access.appsRoot(false);
    EXPECT_EQ(keptNode(*device), first);
    access.appsRoot(true);
    const auto second = keptNode(*device);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);

    // Its children are the applications that share files.
    const auto children = access.appsRoot(false)->children();
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0]->displayName(), "Notes");
    EXPECT_EQ(children[0]->rootPath(), "com.example.notes");
}

}  // namespace
