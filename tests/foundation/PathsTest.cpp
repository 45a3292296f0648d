#include "foundation/Paths.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "ScopedEnvironment.h"
#include "ScratchFolder.h"

using foundation::Paths;
using foundationtest::ScopedEnvironment;
using foundationtest::ScratchFolder;

namespace {

const char* const kVariables[] = {"HOME",           "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                  "XDG_STATE_HOME", "XDG_CACHE_HOME",  "XDG_MUSIC_DIR",
                                  "TMPDIR"};

class PathsTest : public testing::Test {
protected:
    PathsTest() {
        for (const char* name : kVariables) environment.unset(name);
    }
    ScopedEnvironment environment;
};

}  // namespace

TEST_F(PathsTest, FollowsTheEnvironment) {
    environment.set("HOME", "/home/someone");
    environment.set("XDG_CONFIG_HOME", "/x/config");
    environment.set("XDG_DATA_HOME", "/x/data");
    environment.set("XDG_STATE_HOME", "/x/state");
    environment.set("XDG_CACHE_HOME", "/x/cache");
    environment.set("XDG_MUSIC_DIR", "/x/music");
    environment.set("TMPDIR", "/x/tmp");
    EXPECT_EQ(Paths::homeDir(), "/home/someone");
    EXPECT_EQ(Paths::configHome(), "/x/config");
    EXPECT_EQ(Paths::dataHome(), "/x/data");
    EXPECT_EQ(Paths::stateHome(), "/x/state");
    EXPECT_EQ(Paths::cacheHome(), "/x/cache");
    EXPECT_EQ(Paths::musicDir(), "/x/music");
    EXPECT_EQ(Paths::tempDir(), "/x/tmp");
    EXPECT_EQ(Paths::preferencesDir(), "/x/config/Orvandel");
    EXPECT_EQ(Paths::applicationSupportDir(), "/x/data/Orvandel");
    EXPECT_EQ(Paths::logsDir(), "/x/state/Orvandel/Logs");
    EXPECT_EQ(Paths::cachesDir(), "/x/cache/Orvandel");

    // Read at every call, not once.
    environment.set("XDG_CONFIG_HOME", "/y/config/");
    EXPECT_EQ(Paths::preferencesDir(), "/y/config/Orvandel");
    environment.set("XDG_CACHE_HOME", "/");
    EXPECT_EQ(Paths::cachesDir(), "/Orvandel");
}

TEST_F(PathsTest, FallsBackToTheHomeFolder) {
    environment.set("HOME", "/home/someone/");
    EXPECT_EQ(Paths::configHome(), "/home/someone/.config");
    EXPECT_EQ(Paths::dataHome(), "/home/someone/.local/share");
    EXPECT_EQ(Paths::stateHome(), "/home/someone/.local/state");
    EXPECT_EQ(Paths::cacheHome(), "/home/someone/.cache");
    EXPECT_EQ(Paths::musicDir(), "/home/someone/Music");
    EXPECT_EQ(Paths::tempDir(), "/tmp");
    EXPECT_EQ(Paths::logsDir(), "/home/someone/.local/state/Orvandel/Logs");

    // Relative and empty values count as unset.
    environment.set("XDG_CONFIG_HOME", "relative/config");
    environment.set("XDG_DATA_HOME", "");
    environment.set("XDG_MUSIC_DIR", "~/Music");
    environment.set("TMPDIR", "tmp");
    EXPECT_EQ(Paths::preferencesDir(), "/home/someone/.config/Orvandel");
    EXPECT_EQ(Paths::applicationSupportDir(), "/home/someone/.local/share/Orvandel");
    EXPECT_EQ(Paths::musicDir(), "/home/someone/Music");
    EXPECT_EQ(Paths::tempDir(), "/tmp");
}

TEST_F(PathsTest, WithoutHomeUsesTheUserDatabase) {
    passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    std::string home = entry->pw_dir;
    while (home.size() > 1 && home.back() == '/') home.pop_back();

    EXPECT_EQ(Paths::homeDir(), home);
    environment.set("HOME", "not/absolute");
    EXPECT_EQ(Paths::homeDir(), home);
    EXPECT_EQ(Paths::cacheHome(), (home == "/" ? "" : home) + "/.cache");
}

TEST(PathsEnsureDirectory, CreatesPrivateFoldersWithTheirParents) {
    ScratchFolder scratch;
    std::string nested = scratch / "a/b//c/";
    std::string error;
    ASSERT_TRUE(Paths::ensureDirectory(nested, &error)) << error;
    for (const char* part : {"a", "a/b", "a/b/c"}) {
        struct stat info {};
        ASSERT_EQ(stat((scratch / part).c_str(), &info), 0) << part;
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u) << part;
    }
    // An existing folder is fine and keeps its mode.
    chmod((scratch / "a").c_str(), 0755);
    EXPECT_TRUE(Paths::ensureDirectory(scratch / "a", &error));
    struct stat info {};
    stat((scratch / "a").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_TRUE(Paths::ensureDirectory("/", &error));
}

TEST(PathsEnsureDirectory, FailsWhereAFileIsInTheWay) {
    ScratchFolder scratch;
    std::ofstream(scratch / "file") << "x";
    std::string error;
    EXPECT_FALSE(Paths::ensureDirectory(scratch / "file", &error));
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(Paths::ensureDirectory(scratch / "file/below", &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(Paths::ensureDirectory("", &error));
    EXPECT_FALSE(error.empty());
}
