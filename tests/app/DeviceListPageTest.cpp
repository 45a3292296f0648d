#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <functional>
#include <thread>

#include "WebWindowFixture.h"
#include "device/iPodDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScratchFolder.h"
#include "media/GpodFixtures.h"
#include "platform/webkit/WebView.h"
#include "shell/KolvexAppDelegate.h"

using apptest::WebWindowTest;
using foundation::Value;

namespace {

TEST(KolvexAppDelegateDevices, SummaryHasTwelveKeysAndRemovalTakesTheFirstMatch) {
    foundationtest::ScratchFolder scratch;
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(scratch.path(), "P-1");
    testsupport::FakeMobileDevice::Identity identity;
    identity.phoneNumber = std::nullopt;
    identity.buildVersion = std::nullopt;
    phone->setIdentity(identity);
    EXPECT_EQ(KolvexAppDelegate::jsonOfDevice(*phone).dictionary()->size(), 12u);
    phone->setLastErrorCode(-402653083);
    const Value summary = KolvexAppDelegate::jsonOfDevice(*phone);
    ASSERT_TRUE(summary.isDictionary());
    EXPECT_EQ(summary["phonenumber"], Value(""));
    EXPECT_EQ(summary["buildversion"], Value(""));
    EXPECT_EQ(summary["lastErrorCode"], Value(-402653083));
    EXPECT_EQ(summary["deviceId"], Value("P-1"));
    // A failure also comes in words, for the page; any status has some.
    EXPECT_EQ(summary.dictionary()->size(), 13u);
    ASSERT_TRUE(summary["lastErrorText"].string());
    EXPECT_NE(summary["lastErrorText"].string()->find_first_not_of("-0123456789"),
              std::string::npos);

    // A disk-mode iPod is never asked for its error code.
    auto pod = std::make_shared<testsupport::FakeMobileDevice>(scratch.path(), "POD");
    identity.deviceType = kDeviceTypeiPodDiskMode;
    pod->setIdentity(identity);
    pod->setLastErrorCode(5);
    pod->resetCallCounts();
    EXPECT_EQ(KolvexAppDelegate::jsonOfDevice(*pod)["lastErrorCode"], Value(0));
    EXPECT_EQ(pod->callCount("lastErrorCode"), 0);

    KolvexAppDelegate delegate(nullptr, {}, {"orvandel"});
    auto twin = std::make_shared<testsupport::FakeMobileDevice>(scratch.path(), "P-1");
    std::thread([&] {
        delegate.DeviceAdded(phone);
        delegate.DeviceAdded(twin);
    }).join();
    EXPECT_EQ(delegate.findMobileDeviceById("P-1"), phone);
    std::thread([&] { delegate.DeviceRemoved(twin); }).join();
    EXPECT_EQ(delegate.findMobileDeviceById("P-1"), twin);  // the first of the two went
    EXPECT_EQ(delegate.findMobileDeviceById("nobody"), nullptr);
}

TEST_F(WebWindowTest, TheStartPageListsDevicesAsTheyComeAndGo) {
    foundationtest::ScratchFolder scratch;
    // An iPod folder written by libgpod.
    std::filesystem::create_directories(scratch / "IPOD/iPod_Control/iTunes");
    auto itdb = mediatest::makeGpodDatabase(2);
    ASSERT_TRUE(mediatest::writeGpodDatabase(itdb.get(), scratch / "IPOD/iPod_Control/iTunes/iTunesDB"));
    auto pod = std::make_shared<iPodDevice>(scratch / "IPOD",
                                            [](const std::string&) { return "000A27001B2C3D4E"; });
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(scratch / "phone", "PHONE-1");

    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 900, 600},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    std::atomic<bool> detecting = false;
    AppServices services;
    services.startDeviceDetection = [&](std::uint32_t) { return detecting = true; };
    KolvexAppDelegate delegate(window, services, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return detecting.load(); }));
    auto view = delegate.windowController()->webview();

    // Announced from foreign threads, as the detectors do; the bridge waits for the main
    // loop to take each push.
    onOtherThread([&] { delegate.DeviceAdded(pod); });
    onOtherThread([&] { delegate.DeviceAdded(phone); });
    const std::string names =
        "Array.from(document.querySelectorAll('#devices > li')).map(li => li.querySelector('.device-name')"
        ".textContent + ' ' + li.querySelector('.device-details').textContent).join('|')";
    // The phone stands first although it came second.
    waitForValue(*view, names, "\"Fake Phone iPhone · model MN123 · version 16.4|Gpod iPod iPod (disk mode)\"");
    delegate.beforeLoadingTracksOf(*phone);
    waitForValue(*view, "document.querySelector('#devices .device-status').textContent",
                 "\"loading library…\"");
    onOtherThread([&] { delegate.DeviceRemoved(pod); });
    waitForValue(*view, names, "\"Fake Phone iPhone · model MN123 · version 16.4\"");
    onOtherThread([&] { delegate.DeviceRemoved(phone); });
    waitForValue(*view, "document.querySelector('#devices .empty') !== null", "true");

    // A device's failure is shown in plain words; its code stays in the details.
    phone->setLastErrorCode(-402653083);
    onOtherThread([&] { delegate.DeviceAdded(phone); });
    waitForValue(*view, "document.querySelector('#devices .error').textContent",
                 "\"Last device error: " + phone->statusText(-402653083) + "\"");
    EXPECT_EQ(eval(*view, "document.querySelector('#devices .error').textContent.includes('402653083')"), "false");
    EXPECT_EQ(eval(*view, "document.querySelector('#devices .error').title"), "\"Status -402653083 (0xe8000065)\"");
    eval(*view, "document.querySelector('#devices .device-details-open').click(); true");
    waitForValue(*view,
                 "(document.querySelector('#devices [data-label=\"Last error code\"] dd') || {}).textContent",
                 "\"-402653083 (0xe8000065)\"");
}

}  // namespace
