#include <gtest/gtest.h>

#include "NativeUiDriver.h"
#include "WebWindowFixture.h"
#include "shell/KolvexAppDelegate.h"

using apptest::OpenedWindows;
using apptest::WebWindowTest;

namespace {

// The real page opens a device in a window of its own, which resizes and closes itself.
TEST_F(WebWindowTest, ADeviceOpensInAWindowOfItsOwn) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 900, 600},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, {}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto& main = *delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(main, "typeof App.ui.openDeviceWindow", "\"function\""));

    OpenedWindows opened;
    eval(main, "App.ui.openDeviceWindow({deviceId: 'dev-1', name: 'Test phone', "
               "model: 'iPhone', osversion: '17.1'}); 0");
    WVWindowController* device = nullptr;
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        for (auto* controller : opened.all)
            if (controller != delegate.windowController().get()) device = controller;
        return device != nullptr;
    }));
    EXPECT_EQ(device->name(), "device-dev-1");
    auto own = device->window();
    auto page = device->webview();
    EXPECT_EQ(own->styleMask(), std::uint64_t(15));
    EXPECT_EQ(own->frame().width, 480);
    EXPECT_EQ(own->frame().height, 360);
    waitForValue(*page, "document.getElementById('window-size').textContent",
                 "\"Window: 480 × 360 at 60, 60\"");
    EXPECT_EQ(eval(*page, "document.title"), "\"Test phone\"");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return own->title() == "Test phone"; }));

    eval(*page, "document.getElementById('window-wider').click(); 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return own->frame().width == 580; }));
    waitForValue(*page, "document.getElementById('window-size').textContent",
                 "\"Window: 580 × 360 at 60, 60\"");
    waitForValue(*page, "window.innerWidth", "580");
    eval(*page, "requestAnimationFrame(function () { requestAnimationFrame(function () { "
                "window.painted = true; }); }); 0");
    waitForValue(*page, "window.painted === true", "true");
    apptest::screenshot("device-window.png");

    eval(*page, "document.getElementById('window-close').click(); 0");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return own->isClosed(); }));
}

}  // namespace
