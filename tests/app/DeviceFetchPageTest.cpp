// "/fetch" in the running application's page over simulated phones found by the real
// detectors: ranged reads, a picture and a playing, seeking audio file from the device, the
// type icons of its files and its applications with their icons.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "app/AppDeviceFinder.h"
#include "app/DeviceDetection.h"
#include "device/iMobileDevice.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"
#include "media/AudioFixtures.h"
#include "shell/KolvexAppDelegate.h"
#include "simdevice/SimUsbmuxServer.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

constexpr char kPhoneId[] = "00008030-001A2B3C4D5E6F70";
constexpr char kOtherId[] = "00008030-00FFEEDDCCBBAA99";

// FNV-1a over the bytes, the same sum the page computes.
std::uint32_t checksum(const std::string& bytes) {
    std::uint32_t sum = 2166136261u;
    for (unsigned char c : bytes) sum = (sum ^ c) * 16777619u;
    return sum;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The page's device sections and the responder over two simulated phones.
class DeviceFetchPageTest : public apptest::WebWindowTest {
protected:
    void SetUp() override {
        WebWindowTest::SetUp();
        for (const std::string& root : {media, other}) {
            fs::create_directories(root + "/Pictures");
            fs::create_directories(root + "/Music");
        }
        GdkPixbuf* red = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 160, 120);
        gdk_pixbuf_fill(red, 0xD02020FF);
        ASSERT_TRUE(gdk_pixbuf_save(red, (media + "/Pictures/red.png").c_str(), "png", nullptr,
                                    nullptr));
        g_object_unref(red);
        ASSERT_TRUE(audiotest::makeTone(media + "/Music/tone.ogg", 4, "-c:a libvorbis"));
        std::mt19937 random(7);
        std::string data(3 * 1024 * 1024 + 17, '\0');
        for (char& c : data) c = char(random());
        std::ofstream(media + "/data.bin", std::ios::binary) << data;
        std::ofstream(other + "/data.bin", std::ios::binary) << data.substr(0, 1000);

        app = std::make_unique<apptest::SimulatedPhoneApp>(scratch.path());
        ASSERT_TRUE(app->start());
        view = &app->view();
        phone = attach(kPhoneId, "Sim Phone", media);
    }
    void TearDown() override {
        for (const auto& device : {phone, second})
            if (device) app->server.detach(device);
        // Gone from the page: the delegate has passed on every removal.
        waitForValue(*view, "document.querySelector('#devices .empty') !== null", "true");
        app.reset();
    }

    std::shared_ptr<simdevice::SimDevice> attach(const char* udid, const char* name,
                                                 const std::string& root) {
        simdevice::SimDeviceConfig config;
        config.udid = udid;
        config.name = name;
        config.root = root;
        config.containersRoot = scratch / (std::string(udid) + "-containers");
        auto device = app->server.attach(config);
        app->server.pairHost(device);
        waitForValue(*view, "document.querySelector('#devices [data-id=\"" + std::string(udid) +
                                "\"]') !== null", "true");
        return device;
    }
    std::shared_ptr<iMobileDevice> deviceObject(const std::string& udid) {
        for (const auto& device : app->manager.devices())
            if (device->uuid() == udid) return device;
        return nullptr;
    }
    void click(const std::string& selector) {
        eval(*view, "document.querySelector(" + foundation::json::write(Value(selector)) +
                        ").click(); true");
    }
    // Starts a fetch in the page whose outcome lands in window.fetched[key]: the status, the
    // "Content-Range" and the body's length and checksum.
    void startFetch(const std::string& key, const std::string& query, const std::string& range) {
        eval(*view, "window.fetched = window.fetched || {}; fetch('/fetch?" + query + "', " +
                        (range.empty() ? "{}" : "{headers: {Range: '" + range + "'}}") +
                        ").then(r => r.arrayBuffer().then(b => {"
                        "  let sum = 2166136261; for (const c of new Uint8Array(b))"
                        "    sum = Math.imul(sum ^ c, 16777619) >>> 0;"
                        "  window.fetched['" + key + "'] = [r.status, r.headers.get('Content-Range'),"
                        "    b.byteLength, sum]; })).catch(e => window.fetched['" + key +
                        "'] = String(e)); true");
    }
    std::string fetched(const std::string& key) {
        const std::string script = "JSON.stringify((window.fetched || {})['" + key + "'] || null)";
        testsupport::runMainLoopUntil([&] { return eval(*view, script) != "\"null\""; },
                                      std::chrono::seconds(20));
        return foundation::json::read(eval(*view, script)).value_or(Value()).stringOr();
    }
    static std::string fileQuery(const std::string& udid, const std::string& path) {
        return "action=file&udid=" + udid + "&path=" + path;
    }

    foundationtest::ScratchFolder scratch;
    const std::string media = scratch / "media";
    const std::string other = scratch / "other";
    std::unique_ptr<apptest::SimulatedPhoneApp> app;
    webkit::WebView* view = nullptr;
    std::shared_ptr<simdevice::SimDevice> phone, second;
};

