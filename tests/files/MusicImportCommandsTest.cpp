#include <gtest/gtest.h>

#include <map>

#include "DeviceFolderFixture.h"
#include "files/MusicImportCommands.h"

using foundation::Value;

namespace {

// A device library and a music library kept in memory.
struct FakeMusic : DeviceTrackLibrary {
    Value lookupTrackWithPid(const std::string& pid) const override {
        const auto found = tracks.find(pid);
        return found == tracks.end() ? Value() : found->second;
    }
    void updateTrackWithPid(const std::string& pid, const Value& changes) override {
        for (const auto& [key, value] : *changes.dictionary()) tracks[pid].set(key, value);
    }
    std::vector<Playlist> allUserPlaylists() const override { return user; }
    std::vector<Playlist> allPublicPlaylists() const override { return publicOnes; }

    std::map<std::string, Value> tracks;
    std::vector<Playlist> user, publicOnes;
    std::optional<foundation::Error> importFails, updateFails;
    std::map<std::string, std::string> libraryPaths;  // persistentID -> file
    std::vector<std::string> addedTo;
    std::vector<Value> updated;
    std::optional<Value> held;  // what the library's match finds
    std::vector<Value> imported, matched;
};

class MusicImportTest : public PluginTest {
protected:
    MusicImportTest() {
        music->tracks["7"] = Value::dict({{"pid", "7"}, {"title", "Song"}});
        auto m = music;  // the commands outlive the test: they keep what they use
        const auto path = [m](const std::string& id) -> std::optional<std::string> {
            const auto found = m->libraryPaths.find(id);
            return found == m->libraryPaths.end() ? std::nullopt : std::optional(found->second);
        };
        MusicImportCommands::addTo(
            WVMobileDeviceFilesystemPlugin::fileCommands(),
            {[m, uuid = device->uuid()](const std::string& id) { return id == uuid ? m : nullptr; },
             [m](Value& track, foundation::Error* error) {
                 m->imported.push_back(track);
                 if (m->importFails) *error = *m->importFails;
                 else track.set("persistentID", "ABC");
                 return !m->importFails;
             },
             [m](const Value& track, foundation::Error* error) {
                 m->updated.push_back(track);
                 if (m->updateFails) *error = *m->updateFails;
                 return !m->updateFails;
             },
             path, path,
             [m](const Value&, const std::string& playlist) {
                 m->addedTo.push_back(playlist);
                 return true;
             },
             [m](const Value& track) {
                 m->matched.push_back(track);
                 return m->held;
             }});
    }
    Value import(std::initializer_list<std::pair<const std::string, Value>> more) {
        return on("device-additunes", "/", more);
    }

    std::shared_ptr<FakeMusic> music = std::make_shared<FakeMusic>();
};

TEST_F(MusicImportTest, ImportAnswersAndMarksTheDeviceRecord) {
    EXPECT_EQ(import({{"pid", 7}, {"localpath", "/tmp/s.mp3"}}), error("missing track pid"));
    EXPECT_EQ(import({{"pid", "7"}}), error("missing local path"));
    EXPECT_EQ(import({{"pid", "8"}, {"localpath", "/tmp/s.mp3"}}), error("missing track info"));
    music->importFails = foundation::Error{"d", 10, "no file", {}};
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}}), error("no file"));
    music->importFails = foundation::Error{};
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}}), error("failed to import to iTunes"));
    EXPECT_EQ(music->tracks["7"], Value::dict({{"pid", "7"}, {"title", "Song"}}));
    music->importFails.reset();

    // Imported, but the library gives no path: marked copied all the same.
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}}), ok());
    EXPECT_EQ(music->tracks["7"]["copied"], Value(true));
    EXPECT_TRUE(music->tracks["7"]["macpath"].isNil());

    music->libraryPaths["ABC"] = "/music/Song.mp3";
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}}),
              data(Value::dict({{"localpath", "/music/Song.mp3"}, {"persistentID", "ABC"}})));
    EXPECT_EQ(music->tracks["7"]["macpath"], Value("/music/Song.mp3"));
    EXPECT_TRUE(music->addedTo.empty());
}

// A device whose library was never loaded has no loader to find the track in.
TEST_F(MusicImportTest, BothCommandsNeedTheDevicesMediaLoader) {
    const auto other = std::make_shared<testsupport::FakeMobileDevice>(media(), "OTHER-DEVICE");
    devices->devices[other->uuid()] = other;
    const auto ask = [&](const char* cmd, std::initializer_list<std::pair<const std::string, Value>> more) {
        Value request = Value::dict(more);
        request.set("cmd", cmd);
        request.set("udid", other->uuid());
        request.set("path", "/");
        return PluginTest::ask(request);
    };
    EXPECT_EQ(ask("device-additunes", {{"pid", "7"}, {"localpath", "/tmp/s.mp3"}}), error("no media loader found"));
    EXPECT_EQ(ask("device-update-track-itunes-meta", {{"pid", "7"}}), error("no media loader found"));
    EXPECT_TRUE(music->imported.empty());
    EXPECT_TRUE(music->updated.empty());
}

