#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <functional>
#include <latch>
#include <map>
#include <string>
#include <vector>

#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "shell/Settings.h"

using foundation::Value;

namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

class SettingsTest : public testing::Test {
protected:
    SettingsTest() {
        mkdir((folder / "bundle").c_str(), 0700);
        std::ofstream(folder / "bundle/Info.plist")
            << R"(<plist version="1.0"><dict><key>CFBundleName</key><string>Orvandel</string>)"
               R"(<key>CFBundleIdentifier</key><string>com.orvandel.Orvandel</string></dict></plist>)";
        environment.set("ORVANDEL_BUNDLE_DIR", folder / "bundle");
        environment.set("HOME", folder / "home");
        environment.set("XDG_MUSIC_DIR", folder / "music");
        environment.set("XDG_DESKTOP_DIR", folder / "desk");
        environment.set("XDG_DATA_HOME", folder / "data");
    }

    std::map<std::string, Value, std::less<>> stored() const {
        auto all = defaults.dictionaryRepresentation();
        return {all.begin(), all.end()};
    }

    foundationtest::ScratchFolder folder;
    foundationtest::ScopedEnvironment environment;
    foundation::UserDefaults defaults{"com.orvandel.Test", folder / "prefs"};
    Settings settings{defaults};
};

constexpr const char* kRestoredTrue[] = {
    "PauseITunesWhilePlaying",
    "choosePlaylist",
    "importToiTunes",
    "addToPlaylist",
    "CopyMetaData",
    "metaTitle",
    "metaArtist",
    "metaAlbum",
    "metaRating",
    "metaPlaycount",
    "metaDiscNumber",
    "metaAlbumArtist",
    "metaComposer",
    "metaComment",
    "metaDescription",
    "metaLongDescription",
};

}  // namespace

TEST_F(SettingsTest, FreshStartWritesTheFirstRunValues) {
    settings.SetDefaultsForFirstRun();
    for (const char* key : kRestoredTrue) EXPECT_EQ(defaults.objectForKey(key), Value(true)) << key;
    const std::map<std::string, Value> expected = {
        {"isFirstRun", false},
        {"transferFilePattern", "/$a/$b/$t"},
        {"defaultPlaylistName", "Orvandel"},
        {"transferDestinationPath", folder / "music"},
        {"SaveLocationType", 0},
        {"FileOptionType", 0},
        {"avoidDuplicates", false},
        {"hideExistingTracks", false},
    };
    for (const auto& [key, value] : expected) EXPECT_EQ(defaults.objectForKey(key), value) << key;
    EXPECT_EQ(stored().size(), std::size(kRestoredTrue) + expected.size());
    EXPECT_FALSE(settings.isFirstRun());

    // Every write is saved at once.
    foundation::UserDefaults reread("com.orvandel.Test", folder / "prefs");
    EXPECT_EQ(reread.objectForKey("transferFilePattern"), Value("/$a/$b/$t"));
}

TEST_F(SettingsTest, LaterStartOnlyClearsAvoidDuplicates) {
    settings.SetDefaultsForFirstRun();
    settings.setAvoidDuplicates(true);
    settings.setTransferFilePattern("/$t");
    settings.setSlType(1);
    settings.setMetaTitle(false);
    auto before = stored();

    Settings(defaults).SetDefaultsForFirstRun();
    auto after = stored();
    EXPECT_EQ(after.at("avoidDuplicates"), Value(false));
    before.erase("avoidDuplicates");
    after.erase("avoidDuplicates");
    EXPECT_EQ(after, before);
}

TEST_F(SettingsTest, AStoredFirstRunFlagAppliesTheRulesAgain) {
    settings.SetDefaultsForFirstRun();
    settings.setTransferFilePattern("/$t");
    settings.setCopyMeta(false);
    settings.setIsFirstRun(true);

    Settings(defaults).SetDefaultsForFirstRun();
    EXPECT_EQ(settings.transferFilePattern(), "/$a/$b/$t");
    EXPECT_TRUE(settings.copyMeta());
    EXPECT_FALSE(settings.isFirstRun());
}

