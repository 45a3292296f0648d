#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;
using foundation::Value;
namespace fs = std::filesystem;

namespace {

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The running application's copies section over a simulated phone found by the real
// detectors: a 20 MiB file down into the computer folder and back up, byte for byte, with
// its progress shown, and an .m4r file installed as a ringtone.
TEST_F(WebWindowTest, CopiesSectionCopiesBothWaysWithProgressAndInstallsRingtones) {
    foundationtest::ScratchFolder scratch;
    const std::string media = scratch / "media";
    const std::string computer = scratch / "pc";
    fs::create_directories(media);
    fs::create_directories(computer);
    std::string big(20u << 20, '\0');
    std::mt19937 random(7);
    for (char& c : big) c = static_cast<char>(random());
    std::ofstream(media + "/big.bin", std::ios::binary) << big;
    std::ofstream(computer + "/tone.m4r", std::ios::binary) << "ringtone";

    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(media);

    const auto quoted = [](const std::string& text) { return foundation::json::write(Value(text)); };
    const auto text = [&](const std::string& selector) { return "(document.querySelector(" + quoted(selector) + ") || {}).textContent"; };
    const auto set = [&](const std::string& selector, const std::string& value) {
        eval(view, "document.querySelector(" + quoted(selector) + ").value = " + quoted(value) + "; true");
    };
    const auto click = [&](const std::string& selector) { eval(view, "document.querySelector(" + quoted(selector) + ").click(); true"); };
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#device-files tr[data-name=\"big.bin\"]')", "true"));
    eval(view, "App.computerFiles.open(" + quoted(computer) + "); true");
    ASSERT_TRUE(waitForValue(view, "App.computerFiles.folder()", quoted(computer)));

    click("#device-files tr[data-name='big.bin'] .files-name");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-picked"), "\"/big.bin (20.00 MB)\""));
    click("#copies .copies-download");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-message p"),
                             quoted("Copied big.bin to " + computer + "/big.bin.")));
    EXPECT_TRUE(contentsOf(computer + "/big.bin") == big);
    EXPECT_EQ(eval(view, text("#copies .copies-bytes")), "\"20.00 MB of 20.00 MB\"");
    EXPECT_EQ(eval(view, "document.querySelector('#copies .copies-row').dataset.reports"), "\"80\"");

    fs::rename(computer + "/big.bin", computer + "/up.bin");
    set("#copies .copies-computer", computer + "/up.bin");
    click("#copies .copies-upload");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-message p"),
                             quoted("Copied up.bin to /up.bin.")));
    EXPECT_TRUE(contentsOf(media + "/up.bin") == big);
    EXPECT_EQ(eval(view, "document.querySelector('#copies .copies-bar').value"), "20971520");
    screenshot(view, "copies");

    // A finished copy's bar would read as the next action's: it goes when one starts.
    const std::string bars = "document.querySelectorAll('#copies .copies-running .copies-row, #copies progress').length";
    // Kept rather than replaced: nothing was copied.
    click("#copies .copies-upload");
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#copies .copies-keep')", "true"));
    EXPECT_EQ(eval(view, bars), "0");
    click("#copies .copies-keep");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-message p"), "\"Nothing was copied.\""));
    EXPECT_EQ(eval(view, bars), "0");
    screenshot(view, "copies-kept");

    click("#copies .copies-download");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-message p"),
                             quoted("Copied big.bin to " + computer + "/big.bin.")));
    set("#copies .copies-computer", computer + "/tone.m4r");
    set("#copies .copies-title", "Sim Bell");
    click("#copies .copies-ringtone");
    ASSERT_TRUE(waitForValue(view, text("#copies .copies-message p"), "\"tone.m4r is installed as a ringtone.\""));
    EXPECT_EQ(eval(view, bars), "0");
    const auto registry = foundation::plist::read(std::string_view(contentsOf(media + "/Purchases/Ringtones.plist")));
    ASSERT_TRUE(registry.has_value());
    ASSERT_EQ((*registry)["Ringtones"].dictionary()->size(), 1u);
    EXPECT_EQ((*registry)["Ringtones"].dictionary()->begin()->second["Name"], Value("Sim Bell"));

    app.server.detach(phone);
    waitForValue(view, "document.querySelectorAll('#device-files .files-list tr[data-name]').length", "0");
}

}  // namespace