TEST_F(MusicImportTest, AnImportedTrackCanHaveItsTagsWrittenAtOnce) {
    music->libraryPaths["ABC"] = "/music/Song.mp3";
    ASSERT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}})["result"], Value(true));
    EXPECT_EQ(music->tracks["7"]["persistentID"], Value("ABC"));
    EXPECT_EQ(on("device-update-track-itunes-meta", "/", {{"pid", "7"}}), ok());
    ASSERT_EQ(music->updated.size(), 1u);
    EXPECT_EQ(music->updated[0]["persistentID"], Value("ABC"));
}

TEST_F(MusicImportTest, PlaylistIsTheNamedOneOrTheFirstThatHoldsTheTrack) {
    music->libraryPaths["ABC"] = "/music/Song.mp3";
    music->user = {{"Empty", {"1"}}, {"", {"7"}}, {"Mine", {"7"}}};
    music->publicOnes = {{"Public", {"7"}}};
    const auto add = [&](const Value& playlist) {
        import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}, {"addToPlaylist", true}, {"playlist", playlist}});
    };
    add("Chosen");
    add(Value());  // the unnamed user playlist holding it is passed over for the public one
    music->user = {{"Mine", {"7"}}};
    add(Value());
    music->user.clear();
    music->publicOnes.clear();
    add(Value());
    EXPECT_EQ(music->addedTo, (std::vector<std::string>{"Chosen", "Public", "Mine"}));

    // The page may send the flag as text.
    music->addedTo.clear();
    for (const char* flag : {"1", "true", "0", "no"})
        import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}, {"addToPlaylist", flag},
                {"playlist", flag}});
    EXPECT_EQ(music->addedTo, (std::vector<std::string>{"1", "true"}));
}

// A track the library already holds, its file in place, is not imported a second time: the
// answer and the device record name the library's track, and the playlist still gets it.
TEST_F(MusicImportTest, ATrackTheLibraryHoldsIsNotImportedAgain) {
    const std::string file = folder / "Song.mp3";
    foundationtest::writeText(file, "audio");
    music->libraryPaths["HELD"] = file;
    music->held = Value::dict({{"pid", "HELD"}, {"location", file}});
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}, {"addToPlaylist", true}, {"playlist", "Road"}}),
              data(Value::dict({{"localpath", file}, {"persistentID", "HELD"}, {"alreadyInLibrary", true}})));
    EXPECT_TRUE(music->imported.empty());
    ASSERT_EQ(music->matched.size(), 1u);
    EXPECT_EQ(music->matched[0]["title"], Value("Song"));
    EXPECT_EQ(music->addedTo, std::vector<std::string>{"Road"});
    EXPECT_EQ(music->tracks["7"]["copied"], Value(true));
    EXPECT_EQ(music->tracks["7"]["persistentID"], Value("HELD"));

    // A match whose file is gone, or no match, imports.
    music->held = Value::dict({{"pid", "HELD"}, {"location", folder / "gone.mp3"}});
    const Value imported = import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}});
    EXPECT_EQ(imported["result"], Value(true));
    EXPECT_TRUE(imported["data"]["alreadyInLibrary"].isNil());
    music->held.reset();
    EXPECT_EQ(import({{"pid", "7"}, {"localpath", "/tmp/s.mp3"}})["result"], Value(true));
    EXPECT_EQ(music->imported.size(), 2u);
}

TEST_F(MusicImportTest, MetadataUpdateNeedsTheLibraryCopy) {
    EXPECT_EQ(on("device-update-track-itunes-meta", "/", {{"pid", "7"}}),
              error("the track \"Song\" doest not exist in music library yet."));
    music->tracks["7"].set("persistentID", "ABC");
    music->libraryPaths["ABC"] = "/music/Song.mp3";
    EXPECT_EQ(on("device-update-track-itunes-meta", "/", {{"pid", "7"}}), ok());
    ASSERT_EQ(music->updated.size(), 1u);
    EXPECT_EQ(music->updated[0]["macpath"], Value("/music/Song.mp3"));
    EXPECT_TRUE(music->tracks["7"]["macpath"].isNil());
    music->updateFails = foundation::Error{"d", -1002, "the script failed", {}};
    EXPECT_EQ(on("device-update-track-itunes-meta", "/", {{"pid", "7"}}), error("the script failed"));
    EXPECT_EQ(on("device-update-track-itunes-meta", "/", {{"pid", ""}}), error("missing track pid"));
}

}  // namespace
