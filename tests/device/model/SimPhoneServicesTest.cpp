// Which file-service connections a phone holds and makes current, and how a started
// service is held.
#include <filesystem>

#include <gtest/gtest.h>

#include "../LocalFiles.h"
#include "../SimServiceFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AMApplication.h"
#include "device/AMSpringboardServices.h"
#include "device/iMobileMediaDevice.h"
#include "device/iPhoneDevice.h"

namespace {

namespace fs = std::filesystem;
using foundation::Value;

TEST(AMApplicationNames, CaseIsIgnoredForEveryLetter) {
    const auto named = [](const char* name) {
        return AMApplication(Value::dict({{"CFBundleName", name}, {"CFBundleIdentifier", name}}));
    };
    EXPECT_TRUE(named("Élan").isEqual(named("élan")));
    EXPECT_TRUE(named("ΣΟΦΙΑ").isEqual(named("σοφια")));
    EXPECT_TRUE(named("Straße").isEqual(named("STRASSE")));
    EXPECT_EQ(named("Élan").compare(named("ÉLAN")), 0);
    EXPECT_FALSE(named("Élan").isEqual(named("Elan")));
    EXPECT_LT(named("alpha").compare(named("Ärger")), 0);
    EXPECT_GT(named("Zebra").compare(named("apple")), 0);
}

class SimPhoneServices : public devicetest::SimAMDeviceTest {};

TEST_F(SimPhoneServices, ConnectionsAreHeldAndMadeCurrentThroughTheAccessors) {
    auto phone = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(phone->createWithDeviceEnableAfc2(am, false));
    EXPECT_FALSE(phone->afcService());
    EXPECT_TRUE(phone->appServices().empty());
    ASSERT_TRUE(phone->connect(false));
    const auto media = phone->afcService();
    ASSERT_TRUE(media);
    EXPECT_EQ(phone->currentService(), media);
    devicetest::writeLocal(scratch / "media/a.txt", "a");
    EXPECT_TRUE(phone->itemExistsAtPath("a.txt"));

    // An application's connection is kept by its identifier and can be made current by hand.
    fs::create_directories(scratch / "containers/com.example.reader/Documents");
    ASSERT_TRUE(phone->changeService("com.example.reader"));
    const auto apps = phone->appServices();
    ASSERT_EQ(apps.size(), 1u);
    ASSERT_TRUE(apps.count("com.example.reader"));
    EXPECT_EQ(phone->currentService(), apps.at("com.example.reader"));
    EXPECT_FALSE(phone->itemExistsAtPath("a.txt"));
    phone->setCurrentService(media);
    EXPECT_TRUE(phone->itemExistsAtPath("a.txt"));
    phone->setCurrentService(nullptr);
    EXPECT_FALSE(phone->itemExistsAtPath("a.txt"));

    // Kept connections can be replaced; the current one is only referred to.
    phone->setAppServices({});
    EXPECT_TRUE(phone->appServices().empty());
    phone->setAfcService(nullptr);
    EXPECT_FALSE(phone->afcService());
    ASSERT_TRUE(phone->changeService("com.apple.afc"));
    EXPECT_TRUE(phone->afcService());
    EXPECT_TRUE(phone->itemExistsAtPath("a.txt"));
    phone->setCurrentService(apps.at("com.example.reader"));
    EXPECT_TRUE(phone->itemExistsAtPath("Documents"));
}

// The media loader reads the media area while the file tree has an application's container
// open: a library that is there is never reported missing.
TEST_F(SimPhoneServices, TheMediaLoaderReadsTheMediaAreaWhateverServiceIsCurrent) {
    auto phone = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(phone->createWithDeviceEnableAfc2(am, false));
    ASSERT_TRUE(phone->connect(false));
    fs::create_directories(scratch / "media/iTunes_Control/iTunes");
    devicetest::writeLocal(scratch / "media/iTunes_Control/iTunes/MediaLibrary.sqlitedb", "library");
    fs::create_directories(scratch / "containers/com.example.reader/Documents");
    ASSERT_TRUE(phone->changeService("com.example.reader"));
    ASSERT_FALSE(phone->itemExistsAtPath("iTunes_Control/iTunes/MediaLibrary.sqlitedb"));

    iMobileMediaDevice media(phone);
    const std::string library = "iTunes_Control/iTunes/MediaLibrary.sqlitedb";
    EXPECT_TRUE(media.itemExistsAtPath(library));
    EXPECT_EQ(media.getSizeOfItemAtPath(library), 7u);
    const auto bytes = media.readFileAtPathOffsetLength(library, 3, 10);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "rary");
    ASSERT_EQ(media.contentsOfDirectory("iTunes_Control").size(), 1u);
    EXPECT_EQ(media.contentsOfDirectory("iTunes_Control")[0].name, "iTunes");
    ASSERT_TRUE(media.downloadFileTo(library, scratch / "copy"));
    EXPECT_EQ(devicetest::contentsOf(scratch / "copy"), "library");

    // A phone without a media area answers as one without the files.
    auto refusing = std::make_shared<iPhoneDevice>();
    EXPECT_FALSE(iMobileMediaDevice(refusing).itemExistsAtPath(library));
    EXPECT_EQ(iMobileMediaDevice(refusing).getSizeOfItemAtPath(library), 0u);
}

TEST_F(SimPhoneServices, AServiceIsHeldAsItsSocketOrItsSecureConnection) {
    auto plain = am->newAMSpringboardServices();
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->isSecureConnection());
    EXPECT_GE(plain->connection().socket, 0);
    EXPECT_EQ(plain->connection().socket, plain->sock());
    EXPECT_FALSE(plain->connection().connection);
}

}  // namespace
