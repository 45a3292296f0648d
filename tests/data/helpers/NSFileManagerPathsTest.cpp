#include <gtest/gtest.h>

#include <cstdlib>

#include "data/helpers/NSFileManagerPaths.h"

namespace {

TEST(NSFileManagerPathsTest, UserFoldersFollowTheEnvironment) {
    setenv("XDG_CONFIG_HOME", "/tmp/orvandel-config", 1);
    setenv("XDG_CACHE_HOME", "/tmp/orvandel-cache", 1);
    EXPECT_EQ(NSFileManager::GetPreferencesDirectory(), "/tmp/orvandel-config");
    EXPECT_EQ(NSFileManager::findSystemFolderTypeForDomain(NSFileManager::kCachesFolderType,
                                                           NSFileManager::kUserDomain),
              "/tmp/orvandel-cache");
    EXPECT_EQ(NSFileManager::findSystemFolderTypeForDomain(0x64657363, NSFileManager::kUserDomain),
              std::nullopt);
    EXPECT_EQ(
        NSFileManager::findSystemFolderTypeForDomain(NSFileManager::kPreferencesFolderType, -32766),
        std::nullopt);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CACHE_HOME");
}

}  // namespace
