#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"

using apptest::WebWindowTest;
using foundation::Value;

namespace {

// The devices section of the running application over a simulated phone: the phone's
// pairing is shown and changed from the page (the phone's own record of this computer
// goes and comes back), and its details are read from the phone.
TEST_F(WebWindowTest, DevicesSectionPairsUnpairsAndShowsAPhonesDetails) {
    foundationtest::ScratchFolder scratch;
    std::filesystem::create_directories(scratch / "media");
    apptest::LogCapture log;
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    auto& view = app.view();
    auto phone = app.attachPhone(scratch / "media");
    const std::string udid = phone->config().udid;

    const std::string pairing = "(document.querySelector('#devices .device-pairing') || {}).textContent";
    const auto click = [&](const std::string& selector) {
        eval(view, "document.querySelector(" + foundation::json::write(Value(selector)) + ").click(); true");
    };
    ASSERT_TRUE(waitForValue(view, pairing, "\"Paired with this computerUnpair\""));
    click("#devices .pairing-change");
    ASSERT_TRUE(waitForValue(view, pairing, "\"Not paired with this computerPair\""));
    EXPECT_FALSE(app.server.hasPairRecord(udid));
    EXPECT_EQ(phone->pairRequests(), 0);

    click("#devices .pairing-change");
    ASSERT_TRUE(waitForValue(view, pairing, "\"Paired with this computerUnpair\""));
    EXPECT_TRUE(app.server.hasPairRecord(udid));
    EXPECT_EQ(phone->pairRequests(), 1);

    click("#devices .device-details-open");
    const std::string details =
        "Array.from(document.querySelectorAll('#devices .device-info-row'))"
        ".map(r => r.dataset.label + '=' + r.querySelector('dd').textContent).join('|')";
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#devices .device-info-row[data-label=\"Name\"]')", "true"));
    const std::string shown = foundation::json::read(eval(view, details)).value_or(Value()).stringOr();
    for (const std::string& expected : std::vector<std::string>{"Name=Sim Phone", "Model=" + phone->config().productType, "Model number=MWLT2",
          "Version=" + phone->config().productVersion, "Capacity=58.00 GB", "Free space=20.00 GB"})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << " in " << shown;
    // A serial number such as a phone has: letters and digits only.
    EXPECT_TRUE(std::regex_search(shown, std::regex("(^|\\|)Serial number=SIM[0-9A-Z]{9}($|\\|)"))) << shown;
    screenshot(view, "devices-pairing");

    // A phone that refuses to pair says so, and stays unpaired.
    click("#devices .pairing-change");
    ASSERT_TRUE(waitForValue(view, pairing, "\"Not paired with this computerPair\""));
    phone->failRequest("Pair", "PasswordProtected");
    click("#devices .pairing-change");
    ASSERT_TRUE(waitForValue(view, "!!document.querySelector('#devices .device-pairing .error')", "true"));
    EXPECT_FALSE(app.server.hasPairRecord(udid));
    EXPECT_TRUE(log.has("[WARN] Pairing with " + udid + " failed: "));
}

}  // namespace
