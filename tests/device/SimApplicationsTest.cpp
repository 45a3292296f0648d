#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/installation_proxy.h>
#include <libimobiledevice/sbservices.h>

#include <gtest/gtest.h>

#include <fstream>

#include "EndsInTime.h"
#include "SimServiceFixture.h"
#include "foundation/PropertyList.h"

using foundation::Value;

namespace {

class SimApplications : public devicetest::SimServiceTest {};

Value take(plist_t node) {
    Value value = foundation::plist::fromNode(node);
    if (node) plist_free(node);
    return value;
}

TEST_F(SimApplications, InstallationProxyLooksUpAndBrowses) {
    instproxy_client_t proxy = nullptr;
    ASSERT_EQ(
        instproxy_client_new(device, startService("com.apple.mobile.installation_proxy"), &proxy),
        INSTPROXY_E_SUCCESS);
    plist_t options = instproxy_client_options_new();
    instproxy_client_options_set_return_attributes(options, "CFBundleIdentifier",
                                                   "CFBundleDisplayName", "UIFileSharingEnabled",
                                                   "Container", nullptr);
    plist_t result = nullptr;
    ASSERT_EQ(instproxy_lookup(proxy, nullptr, options, &result), INSTPROXY_E_SUCCESS);
    const Value all = take(result);
    ASSERT_EQ(all.size(), 4u);
    const Value& reader = all["com.example.reader"];
    EXPECT_EQ(reader.size(), 4u);  // only what was asked for
    EXPECT_EQ(reader["CFBundleDisplayName"].stringOr(), "Reader");
    EXPECT_EQ(reader["UIFileSharingEnabled"], Value(true));
    EXPECT_TRUE(reader["Container"].stringOr().starts_with("/private/var/mobile/Containers/"));

    const char* ids[] = {"com.example.weather", "com.example.unknown", nullptr};
    ASSERT_EQ(instproxy_lookup(proxy, ids, nullptr, &result), INSTPROXY_E_SUCCESS);
    const Value one = take(result);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one["com.example.weather"]["UIFileSharingEnabled"], Value(false));
    EXPECT_EQ(one["com.example.weather"]["CFBundleIconFile"].stringOr(), "AppIcon60x60");

    ASSERT_EQ(instproxy_browse(proxy, options, &result), INSTPROXY_E_SUCCESS);
    EXPECT_EQ(take(result).size(), 4u);
    instproxy_client_options_free(options);
    instproxy_client_free(proxy);
}

// A phone that sends batch after batch of records "in progress" is given up once it has sent
// a message's worth of bytes, with none of its records kept.
class SimEndlessLookup : public devicetest::SimAMDeviceTest {};

TEST_F(SimEndlessLookup, IsGivenUpAfterAMessagesWorthOfRecords) {
    simulated->services().locked([](auto& fields) { return fields.endlessLookups = true; });
    const bool listed = devicetest::endsInTime(
        [&] { return am->installedApplications().has_value(); },
        [&] { simulated->services().locked([](auto& fields) { return fields.endlessLookups = false; }); },
        std::chrono::seconds(120));
    EXPECT_FALSE(listed);
    EXPECT_EQ(static_cast<std::uint32_t>(am->lastcode()), mobiledevice::kAMDLookupFailedError);
}

class SimApplicationLookup : public devicetest::SimAMDeviceTest {};

// One application by its bundle identifier, from the same lookup as the whole list.
TEST_F(SimApplicationLookup, FindsOneApplicationOrNone) {
    const auto reader = am->installedApplicationWithId("com.example.reader");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->bundleid(), "com.example.reader");
    EXPECT_EQ(reader->appname(), "Reader");
    EXPECT_FALSE(am->installedApplicationWithId("com.example.unknown"));
    EXPECT_FALSE(am->installedApplicationWithId(""));
}

TEST_F(SimApplications, SpringboardHandsOutPngIcons) {
    sbservices_client_t springboard = nullptr;
    ASSERT_EQ(
        sbservices_client_new(device, startService("com.apple.springboardservices"), &springboard),
        SBSERVICES_E_SUCCESS);
    char* png = nullptr;
    std::uint64_t size = 0;
    ASSERT_EQ(sbservices_get_icon_pngdata(springboard, "com.example.reader", &png, &size),
              SBSERVICES_E_SUCCESS);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    ASSERT_TRUE(
        gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(png), size, nullptr));
    ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
    GdkPixbuf* icon = gdk_pixbuf_loader_get_pixbuf(loader);
    ASSERT_TRUE(icon);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 60);
    g_object_unref(loader);
    std::free(png);
    // An unknown application gets an answer without icon data.
    png = nullptr;
    sbservices_get_icon_pngdata(springboard, "com.example.unknown", &png, &size);
    EXPECT_EQ(png, nullptr);
    std::free(png);
    sbservices_client_free(springboard);
}

TEST_F(SimApplications, HouseArrestVendsAFolderPerApplication) {
    struct Case {
        const char* command;
        const char* id;
        const char* error;  // nullptr: the container is handed out
    };
    const Case cases[] = {
        {"VendDocuments", "com.example.reader", nullptr},
        {"VendContainer", "com.example.recorder", nullptr},
        {"VendContainer", "com.example.reader", "InstallationLookupFailed"},
        {"VendDocuments", "com.example.weather", "InstallationLookupFailed"},
        {"VendDocuments", "com.example.unknown", "ApplicationLookupFailed"},
        {"VendEverything", "com.example.reader", "UnknownCommand"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.id);
        house_arrest_client_t arrest = nullptr;
        ASSERT_EQ(
            house_arrest_client_new(device, startService("com.apple.mobile.house_arrest"), &arrest),
            HOUSE_ARREST_E_SUCCESS);
        ASSERT_EQ(house_arrest_send_command(arrest, c.command, c.id), HOUSE_ARREST_E_SUCCESS);
        plist_t node = nullptr;
        ASSERT_EQ(house_arrest_get_result(arrest, &node), HOUSE_ARREST_E_SUCCESS);
        const Value result = take(node);
        if (c.error) {
            EXPECT_EQ(result["Error"].stringOr(), c.error);
            house_arrest_client_free(arrest);
            continue;
        }
        EXPECT_EQ(result["Status"].stringOr(), "Complete");
        afc_client_t afc = nullptr;
        ASSERT_EQ(afc_client_new_from_house_arrest_client(arrest, &afc), AFC_E_SUCCESS);
        EXPECT_EQ(devicetest::listFolder(afc, "/"),
                  (std::vector<std::string>{".", "..", "Documents", "Library", "tmp"}));
        ASSERT_EQ(devicetest::writeFile(afc, "/Documents/note.txt", c.id), AFC_E_SUCCESS);
        std::ifstream in(scratch / ("containers/" + std::string(c.id) + "/Documents/note.txt"));
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, c.id);
        afc_client_free(afc);
        house_arrest_client_free(arrest);
    }
}

}  // namespace
