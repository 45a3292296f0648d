// The further device services over the real libimobiledevice path to the simulated device,
// and the unmodified libimobiledevice command-line clients against the same services.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "MainLoop.h"
#include "SimServiceFixture.h"
#include "device/AMFileRelay.h"
#include "device/AMIOSDiagnosticsRelay.h"
#include "device/AMInstallationProxy.h"
#include "device/AMMobileDiagnosticsRelay.h"
#include "device/AMMobileSync.h"
#include "device/AMNotificationProxy.h"
#include "device/AMScreenshotService.h"
#include "device/AMSyslogRelay.h"

using foundation::Value;
using testing::ElementsAre;

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

class SimFurtherServices : public devicetest::SimServiceTest {
protected:
    void SetUp() override {
        SimServiceTest::SetUp();
        phone = amDevice(simulated);
        ASSERT_TRUE(phone);
    }
    // The client's whole output, once it has ended.
    std::string output(const std::string& command) {
        RunningClient client({"sh", "-c", command});
        client.waitForOutput("\x01");
        return client.text();
    }
    std::string udid() const { return simulated->config().udid; }
    std::vector<Value> received(const std::string& service) {
        return simulated->services().locked([&](auto& f) { return f.received[service]; });
    }
    std::shared_ptr<AMDevice> phone;
};

// The image file's type as the decoder names it, and its size; "" when it is no image.
std::string imageType(const std::string& path, int* width = nullptr, int* height = nullptr) {
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), width, height);
    if (!format) return {};
    gchar* name = gdk_pixbuf_format_get_name(format);
    std::string type = name;
    g_free(name);
    return type;
}

// Names heard by an observer, on the proxy's thread.
struct Heard {
    void add(const std::string& name) {
        std::lock_guard lock(mutex);
        names.push_back(name);
        changed.notify_all();
    }
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return names.size() >= count; });
        return names;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> names;
};

TEST_F(SimFurtherServices, SyslogRelayHandsOnMessagesSplitAcrossReads) {
    // Longer than one read, so it arrives in pieces.
    const std::string longMessage =
        std::string(3 * AMSyslogRelay::kReadLength, 'l') + " \xc3\xa9nd";
    simulated->services().locked([&](auto& f) {
        f.syslogMessages = {"first", longMessage, "last"};
    });
    std::vector<std::string> messages;
    auto relay = phone->newAMSyslogRelay([&](const std::string& m) { messages.push_back(m); });
    ASSERT_TRUE(relay);
    EXPECT_TRUE(relay->isListening());
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return messages.size() >= 3; }));
    EXPECT_THAT(messages, ElementsAre("first", longMessage, "last"));
}

TEST_F(SimFurtherServices, NotificationProxyObservesAndPosts) {
    auto proxy = phone->newAMNotificationProxy();
    ASSERT_TRUE(proxy);
    ASSERT_TRUE(proxy->isListening());
    Heard heard;
    int marker = 0;
    const auto handler = [&](const std::string& name) { heard.add(name); };
    EXPECT_TRUE(proxy->addObserverName(&marker, handler, "com.example.changed"));
    EXPECT_FALSE(proxy->addObserverName(&marker, handler, "com.example.changed"));
    EXPECT_TRUE(proxy->addObserverName(&heard, handler, "com.example.changed"));
    // A notification posted on the device reaches every observer of the name, the
    // poster's own connection included; other names reach no one.
    EXPECT_TRUE(proxy->postNotification("com.example.unobserved"));
    EXPECT_TRUE(proxy->postNotification("com.example.changed"));
    EXPECT_THAT(heard.waitFor(2), ElementsAre("com.example.changed", "com.example.changed"));
    proxy->removeObserver(&marker);
    EXPECT_TRUE(proxy->postNotification("com.example.changed"));
    EXPECT_THAT(heard.waitFor(3),
                ElementsAre("com.example.changed", "com.example.changed", "com.example.changed"));

    proxy->stopListening();
    EXPECT_FALSE(proxy->isListening());
    std::vector<std::string> commands;
    for (const auto& request : received("com.apple.mobile.notification_proxy")) {
        commands.push_back(request["Command"].stringOr() + " " + request["Name"].stringOr());
    }
    EXPECT_THAT(commands, ElementsAre("ObserveNotification com.example.changed",
                                      "PostNotification com.example.unobserved",
                                      "PostNotification com.example.changed",
                                      "PostNotification com.example.changed", "Shutdown "));
}

