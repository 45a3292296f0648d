// Unmodified libimobiledevice command-line clients against the simulated device's files.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "SimServiceFixture.h"

namespace {

class SimClients : public devicetest::SimServiceTest {
protected:
    int run(const std::string& command) {
        const int status = std::system(("timeout 60 " + command).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string udid() const { return simulated->config().udid; }
};

std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool onPath(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null").c_str()) == 0;
}

TEST_F(SimClients, CrashReportToolMovesTheReportsOff) {
    if (!onPath("idevicecrashreport")) GTEST_SKIP() << "idevicecrashreport is not installed";
    const std::filesystem::path crash = scratch / "crash";
    std::filesystem::create_directories(crash / "Retired");
    std::ofstream(crash / "JetsamEvent-2026-12-07-101500.ips") << "{\"bug_type\":\"298\"}";
    std::ofstream(crash / "Retired" / "Orvandel-2026-12-06-090000.ips") << "crash body";
    const std::string target = scratch / "copied";
    std::filesystem::create_directories(target);

    ASSERT_EQ(run("idevicecrashreport -k -u " + udid() + " " + target), 0);
    EXPECT_EQ(contentsOf(target + "/JetsamEvent-2026-12-07-101500.ips"), "{\"bug_type\":\"298\"}");
    EXPECT_EQ(contentsOf(target + "/Retired/Orvandel-2026-12-06-090000.ips"), "crash body");
    EXPECT_TRUE(std::filesystem::exists(crash / "Retired" / "Orvandel-2026-12-06-090000.ips"));

    // Without --keep the reports leave the device.
    ASSERT_EQ(run("idevicecrashreport -u " + udid() + " " + target), 0);
    EXPECT_FALSE(std::filesystem::exists(crash / "JetsamEvent-2026-12-07-101500.ips"));
    EXPECT_FALSE(std::filesystem::exists(crash / "Retired" / "Orvandel-2026-12-06-090000.ips"));
}

TEST_F(SimClients, IfuseMountsTheMediaFolder) {
    if (!onPath("ifuse") || !onPath("fusermount3")) GTEST_SKIP() << "ifuse is not installed";
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) GTEST_SKIP() << "FUSE is not available here";
    ::close(fuse);
    std::filesystem::create_directories(media("Books"));
    std::ofstream(media("Books/notes.txt")) << "from the phone";
    const std::filesystem::path mount = scratch / "mount";
    std::filesystem::create_directories(mount);

    ASSERT_EQ(run("ifuse " + mount.string() + " -u " + udid()), 0);
    // A failed check still leaves no mount behind; after the unmount below this does nothing.
    std::shared_ptr<void> unmount(nullptr, [&](void*) {
        std::system(("fusermount3 -u -z " + mount.string() + " 2>/dev/null").c_str());
    });
    EXPECT_EQ(contentsOf(mount / "Books" / "notes.txt"), "from the phone");
    std::ofstream(mount / "Books" / "reply.txt") << "from the computer";
    std::filesystem::rename(mount / "Books" / "reply.txt", mount / "reply.txt");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(mount)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Books", "reply.txt"}));
    EXPECT_EQ(run("fusermount3 -u " + mount.string()), 0);
    EXPECT_EQ(contentsOf(media("reply.txt")), "from the computer");
}

}  // namespace
