#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>

#include "device/MobileDeviceHub.h"
#include "device/SocketCheck.h"
#include "platform/mobiledevice/AMDeviceHandle.h"

namespace {

TEST(SocketCheck, RefusesBadDescriptorsAndModes) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    EXPECT_EQ(socket_check_fd(-1, FDM_READ, 10), -1);
    EXPECT_EQ(socket_check_fd(fds[0], static_cast<fd_mode>(3), 10), -1);
    EXPECT_GT(socket_check_fd(fds[0], FDM_WRITE, 10), 0);
    EXPECT_EQ(socket_check_fd(fds[0], FDM_READ, 10), -60);
    ::close(fds[1]);
    EXPECT_GT(socket_check_fd(fds[0], FDM_READ, 10), 0);  // the hang-up is readable
    ::close(fds[0]);
    EXPECT_EQ(socket_check_fd(fds[0], FDM_READ, 10), -1);  // no longer open
}

TEST(InterfaceName, NamesEachKindOfAttachment) {
    struct NameCase {
        std::uint32_t type;
        const char* name;
    };
    // Companion proxies have no paired device here, so they count as not on USB.
    const NameCase cases[] = {
        {1, "USB"},
        {2, "WIFI"},
        {3, "WIFI Companion proxy"},
        {0, "Unknown Connection"},
        {9, "Unknown Connection"},
    };
    for (const auto& c : cases) {
        auto handle = std::make_shared<mobiledevice::AMDeviceHandle>("udid", 1, c.type);
        EXPECT_EQ(get_device_interface_name(handle), c.name) << c.type;
    }
}

}  // namespace