TEST_F(SimFurtherServices, FrameworkListenerCallsObserversPastThrowingOnes) {
    auto proxy = phone->newAMNotificationProxy();
    auto poster = phone->newAMNotificationProxy();
    ASSERT_TRUE(proxy && poster);
    Heard heard;
    const auto record = [&](const std::string& name) { heard.add(name); };
    int throwsError = 0;
    int throwsOther = 0;
    proxy->addObserverName(
        &throwsError, [](const std::string&) { throw std::runtime_error("observer failed"); },
        "com.example.first");
    proxy->addObserverName(&throwsOther, [](const std::string&) { throw 7; }, "com.example.first");
    proxy->addObserverName(&heard, record, "com.example.first");
    proxy->addObserverName(&heard, record, "com.example.second");
    ASSERT_TRUE(proxy->amdListenForNotifications());
    EXPECT_TRUE(proxy->isListening());
    ASSERT_TRUE(simulated->services().waitForObserver("com.example.second"));

    // Posted on another connection; the throwing observers neither stop the others of the
    // name nor end the listening.
    EXPECT_TRUE(poster->postNotification("com.example.first"));
    EXPECT_THAT(heard.waitFor(1), ElementsAre("com.example.first"));
    EXPECT_TRUE(poster->postNotification("com.example.second"));
    EXPECT_THAT(heard.waitFor(2), ElementsAre("com.example.first", "com.example.second"));

    proxy->stopListening();
    EXPECT_FALSE(proxy->isListening());
    const auto requests = received("com.apple.mobile.notification_proxy");
    EXPECT_EQ(requests.back()["Command"].stringOr(), "Shutdown");
}

TEST_F(SimFurtherServices, FileRelayWritesTheArchiveOnce) {
    const std::string archive = scratch / "sets.cpio.gz";
    auto relay = phone->newAMFileRelay();
    ASSERT_TRUE(relay);
    {
        std::ofstream out(archive, std::ios::binary);
        ASSERT_TRUE(relay->getFileSetsInto({"SystemConfiguration", "Lockdown"}, out))
            << relay->lasterror();
    }
    // Read by independent tools.
    std::string listing;
    if (FILE* pipe = ::popen(("gzip -dc " + archive + " | cpio -it --quiet").c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe)) listing += line;
        ::pclose(pipe);
    }
    EXPECT_EQ(listing,
              "./var/preferences/SystemConfiguration/NetworkInterfaces.plist\n"
              "./var/preferences/SystemConfiguration/preferences.plist\n"
              "./var/root/Library/Lockdown/data_ark.plist\n");

    std::ostringstream unused;
    EXPECT_FALSE(relay->getFileSetInto("Lockdown", unused));
    EXPECT_EQ(relay->lasterror(), "AlreadyUsed");
    EXPECT_EQ(received("com.apple.mobile.file_relay").size(), 1u);

    auto refused = phone->newAMFileRelay();
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->getFileSetInto("NoSuchSet", unused));
    EXPECT_EQ(refused->lasterror(), "InvalidSource");
    EXPECT_TRUE(unused.str().empty());
}

