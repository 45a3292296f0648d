#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "foundation/ScratchFolder.h"
#include "foundation/Unprivileged.h"
#include "platform/music/LibraryAccess.h"

namespace {

// The library's folder and index must be readable and writable; what is not there yet may
// be made where the folder above it is writable.
TEST(LibraryAccess, FolderAndIndexMustBeReadableAndWritable) {
    foundationtest::ScratchFolder scratch;
    const std::string folder = scratch / "Music";
    const std::string index = scratch / "data/index.sqlite";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(scratch / "data");
    std::ofstream(index) << "";
    for (const std::string& owned : {scratch.path(), folder, scratch / "data", index})
        foundationtest::giveToCheckingUser(owned);
    chmod(scratch.path().c_str(), 0755);
    const auto accessible = [](const music::MusicLibraryLocation& location) {
        return foundationtest::withoutPrivileges(
            [&] { return music::canReadAndWrite(location); });
    };
    EXPECT_TRUE(accessible({folder, index, {}}));
    EXPECT_TRUE(accessible({scratch / "new/Music", scratch / "new/index.sqlite", {}}));
    EXPECT_FALSE(music::canReadAndWrite({"", index, {}}));

    chmod(index.c_str(), 0444);
    EXPECT_FALSE(accessible({folder, index, {}}));
    chmod(index.c_str(), 0644);
    chmod(folder.c_str(), 0555);
    EXPECT_FALSE(accessible({folder, index, {}}));
    chmod(folder.c_str(), 0755);
    chmod((scratch / "data").c_str(), 0555);
    EXPECT_FALSE(accessible({folder, scratch / "data/missing.sqlite", {}}));
    chmod((scratch / "data").c_str(), 0755);
}

}  // namespace
