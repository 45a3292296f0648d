// The start page's device entry in the real page from the bundle: a pushed device summary
// is shown with its applications and their icons, read through "/fetch".
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <cstdlib>

#include "WebWindowFixture.h"
#include "content/CustomSchemeHandler.h"
#include "foundation/Json.h"
#include "platform/gtk/Window.h"
#include "shell/KolvexAppDelegate.h"
#include "shell/bridge/WKWebViewScriptBridge.h"

namespace {

using foundation::Value;

foundation::Data squarePng(std::uint32_t rgba) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 48, 48);
    gdk_pixbuf_fill(pixbuf, rgba);
    gchar* bytes = nullptr;
    gsize length = 0;
    gdk_pixbuf_save_to_buffer(pixbuf, &bytes, &length, "png", nullptr, nullptr);
    foundation::Data png(bytes, bytes + length);
    g_free(bytes);
    g_object_unref(pixbuf);
    return png;
}

// Stands in for the device listing and icons of "/fetch" for one phone.
class PhoneFetch : public content::RequestResponseHandler {
protected:
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<content::HTTPURLResponse> getResponse(const content::URLRequest& request,
                                                          content::SchemeTask&) override {
        std::map<std::string, std::string> query;
        for (auto& [name, value] : request.url.queryItems()) query[name] = value;
        auto response = std::make_shared<content::MyHttpURLResponse>(request.url, 200);
        if (query["type"] != "app") return response;
        if (query["udid"] == "00008030-GONE") {
            // What the listing says when the device did not answer.
            const std::string json = R"({"total":0,"records":[],"entry":"","error":-402653183})";
            response->setData(foundation::Data(json.begin(), json.end()));
            response->setMIMEType("application/json");
        } else if (query["action"] == "file-list") {
            Value records = Value(foundation::Array());
            for (const char* const* app : {kNotes, kPlayer}) {
                records.append(Value::dict({{"name", app[1]}, {"path", "/"}, {"isdir", true},
                                            {"type", 3}, {"id", app[0]}, {"entry", ""}}));
            }
            const std::string json = foundation::json::write(
                Value::dict({{"total", 2}, {"records", records}, {"entry", ""}, {"error", 0}}));
            response->setData(foundation::Data(json.begin(), json.end()));
            response->setMIMEType("application/json");
        } else if (query["action"] == "icon") {
            response->setData(squarePng(query["appid"] == kNotes[0] ? 0xf5c518ff : 0x2a7ae2ff));
            response->setMIMEType("image/png");
        }
        return response;
    }

public:
    static constexpr const char* kNotes[] = {"com.example.notes", "Notes"};
    static constexpr const char* kPlayer[] = {"com.example.player", "Player"};
};

class DevicesSectionTest : public apptest::WebWindowTest {
protected:
    void SetUp() override {
        // Ahead of the real "/fetch", which does not serve devices yet.
        static std::once_flag once;
        std::call_once(once, [] {
            content::CustomSchemeHandler::addResponseHandlerClass(
                {"PhoneFetch", "/fetch", nullptr, [] { return std::make_shared<PhoneFetch>(); }});
        });
        WebWindowTest::SetUp();
        if (content::CustomSchemeHandler::allResponseClasses().front().name != "PhoneFetch") {
            GTEST_SKIP() << "another test registered the responders first; run this test alone";
        }
    }
};

// Writes what the page shows to $ORVANDEL_SCREENSHOT_DIR/devices.png when that is set.
void saveSnapshot(WebKitWebView* view) {
    const char* folder = std::getenv("ORVANDEL_SCREENSHOT_DIR");
    if (!folder) return;
    bool done = false;
    struct Target {
        std::string path;
        bool* done;
    } target{std::string(folder) + "/devices.png", &done};
    webkit_web_view_get_snapshot(
        view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* into = static_cast<Target*>(data);
            cairo_surface_t* surface =
                webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            if (surface) {
                cairo_surface_write_to_png(surface, into->path.c_str());
                cairo_surface_destroy(surface);
            }
            *into->done = true;
        },
        &target);
    testsupport::runMainLoopUntil([&] { return done; });
}

TEST_F(DevicesSectionTest, ShowsThePhoneWithItsApplicationsAndIcons) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 1000, 700},
                                                gtk::Titled | gtk::Closable | gtk::Resizable);
    KolvexAppDelegate delegate(window, AppServices{}, {"orvandel"});
    delegate.awakeFromNib();
    window->show();
    auto view = delegate.windowController()->webview();
    ASSERT_TRUE(waitForValue(*view, "document.documentElement.dataset.bridge", "\"ready\""));

    const Value summary = Value::dict({
        {"deviceType", 514}, {"name", "Ada's iPhone"}, {"totalCapacity", std::uint64_t{64} << 30},
        {"freeCapacity", std::uint64_t{21474836480}}, {"serial", "F17XK0ABCD"}, {"phonenumber", ""},
        {"model", "MN8J2"}, {"firmware", "16.7.2"}, {"osversion", "16.7.2"},
        {"buildversion", "20H115"}, {"deviceId", "00008030-SIM"}, {"lastErrorCode", 0},
    });
    delegate.windowController()->wvbridge()->callHandler("deviceAdded", summary);
    const std::string entry = "document.querySelector('#devices [data-id=\"00008030-SIM\"]')";
    ASSERT_TRUE(waitForValue(*view, entry + ".querySelectorAll('.app-icon').length", "2"));
    EXPECT_EQ(eval(*view, entry + ".querySelector('.device-name').textContent"), "\"Ada's iPhone\"");
    EXPECT_EQ(eval(*view, entry + ".querySelector('.device-details').textContent"),
              "\"iPhone · model MN8J2 · version 16.7.2\"");
    EXPECT_EQ(eval(*view, entry + ".querySelector('.device-space').textContent"),
              "\"20.00 GB free of 64.00 GB\"");
    EXPECT_EQ(eval(*view, "Array.from(" + entry +
                              ".querySelectorAll('.app-name')).map(e => e.textContent).join()"),
              "\"Notes,Player\"");
    // Both icons decoded as images.
    EXPECT_TRUE(waitForValue(*view, "Array.from(" + entry +
                                        ".querySelectorAll('.app-icon')).every(i => i.complete && "
                                        "i.naturalWidth === 48)",
                             "true"));
    saveSnapshot(view->view());

    // A second phone whose list cannot be read shows why; removal empties the section.
    Value broken = summary;
    broken.set("deviceId", "00008030-GONE");
    delegate.windowController()->wvbridge()->callHandler("deviceAdded", broken);
    EXPECT_TRUE(waitForValue(
        *view, "document.querySelector('#devices [data-id=\"00008030-GONE\"] .apps li').textContent",
        "\"The application list could not be read: the device refused the request.\""));
    // The status itself stays in the details.
    EXPECT_EQ(eval(*view, "document.querySelector('#devices [data-id=\"00008030-GONE\"] .apps li').title"),
              "\"Status -402653183 (0xe8000001)\"");
    delegate.windowController()->wvbridge()->callHandler(
        "deviceRemoved", Value::dict({{"deviceId", "00008030-SIM"}}));
    delegate.windowController()->wvbridge()->callHandler(
        "deviceRemoved", Value::dict({{"deviceId", "00008030-GONE"}}));
    EXPECT_TRUE(waitForValue(*view, "document.getElementById('devices').textContent",
                             "\"No device connected.\""));
}

}  // namespace