TEST_F(SimFurtherServices, DiagnosticsRelaysAnswerOrSayWhyNot) {
    auto relay = phone->newAMMobileDiagnosticsRelay();
    ASSERT_TRUE(relay);
    EXPECT_EQ(relay->getGasGaugeDiagnostics()["GasGauge"]["CycleCount"], Value(212));
    EXPECT_TRUE(relay->getWiFiDiagnostics()["WiFi"].isDictionary());
    EXPECT_EQ(relay->getMobileGestaltValue("ProductType"), Value("iPhone12,1"));
    EXPECT_EQ(relay->test()["MobileGestalt"]["DeviceSupports3DMaps"], Value(true));
    EXPECT_TRUE(relay->getDiagnostics("NoSuchKind").isNil());
    EXPECT_EQ(relay->lasterror(), "UnknownRequest");
    EXPECT_TRUE(relay->sleep());
    EXPECT_TRUE(relay->goodbye());

    auto older = phone->newAMIOSDiagnosticsRelay();
    ASSERT_TRUE(older);
    EXPECT_EQ(older->getDiagnostics().size(), 4u);
    EXPECT_EQ(older->goodbye(), 0);
    EXPECT_EQ(AMIOSDiagnosticsRelay::checkResult(Value::dict({{"Status", "Failure"}})), -1);
}

class RecordingDelegate : public AMServiceDelegate {
public:
    void operationStarted(const Value& request) override {
        events.push_back("started " + request["Command"].stringOr());
    }
    void operationContinues(const Value& reply) override {
        events.push_back("continues " + reply["Status"].stringOr(reply["Error"].stringOr()));
    }
    void operationCompleted(const Value&) override { events.push_back("completed"); }
    std::vector<std::string> events;
};

TEST_F(SimFurtherServices, InstallationProxyBrowsesInstallsAndArchives) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto proxy = phone->newAMInstallationProxyWithDelegate(delegate);
    ASSERT_TRUE(proxy);
    const auto all = proxy->browse();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 4u);
    const auto sharing =
        proxy->browseFiltered([](const AMApplication& app) { return app.fileSharingEnabled(); });
    ASSERT_TRUE(sharing);
    EXPECT_EQ(sharing->size(), 3u);
    const auto found = proxy->lookupTypeWithAttribute("User", {});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->at("com.example.recorder").appname(), "Voice Memos Pro");

    delegate->events.clear();
    EXPECT_FALSE(proxy->install("PublicStaging/Sample.ipa"));
    EXPECT_EQ(proxy->lasterror(), "PackageInspectionFailed");
    std::filesystem::create_directories(media("PublicStaging"));
    std::ofstream(media("PublicStaging/Sample.ipa")) << "PK";
    EXPECT_TRUE(proxy->install("PublicStaging/Sample.ipa"));
    EXPECT_THAT(delegate->events,
                ElementsAre("started Install", "continues PackageInspectionFailed", "completed",
                            "started Install", "continues CreatingStagingDirectory",
                            "continues InstallingApplication", "continues Complete", "completed"));
    EXPECT_TRUE(proxy->upgradeFrom("com.example.reader", "PublicStaging/Sample.ipa"));
    EXPECT_FALSE(proxy->upgradeFrom("com.example.unknown", "PublicStaging/Sample.ipa"));

    EXPECT_FALSE(
        proxy->archiveContainerPayloadUninstall("com.example.reader", false, false, false));
    EXPECT_TRUE(proxy->archiveContainerPayloadUninstall("com.example.reader", true, false, false));
    EXPECT_THAT(proxy->archivedAppBundleIds(), ElementsAre("com.example.reader"));
    EXPECT_TRUE(proxy->restore("com.example.reader"));
    EXPECT_TRUE(proxy->removeArchive("com.example.reader"));
    EXPECT_FALSE(proxy->restore("com.example.reader"));
    EXPECT_TRUE(proxy->archivedAppBundleIds().empty());
    const Value archive = received("com.apple.mobile.installation_proxy")[7];
    EXPECT_EQ(archive["ClientOptions"],
              Value::dict({{"ArchiveType", "DocumentsOnly"}, {"SkipUninstall", true}}));
}

