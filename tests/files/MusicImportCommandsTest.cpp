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
};

class MusicImportTest : public PluginTest {
protected:
    MusicImportTest() {
        music->tracks["7"] = Value::dict({{"pid", "7"}, {"title", "Song"}});
        std::weak_ptr<FakeMusic> weak = music;
        const auto path = [weak](const std::string& id) -> std::optional<std::string> {
            const auto found = weak.lock()->libraryPaths.find(id);
            if (found == weak.lock()->libraryPaths.end()) return std::nullopt;
            return found->second;
        };
        MusicImportServices services;
        services.mediaLoaderOf = [weak, uuid = device->uuid()](const std::string& id) {
            return id == uuid ? std::static_pointer_cast<DeviceTrackLibrary>(weak.lock()) : nullptr;
        };
        services.importToItunes = [weak](Value& track, foundation::Error* error) {
            if (weak.lock()->importFails) {
                *error = *weak.lock()->importFails;
                return false;
            }
            track.set("persistentID", "ABC");
            return true;
        };
        services.updateTrackMetadataInITunes = [weak](const Value& track, foundation::Error* error) {
            weak.lock()->updated.push_back(track);
            if (weak.lock()->updateFails) *error = *weak.lock()->updateFails;
            return !weak.lock()->updateFails;
        };
        services.pathForTrackByPID = path;
        services.pathForTrackByPersistentID = path;
        services.addToITunesPlaylist = [weak](const Value&, const std::string& playlist) {
            weak.lock()->addedTo.push_back(playlist);
            return true;
        };
        MusicImportCommands::addTo(WVMobileDeviceFilesystemPlugin::fileCommands(), services);
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

TEST_F(MusicImportTest, PlaylistIsTheNamedOneOrTheFirstThatHoldsTheTrack) {
    music->libraryPaths["ABC"] = "/music/Song.mp3";
    music->user = {{"Empty", {"1"}}, {"", {"7"}}, {"Mine", {"7"}}};
    music->publicOnes = {{"Public", {"7"}}};
    const auto add = [&](std::initializer_list<std::pair<const std::string, Value>> more) {
        Value request = Value::dict(more);
        request.set("pid", "7");
        request.set("localpath", "/tmp/s.mp3");
        request.set("addToPlaylist", true);
        request.set("cmd", "device-additunes");
        request.set("udid", device->uuid());
        request.set("path", "/");
        ask(request);
    };
    add({{"playlist", "Chosen"}});
    add({});  // the unnamed user playlist holding it is passed over for the public one
    music->user = {{"Mine", {"7"}}};
    add({});
    music->user.clear();
    music->publicOnes.clear();
    add({});
    EXPECT_EQ(music->addedTo, (std::vector<std::string>{"Chosen", "Public", "Mine"}));
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
