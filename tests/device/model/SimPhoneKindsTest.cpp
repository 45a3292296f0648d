// Phones of other kinds and versions: the device type from the product type, the
// application list before and after file sharing came, read in any locale, and renames.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "../LocalFiles.h"
#include "../SimulatorFixture.h"
#include "device/iPhoneDevice.h"
#include "foundation/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
using foundation::Value;

class SimPhoneKinds : public devicetest::SimulatorTest {
protected:
    std::shared_ptr<iPhoneDevice> phoneOf(const std::string& productType,
                                          const std::string& productVersion) {
        simdevice::SimDeviceConfig config = configFor("0000" + std::to_string(++made_) + "-SIMKIND");
        config.productType = productType;
        config.productVersion = productVersion;
        config.root = scratch / ("media" + std::to_string(made_));
        fs::create_directories(config.root);
        auto am = amDevice(attachPaired(config));
        if (!am) return nullptr;
        auto phone = std::make_shared<iPhoneDevice>();
        phone->createWithDeviceEnableAfc2(am, false);
        phone->connect(false);
        return phone;
    }
    // The application list as "ID root sharing" lines.
    static std::string listed(iPhoneDevice& phone) {
        std::string lines;
        const Value bundles = phone.appBundles();
        for (const auto& bundle : bundles.array() ? *bundles.array() : foundation::Array{})
            lines += bundle["ID"].stringOr() + " " + bundle["root"].stringOr() + " " +
                     (bundle["fileSharingEnabled"] == Value(true) ? "shared" : "not shared") + "\n";
        return lines;
    }

    foundationtest::ScratchFolder scratch;
    int made_ = 0;
};

// In the lookup's order, which is that of the identifiers.
constexpr const char* kSharingOnly =
    "com.example.podcasts /Documents shared\n"
    "com.example.reader /Documents shared\n"
    "com.example.recorder /Documents shared\n";

TEST_F(SimPhoneKinds, DeviceTypeFollowsTheProductType) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"iPod5,1", kDeviceTypeiPodTouch},
        {"iPhone9,3", kDeviceTypeiPhone},
        {"iPad6,11", kDeviceTypeiPad},
        {"AppleTV5,3", kDeviceTypeOther},
    };
    for (const auto& [product, type] : cases) {
        auto phone = phoneOf(product, "16.7.2");
        ASSERT_TRUE(phone) << product;
        EXPECT_EQ(phone->deviceType(), type) << product;
    }
}

TEST_F(SimPhoneKinds, ApplicationsBeforeFileSharingAreAllListedAtTheRoot) {
    auto older = phoneOf("iPhone6,1", "8.2");
    ASSERT_TRUE(older);
    EXPECT_EQ(listed(*older),
              "com.example.podcasts / not shared\n"
              "com.example.reader / not shared\n"
              "com.example.recorder / not shared\n"
              "com.example.weather / not shared\n");
    auto newer = phoneOf("iPhone6,1", "9.0");
    ASSERT_TRUE(newer);
    EXPECT_EQ(listed(*newer), kSharingOnly);
}

// A version is a number with a point whatever the locale's decimal mark.
TEST_F(SimPhoneKinds, VersionIsReadTheSameInEveryLocale) {
    const fs::path locales = scratch / "locales";
    fs::create_directories(locales);
    const std::string make = "localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8").string() +
                             "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "localedef cannot make de_DE.UTF-8 here";
    ::setenv("LOCPATH", locales.c_str(), 1);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
    auto phone = phoneOf("iPhone7,2", "8.4");
    const std::string apps = phone ? listed(*phone) : std::string();
    std::setlocale(LC_ALL, before.c_str());
    ::unsetenv("LOCPATH");
    ASSERT_TRUE(phone);
    EXPECT_EQ(apps, kSharingOnly);
}

TEST_F(SimPhoneKinds, RenameTakesANameOrAPathHoldingTheFolder) {
    auto phone = phoneOf("iPhone12,1", "16.7.2");
    ASSERT_TRUE(phone);
    const fs::path media = scratch / "media1";
    fs::create_directories(media / "Media");
    devicetest::writeLocal(media / "Media/a.txt", "a");
    EXPECT_TRUE(phone->renameItemAtPathTo("/Media/a.txt", "b.txt"));
    EXPECT_EQ(devicetest::contentsOf(media / "Media/b.txt"), "a");
    // A new path that holds the old one's folder is taken as it stands.
    EXPECT_TRUE(phone->renameItemAtPathTo("/Media/b.txt", "/Media/c.txt"));
    EXPECT_EQ(devicetest::contentsOf(media / "Media/c.txt"), "a");
    EXPECT_FALSE(fs::exists(media / "Media/Media"));
}

}  // namespace