TEST_F(SettingsTest, AbsentKeysGiveTheirDefaults) {
    EXPECT_TRUE(settings.isFirstRun());
    EXPECT_TRUE(settings.showWelcome());
    EXPECT_FALSE(settings.checkForUpdates());
    EXPECT_FALSE(settings.copyMeta());
    EXPECT_FALSE(settings.metaLongDescription());
    EXPECT_EQ(settings.slType(), 0);
    EXPECT_EQ(settings.customLocation(), "");
    EXPECT_EQ(settings.transferFilePattern(), "");
    EXPECT_TRUE(settings.defaultPlaylistName().isNil());

    // A stored value of another kind reads as a defaults string reading gives it.
    defaults.setObject("CustomLocation", 42);
    EXPECT_EQ(settings.customLocation(), "42");
    defaults.setObject("CustomLocation", Value::list({"x"}));
    EXPECT_EQ(settings.customLocation(), "");
    defaults.setObject("showWelcome", false);
    EXPECT_FALSE(settings.showWelcome());
}

TEST_F(SettingsTest, SaveLocationFollowsItsType) {
    struct Case {
        std::int32_t type;
        std::optional<std::string> custom;
        std::string expected;
    };
    const Case cases[] = {
        {0, std::nullopt, folder / "music"},     {1, std::nullopt, folder / "home"},
        {2, std::nullopt, folder / "desk"},      {3, std::nullopt, ""},
        {3, "/media/exports", "/media/exports"}, {-1, "/elsewhere", "/elsewhere"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        settings.setSlType(c.type);
        if (c.custom) {
            settings.setCustomLocation(*c.custom);
        } else {
            defaults.removeObject("CustomLocation");
        }
        EXPECT_EQ(settings.saveLocation(), c.expected);
    }
    environment.unset("XDG_DESKTOP_DIR");
    environment.set("XDG_CONFIG_HOME", folder / "config");
    settings.setSlType(2);
    EXPECT_EQ(settings.saveLocation(), folder / "home/Desktop");
    // The desktop's own list of user folders names it too.
    mkdir((folder / "config").c_str(), 0700);
    std::ofstream(folder / "config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
    EXPECT_EQ(settings.saveLocation(), folder / "home/Schreibtisch");
}

TEST_F(SettingsTest, WebsiteAndSupportOpenTheBundlesAddresses) {
    std::vector<std::string> opened;
    const auto open = [&](const std::string& url) {
        opened.push_back(url);
        return true;
    };
    // Nothing to open while the bundle names neither.
    EXPECT_FALSE(Settings::Website(open));
    EXPECT_FALSE(Settings::Support(open));
    EXPECT_TRUE(opened.empty());

    std::ofstream(folder / "bundle/Info.plist")
        << R"(<plist version="1.0"><dict><key>CFBundleName</key><string>Orvandel</string>)"
           R"(<key>CFBundleURLCompany</key><string>https://orvandel.example/</string>)"
           R"(<key>CFBundleEmailSupport</key><string>help@orvandel.example</string>)"
           R"(</dict></plist>)";
    EXPECT_TRUE(Settings::Website(open));
    EXPECT_TRUE(Settings::Support(open));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://orvandel.example/",
                                                "mailto:help@orvandel.example"}));
}

TEST_F(SettingsTest, DevelopmentPathsLiveInMemoryOnly) {
    settings.setDevLibraryFilePath("/dev/library.xml");
    settings.setDevDynamicFilePath("/dev/dynamic");
    settings.setDevLocationFilePath("/dev/location");
    EXPECT_EQ(settings.devLibraryFilePath(), "/dev/library.xml");
    EXPECT_EQ(settings.devDynamicFilePath(), "/dev/dynamic");
    EXPECT_EQ(settings.devLocationFilePath(), "/dev/location");
    EXPECT_TRUE(stored().empty());
    EXPECT_TRUE(Settings(defaults).devLibraryFilePath().empty());
}

