// "mdfs" end to end: the plugin over the phone device over the simulated device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/SimServiceFixture.h"
#include "data/db/SqlDatabase.h"
#include "device/iPhoneDevice.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "foundation/Json.h"
#include "foundation/PropertyList.h"

namespace {

using foundation::Value;

class NoPage : public ScriptBridge {
public:
    void _evaluateJavascript(const std::string&) override {}
};

class OnePhone : public WVMobileDeviceFileSystemPluginDelegate {
public:
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string&) override { return phone; }
    std::shared_ptr<iMobileDevice> phone;
};

class SimMdfs : public devicetest::SimServiceTest {};

TEST_F(SimMdfs, ListsTheMediaFolderAndReadsAPropertyListAndAnSqliteFile) {
    const std::string media = scratch / "media";
    std::filesystem::create_directories(media + "/iTunes_Control/iTunes");
    std::ofstream(media + "/iTunes_Control/iTunes/Ringtones.plist")
        << *foundation::plist::writeXml(Value::dict({{"Name", "Bell"}, {"Raw", foundation::Data{1}}}));
    {
        auto db = SqlDatabase::databaseWithPath(media + "/iTunes_Control/iTunes/Library.sqlitedb");
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements("CREATE TABLE item (title TEXT); INSERT INTO item VALUES ('Sea');"));
        db->close();
    }
    auto phone = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(phone->createWithDeviceEnableAfc2(amDevice(simulated), false));
    auto finder = std::make_shared<OnePhone>();
    finder->phone = phone;
    auto plugin = WVMobileDeviceFilesystemPlugin::create(std::make_shared<NoPage>(), {}, finder);
    const auto ask = [&](Value request) {
        request.set("udid", phone->uuid());
        Value answer;
        plugin->process(request, [&](const Value& reply) { answer = reply; });
        return answer;
    };
    const Value root = ask(Value::dict({{"cmd", "device-ls"}, {"path", "/"}}));
    EXPECT_EQ(root["data"]["properties"][0]["name"], "iTunes_Control") << foundation::json::write(root);
    const Value folder = ask(Value::dict({{"cmd", "device-ls"}, {"path", "/iTunes_Control/iTunes"}}));
    ASSERT_EQ(folder["data"]["properties"].size(), 2u) << foundation::json::write(folder);
    const Value plist = ask(Value::dict({{"cmd", "device-read-plist"}, {"path", "/iTunes_Control/iTunes/Ringtones.plist"}}));
    EXPECT_EQ(plist, Value::dict({{"result", true}, {"data", Value::dict({{"Name", "Bell"}})}}));
    const Value rows = ask(Value::dict({{"cmd", "device-read-sqlite"}, {"path", "/iTunes_Control/iTunes/Library.sqlitedb"},
                                        {"action", "query"}, {"params", Value::dict({{"query", "SELECT * FROM item"}})}}));
    EXPECT_EQ(rows["data"]["rows"], Value::list({Value::dict({{"title", "Sea"}})})) << foundation::json::write(rows);
    EXPECT_EQ(ask(Value::dict({{"cmd", "device-newfolder"}, {"path", "/Made"}})), Value::dict({{"result", true}}));
    EXPECT_TRUE(std::filesystem::is_directory(media + "/Made"));
    EXPECT_EQ(ask(Value::dict({{"cmd", "device-readfile"}, {"path", "/iTunes_Control/iTunes/Ringtones.plist"},
                               {"offset", -8}, {"length", -1}}))["data"]["length"], std::uint64_t{8});
}

}  // namespace
