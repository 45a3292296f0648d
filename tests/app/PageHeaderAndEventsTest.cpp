#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "WebWindowFixture.h"
#include "content/PageOrigins.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScratchFolder.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/bridge/WKWebViewScriptBridge.h"
#include "support/httpserver/TestHttpServer.h"

using apptest::WebWindowTest;
using foundation::Value;

namespace {

constexpr const char* kHeader = "document.getElementById('connected').textContent";

std::shared_ptr<testsupport::FakeMobileDevice> device(const std::string& root,
                                                      const std::string& id,
                                                      const std::string& name,
                                                      const std::string& phoneNumber) {
    std::filesystem::create_directories(root);
    auto made = std::make_shared<testsupport::FakeMobileDevice>(root, id);
    testsupport::FakeMobileDevice::Identity identity;
    identity.name = name;
    identity.phoneNumber = phoneNumber;
    made->setIdentity(identity);
    return made;
}

// The start page's header names what is connected, and says nothing while nothing is; the
// events' raw data, a phone number among it, is not shown outside development mode.
TEST_F(WebWindowTest, TheHeaderNamesTheConnectedDevicesAndTheEventsStayHidden) {
    foundationtest::ScratchFolder folder;
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1000, 700},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, {}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto& view = *delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(view, "document.documentElement.dataset.bridge", "\"ready\""));
    EXPECT_EQ(eval(view, kHeader), "\"\"");

    auto phone = device(folder / "phone", "DEV-1", "Ada's iPhone", "+1 555 0100");
    auto pad = device(folder / "pad", "DEV-2", "Studio iPad", "");
    delegate.DeviceAdded(phone);
    waitForValue(view, kHeader, "\"Connected: Ada's iPhone\"");
    delegate.DeviceAdded(pad);
    waitForValue(view, kHeader, "\"Connected: Ada's iPhone, Studio iPad\"");
    screenshot(view, "header-two-devices");
    EXPECT_EQ(eval(view, "document.getElementById('section-events').hidden"), "true");
    EXPECT_EQ(eval(view, "document.querySelectorAll('#events li').length"), "0");
    EXPECT_EQ(eval(view, "document.body.innerText.indexOf('555 0100')"), "-1");

    delegate.DeviceRemoved(phone);
    waitForValue(view, kHeader, "\"Connected: Studio iPad\"");
    delegate.DeviceRemoved(pad);
    waitForValue(view, kHeader, "\"\"");
    screenshot(view, "header-no-device");
}

// In development mode the page comes from the development server; there the events panel
// shows each event with its data. The server is slow with the devices' script: the bridge
// is ready only once the page's scripts have run, so the header still hears the device.
TEST_F(WebWindowTest, TheEventsPanelShowsInDevelopmentMode) {
    testsupport::TestHttpServer server([](const testsupport::ReceivedRequest& request) {
        std::string path = request.target.substr(0, request.target.find('?'));
        if (path == "/") path = "/index.html";
        const std::string body = foundationtest::contentsOf(std::string(ORVANDEL_WEB_DIR) + path);
        if (body.empty()) {
            testsupport::ScriptedAnswer missing;
            missing.raw = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            return missing;
        }
        const std::string type = path.ends_with(".js")    ? "text/javascript"
                                 : path.ends_with(".css") ? "text/css"
                                                          : "text/html";
        auto answer = testsupport::ScriptedAnswer::ok(body, "Content-Type: " + type + "\r\n");
        if (path == "/js/devices.js") answer.delay = std::chrono::milliseconds(500);
        return answer;
    });
    content::PageOrigins::setDevelopmentServer(server.url(""));
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 1000, 700}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    controller->loadURLString(server.url("/"));
    controller->showWindow();
    auto& view = *controller->webview();
    ASSERT_TRUE(waitForValue(view, "document.documentElement.dataset.bridge", "\"ready\""));
    EXPECT_EQ(eval(view, "document.getElementById('section-events').hidden"), "false");
    controller->wvbridge()->callHandler(
        "deviceAdded", Value::dict({{"deviceId", "DEV-1"}, {"name", "Ada's iPhone"},
                                    {"deviceType", 514}, {"phonenumber", "+1 555 0100"}}));
    waitForValue(view, kHeader, "\"Connected: Ada's iPhone\"");
    waitForValue(view,
                 "document.querySelector('#events li').textContent.indexOf("
                 "'deviceAdded  {\"deviceId\":\"DEV-1\"') > 0 && "
                 "document.body.innerText.indexOf('555 0100') >= 0",
                 "true");
    EXPECT_EQ(eval(view, "document.getElementById('section-events').getBoundingClientRect()"
                         ".height > 0"),
              "true");
    eval(view, "document.getElementById('section-events').scrollIntoView(); 0");
    screenshot(view, "events-in-development-mode");
    content::PageOrigins::setDevelopmentServer(std::nullopt);
    controller->window()->close();
}

}  // namespace
