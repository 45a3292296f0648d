// Unmodified libimobiledevice command-line clients against the simulated device's files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SimServiceFixture.h"
#include "platform/mobiledevice/PairRecord.h"

namespace {

class SimClients : public devicetest::SimServiceTest {
protected:
    int run(const std::string& command) {
        const int status = std::system(("timeout 60 " + command).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output(const std::string& command) {
        std::string text;
        if (FILE* pipe = ::popen(("timeout 60 " + command).c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
            ::pclose(pipe);
        }
        return text;
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

// A session turns TLS on as a phone does, unless the device is set to keep it off; the
// connection speaks plainly again once the session ends.
TEST_F(SimClients, SessionsAreEncryptedUnlessSwitchedOff) {
    for (const bool ssl : {true, false}) {
        SCOPED_TRACE(ssl);
        auto config = configFor(ssl ? "SECURE-0001" : "PLAIN-0002");
        config.sessionSsl = ssl;
        attachPaired(config);
        idevice_t phone = nullptr;
        lockdownd_client_t client = nullptr;
        ASSERT_EQ(idevice_new_with_options(&phone, config.udid.c_str(), IDEVICE_LOOKUP_USBMUX),
                  IDEVICE_E_SUCCESS);
        ASSERT_EQ(lockdownd_client_new(phone, &client, "orvandel-tests"), LOCKDOWN_E_SUCCESS);
        const std::string hostId = mobiledevice::pairRecordHostId(config.udid);
        char* session = nullptr;
        int encrypted = -1;
        ASSERT_EQ(lockdownd_start_session(client, hostId.c_str(), &session, &encrypted),
                  LOCKDOWN_E_SUCCESS);
        EXPECT_EQ(encrypted, ssl ? 1 : 0);
        plist_t value = nullptr;
        ASSERT_EQ(lockdownd_get_value(client, "com.apple.disk_usage", "TotalDataCapacity", &value),
                  LOCKDOWN_E_SUCCESS);
        plist_free(value);
        ASSERT_EQ(lockdownd_stop_session(client, session), LOCKDOWN_E_SUCCESS);
        ASSERT_EQ(lockdownd_get_value(client, nullptr, "ProductType", &value), LOCKDOWN_E_SUCCESS);
        plist_free(value);
        std::free(session);
        lockdownd_client_free(client);
        idevice_free(phone);
    }
    // An unmodified client reads values over the encrypted session.
    EXPECT_EQ(output("ideviceinfo -u " + udid() + " -q com.apple.disk_usage -k TotalDataCapacity"),
              std::to_string(std::int64_t{58} << 30) + "\n");
}

// A client that finds the program's socket finds the device on it, with no wait between.
TEST_F(SimClients, TheProgramListsItsDeviceAsSoonAsItsSocketExists) {
    const std::string socket = scratch / "mux.sock";
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, scratch.path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    const char* argv[] = {SIMDEVICE_PROGRAM, "--socket",     socket.c_str(),
                          "--udid",          "PROGRAM-0001", nullptr};
    pid_t program = 0;
    ASSERT_EQ(::posix_spawn(&program, SIMDEVICE_PROGRAM, nullptr, nullptr,
                            const_cast<char* const*>(argv), environ),
              0);
    bool appeared = false;
    alignas(inotify_event) char events[4096];
    pollfd entry{watch, POLLIN, 0};
    while (!appeared && ::poll(&entry, 1, 10000) == 1) {
        const ssize_t length = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len && std::string(event->name) == "mux.sock") appeared = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    EXPECT_TRUE(appeared);
    EXPECT_EQ(output("env USBMUXD_SOCKET_ADDRESS=UNIX:" + socket + " idevice_id -l"),
              "PROGRAM-0001\n");
    ::kill(program, SIGTERM);
    int status = 0;
    ::waitpid(program, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A second simulated device never takes a socket over from one that still serves it (the
// application would then talk to a phone that knows nothing of its pairing); a socket
// left behind by one that is gone is taken.
TEST_F(SimClients, TheProgramRefusesASocketAnotherOneStillServes) {
    const std::string socket = scratch / "mux.sock";
    const std::string program = SIMDEVICE_PROGRAM;
    const std::string list = "env USBMUXD_SOCKET_ADDRESS=UNIX:" + socket + " idevice_id -l";
    // Starts the program for a device and waits until it is listed on the socket.
    const auto serve = [&](const char* udid) {
        const char* argv[] = {SIMDEVICE_PROGRAM, "--socket", socket.c_str(), "--udid", udid,
                              nullptr};
        pid_t program = 0;
        if (::posix_spawn(&program, SIMDEVICE_PROGRAM, nullptr, nullptr,
                          const_cast<char* const*>(argv), environ) != 0) {
            return pid_t{0};
        }
        const std::string listed = std::string(udid) + "\n";
        for (int i = 0; i < 100 && output(list) != listed; ++i) ::usleep(100000);
        return program;
    };
    const pid_t first = serve("FIRST-0001");
    ASSERT_NE(first, 0);
    ASSERT_EQ(output(list), "FIRST-0001\n");

    const std::string refused =
        output(program + " --socket " + socket + " --udid SECOND-0002 2>&1; echo status=$?");
    EXPECT_NE(refused.find("another simulated device still serves " + socket), std::string::npos)
        << refused;
    EXPECT_NE(refused.find("status=1"), std::string::npos) << refused;
    EXPECT_EQ(output(list), "FIRST-0001\n");

    ::kill(first, SIGKILL);  // leaves its socket file behind
    ::waitpid(first, nullptr, 0);
    ASSERT_TRUE(std::filesystem::exists(socket));
    const pid_t second = serve("SECOND-0002");
    ASSERT_NE(second, 0);
    EXPECT_EQ(output(list), "SECOND-0002\n");
    ::kill(second, SIGTERM);
    ::waitpid(second, nullptr, 0);
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
