#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "MusicFixture.h"
#include "platform/music/LibraryFiles.h"

using musictest::MusicFixture;
namespace fs = std::filesystem;

namespace {

std::size_t filesIn(const std::string& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) count += entry.is_regular_file();
    return count;
}

// Imports, a second import of the same name, a file of someone else's at the wanted name, a
// move by new tags and a playlist, all in the library folder `music`: the library's files
// end up whole at their names, and the other file stays as it was.
void placeFilesIn(musictest::MusicFixture& fixture, const std::string& music) {
    const std::string album = music + "/Unknown Artist/Unknown Album/";
    fs::create_directories(album);
    foundationtest::writeText(album + "Theirs.mp3", "their own bytes");

    const std::string theirs = fixture.sourceFile("Theirs.mp3", "our bytes");
    const std::string taken = fixture.text("add_track_to_itunes", {theirs});
    EXPECT_EQ(fixture.script->library()->trackPath(taken), album + "Theirs 2.mp3");
    EXPECT_EQ(foundationtest::contentsOf(album + "Theirs.mp3"), "their own bytes");
    EXPECT_EQ(foundationtest::contentsOf(album + "Theirs 2.mp3"), "our bytes");

    const std::string intro = fixture.sourceFile("Intro.m4a", "intro bytes");
    const std::string first = fixture.text("add_track_to_itunes", {intro});
    const std::string second = fixture.text("add_track_to_itunes", {intro});
    EXPECT_EQ(fixture.script->library()->trackPath(first), album + "Intro.m4a");
    EXPECT_EQ(fixture.script->library()->trackPath(second), album + "Intro 2.m4a");

    ASSERT_EQ(fixture.text("update_track_metadata", {second, "Outro", "", "", 0, 0, 0, 0, 0, "",
                                                     0, 0, "", "", "", "", ""}),
              "");
    EXPECT_EQ(fixture.script->library()->trackPath(second), album + "Outro.m4a");
    EXPECT_EQ(foundationtest::contentsOf(album + "Outro.m4a"), "intro bytes");
    EXPECT_FALSE(fs::exists(album + "Intro 2.m4a"));

    ASSERT_EQ(fixture.text("add_to_playlist", {"Road", first}), "");
    ASSERT_EQ(fixture.text("add_to_playlist", {"Road", second}), "");
    EXPECT_EQ(musictest::MusicFixture::m3uPaths(music + "/Playlists/Road.m3u8"),
              (std::vector<std::string>{album + "Intro.m4a", album + "Outro.m4a"}));
    // Nothing left in the staging folder or beside the files.
    EXPECT_FALSE(fs::exists(music + "/.orvandel-staging"));
    EXPECT_EQ(filesIn(music), 5u);
}

}  // namespace

// Where link() is refused as a FAT or exFAT drive refuses it, files are still placed, and
// never over another file.
TEST_F(MusicFixture, FilesArePlacedWhereTheFileSystemHasNoHardLinks) {
    auto refused = std::make_shared<std::atomic<int>>(0);
    script = music::MusicScript::load(
        [&] {
            auto where = location();
            where.link = [refused](const char*, const char*) {
                ++*refused;
                errno = EPERM;
                return -1;
            };
            return where;
        }(),
        nullptr);
    ASSERT_TRUE(script);
    placeFilesIn(*this, folder / "Music");
    EXPECT_GT(refused->load(), 0);
}

// The same on a real exFAT file system, which has no hard links and takes no flags to
// renameat2: a drive image mounted through FUSE. That takes root, a loop device and the
// exFAT tools (scripts/install-deps fuse); without them the test says so and skips.
TEST_F(MusicFixture, FilesArePlacedOnAnExfatDrive) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a drive image takes root";
    if (std::system("command -v mkfs.exfat mount.exfat-fuse losetup fusermount >/dev/null") != 0)
        GTEST_SKIP() << "the exFAT tools are not installed (scripts/install-deps fuse)";
    const std::string image = folder / "drive.img";
    const std::string mountPoint = folder / "drive";
    fs::create_directories(mountPoint);
    const std::string make = "truncate -s 16M '" + image + "' && mkfs.exfat '" + image +
                             "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string deviceFile = folder / "device";
    if (std::system(("losetup -f --show '" + image + "' > '" + deviceFile + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no loop device can be attached here";
    std::string device = foundationtest::contentsOf(deviceFile);
    while (!device.empty() && device.back() == '\n') device.pop_back();
    // Detached however the test ends.
    std::shared_ptr<void> detach(nullptr, [device](void*) {
        std::system(("losetup -d '" + device + "'").c_str());
    });
    if (std::system(("mount.exfat-fuse '" + device + "' '" + mountPoint + "' >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "FUSE cannot mount the drive image here";
    std::shared_ptr<void> unmount(nullptr, [mountPoint](void*) {
        std::system(("fusermount -u '" + mountPoint + "'").c_str());
    });
    const std::string probe = mountPoint + "/probe";
    foundationtest::writeText(probe, "x");
    ASSERT_NE(::link(probe.c_str(), (mountPoint + "/probe2").c_str()), 0) << "hard links work";
    fs::remove(probe);

    script = music::MusicScript::load(
        {mountPoint + "/Music", folder / "data/MusicLibrary.sqlite", [this] { return pattern; }},
        nullptr);
    ASSERT_TRUE(script);
    placeFilesIn(*this, mountPoint + "/Music");
    script.reset();
}
