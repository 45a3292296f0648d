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
using foundationtest::ScratchFolder;

namespace {

// Each test starts with HOME=/h/ and the other variables unset, and puts them back after.
class PathsTest : public testing::Test {
protected:
    PathsTest() {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                                 "XDG_CACHE_HOME", "XDG_MUSIC_DIR", "TMPDIR"}) {
            environment.unset(name);
        }
        environment.set("HOME", "/h/");
    }
    foundationtest::ScopedEnvironment environment;
};

}  // namespace

TEST_F(PathsTest, FollowsTheEnvironmentAtEveryCall) {
    EXPECT_EQ(Paths::homeDir(), "/h");
    EXPECT_EQ(Paths::configHome(), "/h/.config");
    EXPECT_EQ(Paths::dataHome(), "/h/.local/share");
    EXPECT_EQ(Paths::stateHome(), "/h/.local/state");
    EXPECT_EQ(Paths::cacheHome(), "/h/.cache");
    EXPECT_EQ(Paths::musicDir(), "/h/Music");
    EXPECT_EQ(Paths::tempDir(), "/tmp");

    // Relative and empty values count as unset.
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    setenv("XDG_DATA_HOME", "", 1);
    setenv("XDG_MUSIC_DIR", "~/Music", 1);
    setenv("TMPDIR", "tmp", 1);
    EXPECT_EQ(Paths::preferencesDir(), "/h/.config/Orvandel");
    EXPECT_EQ(Paths::applicationSupportDir(), "/h/.local/share/Orvandel");
    EXPECT_EQ(Paths::musicDir(), "/h/Music");
    EXPECT_EQ(Paths::tempDir(), "/tmp");

    setenv("XDG_CONFIG_HOME", "/x/config/", 1);
    setenv("XDG_DATA_HOME", "/x/data", 1);
    setenv("XDG_STATE_HOME", "/x/state", 1);
    setenv("XDG_CACHE_HOME", "/", 1);
    setenv("XDG_MUSIC_DIR", "/x/music", 1);
    setenv("TMPDIR", "/x/tmp", 1);
    EXPECT_EQ(Paths::preferencesDir(), "/x/config/Orvandel");
    EXPECT_EQ(Paths::applicationSupportDir(), "/x/data/Orvandel");
    EXPECT_EQ(Paths::logsDir(), "/x/state/Orvandel/Logs");
    EXPECT_EQ(Paths::cachesDir(), "/Orvandel");
    EXPECT_EQ(Paths::musicDir(), "/x/music");
    EXPECT_EQ(Paths::tempDir(), "/x/tmp");
}

TEST_F(PathsTest, WithoutHomeUsesTheUserDatabase) {
    passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    std::string home = entry->pw_dir;
    while (home.size() > 1 && home.back() == '/') home.pop_back();

    unsetenv("HOME");
    EXPECT_EQ(Paths::homeDir(), home);
    setenv("HOME", "not/absolute", 1);
    EXPECT_EQ(Paths::cacheHome(), (home == "/" ? "" : home) + "/.cache");
}

TEST(PathsEnsureDirectory, CreatesPrivateFoldersWithTheirParents) {
    ScratchFolder scratch;
    std::string error;
    ASSERT_TRUE(Paths::ensureDirectory(scratch / "a/b//c/", &error)) << error;
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

    std::ofstream(scratch / "file") << "x";
    for (const std::string& path : {scratch / "file", scratch / "file/below", std::string()}) {
        error.clear();
        EXPECT_FALSE(Paths::ensureDirectory(path, &error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}
