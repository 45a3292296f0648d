#include <gtest/gtest.h>

#include "data/helpers/NSFileManagerPaths.h"
#include "foundation/ScopedEnvironment.h"

namespace {

TEST(NSFileManagerPathsTest, UserFoldersFollowTheEnvironment) {
    foundationtest::ScopedEnvironment environment;
    environment.set("XDG_CONFIG_HOME", "/tmp/orvandel-config");
    environment.set("XDG_CACHE_HOME", "/tmp/orvandel-cache");
    EXPECT_EQ(NSFileManager::GetPreferencesDirectory(), "/tmp/orvandel-config");
    EXPECT_EQ(NSFileManager::findSystemFolderTypeForDomain(NSFileManager::kCachesFolderType,
                                                           NSFileManager::kUserDomain),
              "/tmp/orvandel-cache");
    EXPECT_EQ(NSFileManager::findSystemFolderTypeForDomain(0x64657363, NSFileManager::kUserDomain),
              std::nullopt);
    EXPECT_EQ(
        NSFileManager::findSystemFolderTypeForDomain(NSFileManager::kPreferencesFolderType, -32766),
        std::nullopt);
}

}  // namespace
