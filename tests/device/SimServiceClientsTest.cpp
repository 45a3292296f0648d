// Unmodified libimobiledevice command-line clients against the simulated device's relays,
// notification proxy and screenshot service.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "SimServiceFixture.h"
#include "device/AMNotificationProxy.h"

namespace {

// A client running in the background with its output on a pipe; ended with the test.
class RunningClient {
public:
    explicit RunningClient(const std::vector<std::string>& command) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output_ = fds[0];
    }
    ~RunningClient() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    // Reads the output until it holds the text; false when the client ends or stays
    // silent for the limit before that.
    bool waitForOutput(const std::string& text) {
        pollfd entry{output_, POLLIN, 0};
        while (text_.find(text) == std::string::npos) {
            char buffer[4096];
            if (::poll(&entry, 1, 30000) != 1) return false;
            const ssize_t count = ::read(output_, buffer, sizeof buffer);
            if (count <= 0) return false;
            text_.append(buffer, static_cast<std::size_t>(count));
        }
        return true;
    }
    const std::string& text() const { return text_; }

private:
    pid_t pid_ = 0;
    int output_ = -1;
    std::string text_;
};

class SimServiceClients : public devicetest::SimServiceTest {
protected:
    std::string output(const std::string& command) {
        RunningClient client({"sh", "-c", command});
        client.waitForOutput("\x01");  // everything, up to the client's end
        return client.text();
    }
    std::string udid() const { return simulated->config().udid; }
};

TEST_F(SimServiceClients, SyslogStreamsTheDeviceLog) {
    RunningClient syslog({"stdbuf", "-oL", "idevicesyslog", "-u", udid(), "--no-colors"});
    EXPECT_TRUE(syslog.waitForOutput("wifi link up")) << syslog.text();
    EXPECT_NE(syslog.text().find("scene updated"), std::string::npos) << syslog.text();
}

TEST_F(SimServiceClients, DiagnosticsAnswersEachRequest) {
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " diagnostics GasGauge")
                  .find("<key>CycleCount</key>"),
              std::string::npos);
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " mobilegestalt ProductType")
                  .find("<string>iPhone12,1</string>"),
              std::string::npos);
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " sleep; echo status $?").find("status 0"),
              std::string::npos);
}

TEST_F(SimServiceClients, ScreenshotIsSavedAsPng) {
    const std::string path = scratch / "screen.png";
    const std::string said = output("idevicescreenshot -u " + udid() + " " + path);
    EXPECT_NE(said.find("Screenshot saved to"), std::string::npos) << said;
    int width = 0;
    int height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    ASSERT_TRUE(format);
    EXPECT_STREQ(gdk_pixbuf_format_get_name(format), "png");
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 96);
}

TEST_F(SimServiceClients, NotificationsPassBetweenTheClientAndTheProxy) {
    auto proxy = amDevice(simulated)->newAMNotificationProxy();
    ASSERT_TRUE(proxy);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> heard;
    proxy->addObserverName(
        this,
        [&](const std::string& name) {
            std::lock_guard lock(mutex);
            heard.push_back(name);
            changed.notify_all();
        },
        "com.example.from-client");
    ASSERT_TRUE(simulated->services().waitForObserver("com.example.from-client"));
    output("idevicenotificationproxy -u " + udid() + " post com.example.from-client");
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return !heard.empty(); });
        EXPECT_EQ(heard, std::vector<std::string>{"com.example.from-client"});
    }

    RunningClient observer({"stdbuf", "-oL", "idevicenotificationproxy", "-u", udid(), "observe",
                            "com.example.from-proxy"});
    ASSERT_TRUE(simulated->services().waitForObserver("com.example.from-proxy"));
    EXPECT_TRUE(proxy->postNotification("com.example.from-proxy"));
    EXPECT_TRUE(observer.waitForOutput("> com.example.from-proxy")) << observer.text();
}

}  // namespace