TEST_F(DeviceFetchPageTest, RangedReadsGiveTheFilesBytesWhateverTheLetterCaseOfTheUdid) {
    const std::string data = fileBytes(media + "/data.bin");
    const std::string lower = [] {
        std::string id = kPhoneId;
        for (char& c : id) c = char(std::tolower(static_cast<unsigned char>(c)));
        return id;
    }();
    struct Case {
        const char* label;
        std::string udid, range;
        int status;
        std::size_t first, length;
    };
    const std::size_t size = data.size();
    const Case cases[] = {
        {"a middle range", kPhoneId, "bytes=1000-70999", 206, 1000, 70000},
        {"across pieces", lower, "bytes=1048000-2200000", 206, 1048000, 1152001},
        {"past the end, lowered", kPhoneId, "bytes=3145000-9999999", 206, 3145000, size - 3145000},
        {"no range: the whole file", lower, "", 200, 0, size},
        {"starting past the end", kPhoneId, "bytes=9999999-10000000", 416, 0, 0},
    };
    for (const auto& c : cases) startFetch(c.label, fileQuery(c.udid, "/data.bin"), c.range);
    for (const auto& c : cases) {
        const std::string part = data.substr(c.first, c.length);
        const std::string contentRange =
            c.status == 206 ? "\"bytes " + std::to_string(c.first) + "-" +
                                  std::to_string(c.first + c.length - 1) + "/" +
                                  std::to_string(size) + "\""
            : c.status == 416 ? "\"bytes */" + std::to_string(size) + "\""
                              : "null";
        EXPECT_EQ(fetched(c.label), "[" + std::to_string(c.status) + "," + contentRange + "," +
                                        std::to_string(c.length) + "," +
                                        std::to_string(checksum(part)) + "]")
            << c.label;
    }
    startFetch("unknown device", fileQuery("00008030-NOSUCHDEVICE", "/data.bin"), "");
    EXPECT_EQ(fetched("unknown device"), "[404,null,0,2166136261]");
}

TEST_F(DeviceFetchPageTest, APictureOpensAndAnAudioFilePlaysAndSeeksFromTheDevice) {
    const std::string rows =
        "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
        ".map(r => r.dataset.name).join('|')";
    // Every entry carries the icon of its type.
    ASSERT_TRUE(waitForValue(*view, rows, "\"Music|Pictures|data.bin\""));
    const std::string icons =
        "Array.from(document.querySelectorAll('#device-files .files-list tr[data-name]'))"
        ".map(r => { const i = r.querySelector('img.files-icon');"
        " return i && i.complete && i.naturalWidth > 0; }).join('|')";
    EXPECT_TRUE(waitForValue(*view, icons, "\"true|true|true\""));

    click("#device-files tr[data-name='Pictures']");
    ASSERT_TRUE(waitForValue(*view, rows, "\"red.png\""));
    click("#device-files tr[data-name='red.png'] button");
    EXPECT_TRUE(waitForValue(*view,
                             "(i => i && i.complete ? [i.naturalWidth, i.naturalHeight] : null)"
                             "(document.querySelector('#device-files img.files-media'))",
                             "[160,120]"));
    // The phone's applications with their icons from the device.
    EXPECT_TRUE(waitForValue(*view,
                             "Array.from(document.querySelectorAll('#devices .app-icon'))"
                             ".map(i => i.complete && i.naturalWidth > 0 &&"
                             " !i.classList.contains('missing')).join('|')",
                             "\"true|true|true\""));
    screenshot(*view, "device-fetch-picture");

    click("#device-files .files-bar button");  // up
    ASSERT_TRUE(waitForValue(*view, rows, "\"Music|Pictures|data.bin\""));
    click("#device-files tr[data-name='Music']");
    ASSERT_TRUE(waitForValue(*view, rows, "\"tone.ogg\""));
    click("#device-files tr[data-name='tone.ogg'] button");
    // The file has arrived from the device and its length is known.
    ASSERT_TRUE(waitForValue(*view,
                             "(a => a !== null && a.src.startsWith('blob:') && a.readyState >= 1)"
                             "(document.querySelector('#device-files audio'))",
                             "true"));
    // Plays, then seeks to a later place and goes on from there.
    eval(*view,
         "(a => { window.audioLog = []; a.muted = true;"
         " a.addEventListener('seeked', () => window.audioLog.push('seeked ' + Math.floor(a.currentTime)));"
         " a.play().then(() => window.audioLog.push('playing'), e => window.audioLog.push(String(e)));"
         " })(document.querySelector('#device-files audio')); true");
    EXPECT_TRUE(waitForValue(*view, "window.audioLog.join('|')", "\"playing\""));
    EXPECT_TRUE(waitForValue(
        *view, "document.querySelector('#device-files audio').currentTime > 0.2", "true"));
    EXPECT_TRUE(waitForValue(*view,
                             "Math.round(document.querySelector('#device-files audio').duration)",
                             "4"));
    eval(*view, "document.querySelector('#device-files audio').currentTime = 2.5; true");
    EXPECT_TRUE(waitForValue(*view, "window.audioLog.join('|')", "\"playing|seeked 2\""));
    EXPECT_TRUE(waitForValue(
        *view, "document.querySelector('#device-files audio').currentTime > 2.7", "true"));
    screenshot(*view, "device-fetch-audio");
}

TEST_F(DeviceFetchPageTest, ActionsOnOneDeviceWaitForEachOtherWhileTwoDevicesOverlap) {
    second = attach(kOtherId, "Other Phone", other);
    const std::string data = fileBytes(media + "/data.bin");
    // An action under way on the first phone holds its lock; the page asks both phones.
    auto first = deviceObject(kPhoneId);
    ASSERT_TRUE(first);
    std::unique_lock held(first->objectLock());
    startFetch("first", "action=file-list&udid=" + std::string(kPhoneId) + "&path=%2F", "");
    startFetch("second", fileQuery(kOtherId, "/data.bin"), "bytes=0-9");
    EXPECT_EQ(fetched("second"),
              "[206,\"bytes 0-9/1000\",10," + std::to_string(checksum(data.substr(0, 10))) + "]");
    EXPECT_EQ(eval(*view, "'first' in window.fetched"), "false");  // still waiting its turn
    held.unlock();
    EXPECT_EQ(fetched("first").substr(0, 5), "[200,");
}

}  // namespace