TEST_F(SimFurtherServices, ScreenshotComesAsImageData) {
    auto screenshot = phone->newAMScreenshotService();
    ASSERT_TRUE(screenshot) << phone->lasterror();
    NSImage::Image image = screenshot->getScreenshot();
    ASSERT_TRUE(image) << screenshot->lasterror();
    EXPECT_EQ(gdk_pixbuf_get_width(image.get()), 60);
    EXPECT_EQ(gdk_pixbuf_get_height(image.get()), 60);
    for (const auto& [name, type] : {std::pair{"shot.png", "png"}, std::pair{"shot.jpg", "jpeg"}}) {
        const std::string path = scratch / name;
        ASSERT_TRUE(type == std::string("png") ? screenshot->getPNGScreenshot(path)
                                               : screenshot->getJPEGScreenshot(path));
        EXPECT_EQ(imageType(path), type);
    }
    simulated->services().locked([](auto& f) { f.screenshot = {'n', 'o', 'p', 'e'}; });
    EXPECT_FALSE(screenshot->getPNGScreenshot(scratch / "bad.png"));
    EXPECT_EQ(screenshot->lasterror(), "Bad image data in ScreenShotData");
    EXPECT_FALSE(std::filesystem::exists(scratch / "bad.png"));
}

TEST_F(SimFurtherServices, MobileSyncShakesHandsAndAsksForContacts) {
    auto sync = phone->newAMMobileSync();
    ASSERT_TRUE(sync);
    EXPECT_TRUE(sync->getContactData().isNil());
    const auto messages = received("com.apple.mobilesync");
    ASSERT_EQ(messages.size(), 1u);
    const Value& request = messages[0]["DLMessageProcessMessage"];
    EXPECT_EQ(request[std::size_t{0}], Value("SDMessageGetAllRecordsFromDevice"));
    EXPECT_EQ(request[std::size_t{1}], Value("com.apple.Contacts"));
    EXPECT_EQ(request[std::size_t{4}], Value(106));
}

TEST_F(SimFurtherServices, SyslogStreamsTheDeviceLog) {
    RunningClient syslog({"stdbuf", "-oL", "idevicesyslog", "-u", udid(), "--no-colors"});
    EXPECT_TRUE(syslog.waitForOutput("wifi link up")) << syslog.text();
    EXPECT_NE(syslog.text().find("scene updated"), std::string::npos) << syslog.text();
}

TEST_F(SimFurtherServices, DiagnosticsAnswersEachRequest) {
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " diagnostics GasGauge")
                  .find("<key>CycleCount</key>"),
              std::string::npos);
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " mobilegestalt ProductType")
                  .find("<string>iPhone12,1</string>"),
              std::string::npos);
    EXPECT_NE(output("idevicediagnostics -u " + udid() + " sleep; echo status $?").find("status 0"),
              std::string::npos);
}

TEST_F(SimFurtherServices, ScreenshotIsSavedAsPng) {
    const std::string path = scratch / "screen.png";
    const std::string said = output("idevicescreenshot -u " + udid() + " " + path);
    EXPECT_NE(said.find("Screenshot saved to"), std::string::npos) << said;
    int width = 0;
    int height = 0;
    EXPECT_EQ(imageType(path, &width, &height), "png");
    EXPECT_EQ(width, 60);
    EXPECT_EQ(height, 60);
}

TEST_F(SimFurtherServices, NotificationsPassBetweenTheClientAndTheProxy) {
    auto proxy = phone->newAMNotificationProxy();
    ASSERT_TRUE(proxy);
    Heard heard;
    proxy->addObserverName(
        this, [&](const std::string& name) { heard.add(name); }, "com.example.from-client");
    ASSERT_TRUE(simulated->services().waitForObserver("com.example.from-client"));
    output("idevicenotificationproxy -u " + udid() + " post com.example.from-client");
    EXPECT_EQ(heard.waitFor(1), std::vector<std::string>{"com.example.from-client"});

    RunningClient observer({"stdbuf", "-oL", "idevicenotificationproxy", "-u", udid(), "observe",
                            "com.example.from-proxy"});
    ASSERT_TRUE(simulated->services().waitForObserver("com.example.from-proxy"));
    EXPECT_TRUE(proxy->postNotification("com.example.from-proxy"));
    EXPECT_TRUE(observer.waitForOutput("> com.example.from-proxy")) << observer.text();
}

}  // namespace
