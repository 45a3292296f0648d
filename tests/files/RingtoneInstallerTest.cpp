#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "DeviceFolderFixture.h"
#include "foundation/PropertyList.h"
#include "foundation/ScopedEnvironment.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

class RingtoneInstallerTest : public PluginTest {
protected:
    RingtoneInstallerTest() { put(folder / "pc", "tone.m4r", "ringtone bytes"); }

    Value install(std::initializer_list<std::pair<const std::string, Value>> more = {}) {
        Value request = Value::dict(more);
        request.set("source", std::string(folder / "pc/tone.m4r"));
        request.set("cmd", "device-add-ringtone");
        request.set("udid", device->uuid());
        request.set("path", "/");
        return ask(request);
    }
    std::string purchases() const { return media() + "/Purchases"; }
    Value registry() const {
        const std::string bytes = read(purchases() + "/Ringtones.plist");
        EXPECT_TRUE(bytes.starts_with("bplist00"));
        return foundation::plist::read(std::string_view(bytes)).value_or(Value());
    }
    std::vector<std::string> tones() const {
        std::vector<std::string> names;
        if (fs::is_directory(purchases()))
            for (const auto& entry : fs::directory_iterator(purchases()))
                if (entry.path().extension() == ".m4r") names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(RingtoneInstallerTest, InstallsRegisterEachToneAndBackUpTheFirstRegistryOnce) {
    ASSERT_EQ(install(), ok());
    EXPECT_FALSE(fs::exists(purchases() + "/Ringtones.plist.bak"));
    ASSERT_EQ(tones().size(), 1u);
    const std::string first = tones()[0];
    const std::string guid = first.substr(7, first.size() - 11);
    EXPECT_EQ(first, "import_" + guid + ".m4r");
    EXPECT_EQ(read(purchases() + "/" + first), "ringtone bytes");
    EXPECT_EQ(registry(), Value::dict({{"Ringtones", Value::dict({{first, Value::dict({{"Name", "Ringtones"},
                                                                                      {"Purchased", false},
                                                                                      {"Total Time", std::int64_t{0}},
                                                                                      {"Protected Content", false},
                                                                                      {"GUID", guid}})}})}}));
    const std::string afterFirst = read(purchases() + "/Ringtones.plist");

    ASSERT_EQ(install({{"title", "Bells"}}), ok());
    EXPECT_EQ(read(purchases() + "/Ringtones.plist.bak"), afterFirst);
    ASSERT_EQ(install({{"title", "Chimes"}}), ok());
    EXPECT_EQ(read(purchases() + "/Ringtones.plist.bak"), afterFirst);
    const Value now = registry();
    const Value& entries = now["Ringtones"];
    ASSERT_EQ(entries.dictionary()->size(), 3u);
    std::vector<std::string> names;
    for (const auto& [file, entry] : *entries.dictionary()) names.push_back(entry["Name"].stringOr());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Bells", "Chimes", "Ringtones"}));
}

TEST_F(RingtoneInstallerTest, XmlRegistryIsRewrittenWholeWithItsOtherKeys) {
    const Value old = Value::dict({{"Version", std::int64_t{3}},
                                   {"Notes", std::string(4000, 'n')},
                                   {"Ringtones", Value::dict({{"old.m4r", Value::dict({{"Name", "Old"}})}})}});
    put(purchases(), "Ringtones.plist", *foundation::plist::writeXml(old));
    ASSERT_EQ(install({{"title", "New"}}), ok());
    const Value now = registry();
    EXPECT_EQ(now["Version"], old["Version"]);
    EXPECT_EQ(now["Notes"], old["Notes"]);
    EXPECT_EQ(now["Ringtones"]["old.m4r"], old["Ringtones"]["old.m4r"]);
    EXPECT_EQ(now["Ringtones"].dictionary()->size(), 2u);
    EXPECT_EQ(read(purchases() + "/Ringtones.plist").size(), foundation::plist::writeBinary(now)->size());
}

TEST_F(RingtoneInstallerTest, InstallsAtOnceKeepBothEntries) {
    Value first, second;
    std::thread other([&] { first = install({{"title", "A"}}); });
    second = install({{"title", "B"}});
    other.join();
    EXPECT_EQ(first, ok());
    EXPECT_EQ(second, ok());
    EXPECT_EQ(registry()["Ringtones"].dictionary()->size(), 2u);
    EXPECT_EQ(tones().size(), 2u);
}

TEST_F(RingtoneInstallerTest, FailuresInstallNothingOrTakeTheToneAway) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* error;
        bool keepsRegistry;
    };
    const std::string unreadable = "The ringtone list on the device is not a property list that can be read.";
    const std::vector<Case> cases = {
        {"purchases is a file", [&] { put(media(), "Purchases", "x"); }, "file \"/Purchases\" exists on device.", false},
        {"no folder made", [&] { device->failOperation("createDirectory"); }, "Failed to create purchases folder on device.", false},
        {"registry is a folder", [&] { fs::create_directories(purchases() + "/Ringtones.plist"); }, "internal error", false},
        {"unparseable", [&] { put(purchases(), "Ringtones.plist", "<plist><dict><key>"); }, unreadable.c_str(), true},
        {"not a dictionary", [&] { put(purchases(), "Ringtones.plist", *foundation::plist::writeXml(Value("x"))); }, unreadable.c_str(), true},
        {"ringtones not a dictionary",
         [&] { put(purchases(), "Ringtones.plist", *foundation::plist::writeXml(Value::dict({{"Ringtones", "x"}}))); },
         unreadable.c_str(), true},
        {"unreadable registry", [&] { put(purchases(), "Ringtones.plist", "{}"); device->failOperation("readFileAtPathOffsetLength"); },
         "Failed to read data of purchases.plist", true},
        {"backup not copied", [&] { put(purchases(), "Ringtones.plist", "{}"); device->failOperation("uploadFileFrom"); },
         "failed to write purchase.plist.bak", true},
        {"tone not copied", [&] { put(purchases(), "Ringtones.plist.bak", "{}"); put(purchases(), "Ringtones.plist", "{}"); device->failOperation("uploadFileFrom"); },
         "Failed to transfer ringtone file to device.", true},
        {"registry not written", [&] { put(purchases(), "Ringtones.plist", "{}"); device->failOperation("writeDataToPath"); },
         "Failed to update ringtones configuration", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(media());
        fs::create_directories(media());
        device->clearFailures();
        c.arrange();
        const std::string before = fs::is_regular_file(purchases() + "/Ringtones.plist")
                                       ? read(purchases() + "/Ringtones.plist") : "";
        EXPECT_EQ(install(), error(c.error));
        EXPECT_TRUE(tones().empty());
        if (c.keepsRegistry) {
            EXPECT_EQ(read(purchases() + "/Ringtones.plist"), before);
        }
    }
}

// The registry is backed up through a file of the computer's temporary folder: when that
// cannot be written, nothing is installed and no backup is left behind.
TEST_F(RingtoneInstallerTest, ABackupThatCannotBeStagedInstallsNothing) {
    put(purchases(), "Ringtones.plist", "{}");
    {
        foundationtest::ScopedEnvironment environment;
        environment.set("TMPDIR", folder / "no-such-folder");
        EXPECT_EQ(install(), error("Failed to write tmp file"));
    }
    EXPECT_TRUE(tones().empty());
    EXPECT_FALSE(fs::exists(purchases() + "/Ringtones.plist.bak"));
    EXPECT_EQ(read(purchases() + "/Ringtones.plist"), "{}");
}

}  // namespace
