// A phone whose services stop answering, before a reply, half-way through one, or in the
// middle of a copy: every request and reply, send and copy fails as timed out once the
// phone's time limit has passed, instead of waiting for the phone for good; and a stream
// ends when the phone leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EndsInTime.h"
#include "SimulatorFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AMDLService.h"
#include "device/AMIOSDiagnosticsRelay.h"
#include "device/AMInstallationProxy.h"
#include "device/AMMobileDiagnosticsRelay.h"
#include "device/AMNotificationProxy.h"
#include "device/AMScreenshotService.h"
#include "device/DeviceCopyDelegate.h"
#include "device/iPhoneDevice.h"
#include "foundation/ScratchFolder.h"
#include "support/MainLoop.h"

namespace {

namespace fs = std::filesystem;
using devicetest::endsInTime;
using foundation::Value;

constexpr const char* kSpringboard = "com.apple.springboardservices";
constexpr const char* kMedia = "com.apple.afc";
// An application the simulated phone has, with a container of its own.
constexpr const char* kApplication = "com.example.recorder";

class SimSilentPhone : public devicetest::SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        simdevice::SimDeviceConfig config = configFor("00008101-SILENT00000001");
        config.silenceable = true;
        config.root = scratch / "media";
        config.containersRoot = scratch / "containers";
        fs::create_directories(config.root);
        fs::create_directories(config.containersRoot);
        // What the cases ask for is there, so that only the silence makes them fail.
        fs::create_directories(fs::path(config.root) / "PublicStaging");
        std::ofstream(fs::path(config.root) / "PublicStaging/app.ipa") << "package";
        // These speak through TLS, the others plainly.
        config.secureServices = {AMMobileDiagnosticsRelay::kServiceName,
                                 AMNotificationProxy::kServiceName};
        simulated = attachPaired(config);
        mobiledevice::DeviceTimeLimits limits;
        // Long enough for every normal exchange through the relay on a loaded sanitizer run.
        limits.serviceReply = std::chrono::milliseconds(3000);
        am = amDevice(simulated, limits);
        ASSERT_TRUE(am);
    }
    // The service stops answering after `bytes` more; a call still waiting for it is let go
    // by its hanging up.
    void silence(const std::string& service, std::uint64_t bytes = 0) {
        simulated->silence().fallSilentAfter(service, bytes);
    }
    std::function<void()> hangUp(const std::string& service) {
        return [this, service] { simulated->silence().hangUp(service); };
    }

    foundationtest::ScratchFolder scratch;
    std::shared_ptr<simdevice::SimDevice> simulated;
    std::shared_ptr<AMDevice> am;
};

TEST_F(SimSilentPhone, RequestsToServicesThatStopAnsweringFailAsTimedOut) {
    auto phone = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(phone->createWithDeviceEnableAfc2(am, false));
    const auto timedOut = [&] {
        return am->lastcode() == std::int32_t(mobiledevice::kAMDTimeOutError);
    };
    // Made before its phone falls silent, which would also keep its TLS handshake unanswered.
    auto secureRelay = am->newAMMobileDiagnosticsRelay();
    ASSERT_TRUE(secureRelay && secureRelay->isSecureConnection());
    const struct {
        const char* name;
        const char* service;
        std::function<bool()> failsAsTimedOut;
    } cases[] = {
        {"application icon", kSpringboard,
         [&] { return !phone->getIconDataForApp(kApplication); }},
        {"installed applications", AMInstallationProxy::kServiceName,
         [&] { return !am->installedApplications() && timedOut(); }},
        {"installation proxy", AMInstallationProxy::kServiceName,
         [&] {
             auto proxy = am->newAMInstallationProxyWithDelegate(nullptr);
             return proxy && !proxy->install("/PublicStaging/app.ipa");
         }},
        {"diagnostics, secure", AMMobileDiagnosticsRelay::kServiceName,
         [&] { return secureRelay->getDiagnostics("All").isNil(); }},
        {"iOS diagnostics", AMIOSDiagnosticsRelay::kServiceName,
         [&] {
             auto relay = am->newAMIOSDiagnosticsRelay();
             return relay && relay->getDiagnostics().isNil();
         }},
        {"DeviceLink handshake", AMScreenshotService::kServiceName,
         [&] { return !am->newAMScreenshotService(); }},
        {"application container", "com.apple.mobile.house_arrest",
         // A container that does not open says so in words only, whatever the reason.
         [&] {
             return !am->newAFCApplicationDirectory(kApplication) &&
                    am->lasterror() == std::string("Unable to find bundle with id: ") + kApplication;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        silence(c.service);
        am->setLastcode(0);
        EXPECT_TRUE(endsInTime(c.failsAsTimedOut, hangUp(c.service)));
        simulated->silence().answerAgain(c.service);
    }
}

// A service that goes quiet in the middle of a TLS record: its reply is waited for no
// longer than the limit, and fails as timed out.
TEST_F(SimSilentPhone, ASecureReplyCutOffInTheMiddleFailsAsTimedOut) {
    auto relay = am->newAMMobileDiagnosticsRelay();
    ASSERT_TRUE(relay);
    ASSERT_TRUE(relay->isSecureConnection());
    silence(AMMobileDiagnosticsRelay::kServiceName, 6);  // a record's header and a byte
    ASSERT_TRUE(relay->sendXMLRequest(Value::dict({{"Request", "All"}})));
    int code = 0;
    EXPECT_TRUE(endsInTime([&] { return relay->readXMLReplyWithReturn(&code); },
                           hangUp(AMMobileDiagnosticsRelay::kServiceName))
                    .isNil());
    EXPECT_EQ(code, -60);
}

// Copies in both directions with a phone that stops answering after the first piece: the
// copy fails, and a download leaves nothing on the computer. (An upload's partial file is
// on the phone, which no longer answers to have it removed.)
TEST_F(SimSilentPhone, CopiesWithAPhoneThatStopsAnsweringFail) {
    auto phone = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(phone->createWithDeviceEnableAfc2(am, false));
    const std::string content(4u << 20, 'c');
    std::ofstream(scratch / "media/song.m4a", std::ios::binary) << content;
    fs::create_directories(scratch / "pc");
    std::ofstream(scratch / "pc/upload.m4a", std::ios::binary) << content;
    for (bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        ASSERT_TRUE(phone->connect(false));
        auto delegate = std::make_shared<DeviceCopyDelegate>();
        delegate->setCb([&](std::int64_t, std::int64_t) { silence(kMedia); });
        const bool copied = endsInTime(
            [&] {
                return upload
                           ? phone->uploadFileFrom("/upload.m4a", scratch / "pc/upload.m4a",
                                                   delegate)
                           : phone->downloadFileTo("/song.m4a", scratch / "pc/song.m4a", delegate);
            },
            hangUp(kMedia));
        EXPECT_FALSE(copied);
        simulated->silence().answerAgain(kMedia);
    }
    EXPECT_FALSE(fs::exists(scratch / "media/upload.m4a"));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(scratch / "pc")) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"upload.m4a"});
}

// A notification proxy on a secure connection stops listening when its phone hangs up,
// rather than reading the closed connection again and again.
TEST_F(SimSilentPhone, ASecureNotificationProxyStopsListeningWhenThePhoneLeaves) {
    auto proxy = am->newAMNotificationProxy();
    ASSERT_TRUE(proxy && proxy->isSecureConnection());
    ASSERT_TRUE(proxy->isListening());
    simulated->silence().hangUp(AMNotificationProxy::kServiceName);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return !proxy->isListening(); }));
}

}  // namespace