TEST_F(SettingsTest, ApplicationFoldersAreMadeOnTheWay) {
    EXPECT_EQ(Settings::iconsCachePath(), folder / "data/Orvandel/Library/Icons");
    EXPECT_TRUE(isDirectory(folder / "data/Orvandel/Library/Icons"));
    EXPECT_EQ(Settings::applicationSupportPath(), folder / "data/Orvandel");
    EXPECT_EQ(Settings::appName(), "Orvandel");
    EXPECT_EQ(Settings::appIdentifier(), "com.orvandel.Orvandel");
    EXPECT_EQ(Settings::appVersion(), std::nullopt);

    // A file in the way: refused with a console line, and the path is still given.
    std::ofstream(folder / "data/Orvandel/Library/Blocked") << "x";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Settings::ensureDirectory(folder / "data/Orvandel/Library/Blocked"));
    EXPECT_FALSE(Settings::ensureDirectory(folder / "data/Orvandel/Library/Blocked/below"));
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_NE(console.find("A file with same name \"" + folder / "data/Orvandel/Library/Blocked" +
                           "\" already exists."),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("Could not create folder \"" +
                           folder / "data/Orvandel/Library/Blocked/below" + "\" ("),
              std::string::npos)
        << console;
}

TEST_F(SettingsTest, BundleValuesAndTheCompany) {
    std::ofstream(folder / "bundle/Info.plist")
        << R"(<plist version="1.0"><dict><key>CFBundleShortVersionString</key><string>2.4</string>)"
           R"(<key>CFBundleVersion</key><string>2.4.117</string>)"
           R"(<key>SUFeedURL</key><string>https://orvandel.example/feed.xml</string>)"
           R"(<key>CFBundleURLSupport</key><string>https://orvandel.example/help</string>)"
           R"(<key>CFBundleName</key><integer>7</integer></dict></plist>)";
    EXPECT_EQ(Settings::appVersionString(), "2.4");
    EXPECT_EQ(Settings::appVersion(), "2.4.117");
    EXPECT_EQ(Settings::appSparklecastURL(), "https://orvandel.example/feed.xml");
    EXPECT_EQ(Settings::appSupportURL(), "https://orvandel.example/help");
    EXPECT_EQ(Settings::appName(), std::nullopt);  // not text
    EXPECT_EQ(Settings::ValueFromBundle("CFBundleName"), Value(7));
    EXPECT_EQ(Settings::appIdentifier(), std::nullopt);
    EXPECT_EQ(Settings::appCompany(), "Brescorn");
}

namespace {

// Two threads ask for the shared settings at once on a fresh profile: both get the one
// object, and neither before the first-run rules are done. Ends the process with 0 when so.
[[noreturn]] void askForTheSharedSettingsTwiceAtOnce(const std::string& profile) {
    ::setenv("XDG_CONFIG_HOME", (profile + "/config").c_str(), 1);
    std::latch start(2);
    Settings* got[2] = {nullptr, nullptr};
    std::string patterns[2];
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            got[i] = &Settings::settings();
            patterns[i] = got[i]->transferFilePattern();
        });
    }
    for (auto& thread : threads) thread.join();
    const bool once = got[0] == got[1] && patterns[0] == "/$a/$b/$t" &&
                      patterns[1] == "/$a/$b/$t" && !got[0]->isFirstRun();
    std::filesystem::remove_all(profile);
    std::fputs(once ? "made once\n" : ("patterns " + patterns[0] + " and " + patterns[1] + "\n").c_str(),
               stderr);
    std::exit(once ? 0 : 1);
}

}  // namespace

TEST_F(SettingsTest, TwoFirstCallsAtOnceMakeTheSharedSettingsOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(askForTheSharedSettingsTwiceAtOnce(folder.path()), testing::ExitedWithCode(0),
                "made once");
}
