#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "HostileLibraries.h"
#include "MediaLoaderFixture.h"
#include "foundation/NotificationCenter.h"
#include "iTunesDBWriter.h"
#include "logging/CapturingLogger.h"

using foundation::Value;
using media::MediaLoader;

namespace {

// What the loader posts on the default centre while the test observes it.
class Notices {
public:
    Notices() {
        auto& center = foundation::NotificationCenter::defaultCenter();
        ids_[0] = center.addObserver("msgTaskMessage", nullptr, [this](const auto& notice) {
            std::lock_guard lock(mutex_);
            // The object is the text itself.
            steps_.push_back(*static_cast<const std::string*>(notice.object));
        });
        ids_[1] = center.addObserver("msgUpdateTrack", nullptr, [this](const auto& notice) {
            Value report = foundation::Dictionary{};
            for (const auto& [key, value] : notice.userInfo)
                report.set(key, std::any_cast<const Value&>(value));
            std::lock_guard lock(mutex_);
            senders_.push_back(notice.object);
            reports_.push_back(std::move(report));
        });
    }
    ~Notices() {
        for (auto id : ids_) foundation::NotificationCenter::defaultCenter().removeObserver(id);
    }
    std::vector<std::string> steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }
    std::vector<Value> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::vector<const void*> senders() const {
        std::lock_guard lock(mutex_);
        return senders_;
    }

private:
    foundation::NotificationCenter::ObserverId ids_[2] = {};
    mutable std::mutex mutex_;
    std::vector<std::string> steps_;
    std::vector<Value> reports_;
    std::vector<const void*> senders_;
};

class MediaLoaderStateTest : public mediatest::MediaLoaderFixture {};

TEST_F(MediaLoaderStateTest, StepsAreAnnouncedByTheirTextAndTracksReportedByTheirOwnEntries) {
    auto loader = loaderOf(phoneWithMediaLibrary("NOTICES"));
    Notices notices;
    loadAndMatch(*loader);
    EXPECT_EQ(notices.steps(),
              (std::vector<std::string>{"Loading Playlists...", "Loading Tracks...",
                                        "Loading album artwork..."}));
    // One report a track, the loader as sender, the record's own keys as user information.
    const auto reports = notices.reports();
    ASSERT_EQ(reports.size(), loader->allTracks()->size());
    EXPECT_EQ(notices.senders(), std::vector<const void*>(reports.size(), loader.get()));
    EXPECT_EQ(reports[0]["pid"], Value(101));
    EXPECT_EQ(reports[0]["title"], (*loader->allTracks()->front())["title"]);
    EXPECT_EQ(reports[0]["track"], Value());

    // A device without a library announces the binary walk.
    auto empty = loaderOf(phone("NOTHING"));
    Notices second;
    loadAndMatch(*empty);
    EXPECT_EQ(second.steps(), (std::vector<std::string>{"Loading Playlists & Tracks...",
                                                        "Loading album artwork..."}));
    EXPECT_TRUE(second.reports().empty());
}

TEST_F(MediaLoaderStateTest, RawPlaylistsAreTheShownRecordsByPidAndEachLoadRefillsThem) {
    auto loader = loaderOf(phoneWithMediaLibrary("RAW"));
    loadAndMatch(*loader);
    const auto raw = loader->rawPlaylists();
    ASSERT_EQ(raw->size(), 3u);  // the hidden playlist is not read
    const auto road = raw->at("1");
    EXPECT_EQ(road->name(), "Road");
    EXPECT_EQ(road->trackIDs(), (std::vector<Value>{Value(101), Value(102)}));
    const auto all = loader->allPlaylists();
    EXPECT_NE(std::find(all->begin(), all->end(), road), all->end());
    EXPECT_TRUE(raw->at("3")->isGenius());

    // Replaced as a whole; the next load empties it and reads it afresh.
    loader->setRawPlaylists({{"x", road}});
    EXPECT_EQ(loader->rawPlaylists()->size(), 1u);
    loadAndMatch(*loader);
    EXPECT_EQ(loader->rawPlaylists()->size(), 3u);
    EXPECT_EQ(loader->rawPlaylists()->count("x"), 0u);

    // A device now without its library: nothing raw is left of the last load.
    loader->setMyDevice(phone("BARE"));
    loadAndMatch(*loader);
    EXPECT_TRUE(loader->rawPlaylists()->empty());
    EXPECT_TRUE(loader->allTracks()->empty());
}

TEST_F(MediaLoaderStateTest, TheCopiesOfEveryLoadAreListedAndGoneOnceRead) {
    auto loader = loaderOf(phoneWithMediaLibrary("COPIES"));
    EXPECT_TRUE(loader->tempFilePaths().empty());
    loadAndMatch(*loader);
    const auto first = loader->tempFilePaths();
    ASSERT_EQ(first.size(), 4u);  // the library, its two journal files, the ringtone list
    EXPECT_EQ(std::filesystem::path(first[0]).filename(), "iTunesDB.sqlite");
    EXPECT_EQ(std::filesystem::path(first[1]).filename(), "iTunesDB.sqlite-shm");
    EXPECT_EQ(std::filesystem::path(first[2]).filename(), "iTunesDB.sqlite-wal");
    for (const auto& path : first) {
        // Inside the load's own folder under the temporary folder, and gone with it.
        EXPECT_EQ(std::filesystem::path(path).parent_path().parent_path(),
                  std::filesystem::path(temporary.path()));
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(temporary.path()));

    // Never emptied: a second load adds its own copies, in a folder of their own.
    loadAndMatch(*loader);
    const auto both = loader->tempFilePaths();
    ASSERT_EQ(both.size(), 8u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), both.begin()));
    EXPECT_NE(std::filesystem::path(both[4]).parent_path(),
              std::filesystem::path(first[0]).parent_path());
    loader->setTempFilePaths({});
    loadAndMatch(*loader);
    EXPECT_EQ(loader->tempFilePaths().size(), 4u);
}

// The load says its contents are read once, when the copies of the device's databases (and
// the folder they were in) are gone, whether or not the device had a library.
TEST_F(MediaLoaderStateTest, TheContentsAreReportedReadOnceTheCopiesAreGone) {
    for (const bool withLibrary : {true, false}) {
        SCOPED_TRACE(withLibrary);
        const std::string id = withLibrary ? "READ" : "READBARE";
        auto loader = loaderOf(withLibrary ? phoneWithMediaLibrary(id) : phone(id));
        std::vector<std::vector<std::string>> leftAtNotice;
        auto& center = foundation::NotificationCenter::defaultCenter();
        const auto observer =
            center.addObserver("msgFinishLoadingContents", nullptr, [&](const auto&) {
                std::vector<std::string> left;
                for (const auto& entry :
                     std::filesystem::recursive_directory_iterator(temporary.path())) {
                    left.push_back(entry.path());
                }
                leftAtNotice.push_back(std::move(left));
            });
        loadAndMatch(*loader);
        center.removeObserver(observer);
        ASSERT_EQ(leftAtNotice.size(), 1u);
        EXPECT_EQ(leftAtNotice[0], std::vector<std::string>{});
        EXPECT_EQ(loader->tempFilePaths().size(), withLibrary ? 4u : 3u);
    }
}

// A media library whose copy does not open is said so, with the copy's path, as information.
TEST_F(MediaLoaderStateTest, ALibraryThatDoesNotOpenIsLoggedAsInformation) {
    const std::string control = root("UNOPENED") + "/iTunes_Control/iTunes";
    // A folder in the database's place: it exists, but its copy fails.
    std::filesystem::create_directories(control + "/MediaLibrary.sqlitedb");
    auto loader = loaderOf(phone("UNOPENED"));
    const auto captured = std::make_shared<CapturingLogger>();
    const auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(LgLogLevelAll);
    LgLog::sharedInstance().addLogger(captured);
    loadAndMatch(*loader);
    LgLog::sharedInstance().flushLog();
    LgLog::sharedInstance().removeLogger(captured);
    lgLogLevel.store(savedLevel);
    EXPECT_TRUE(loader->iOS5());
    ASSERT_FALSE(loader->tempFilePaths().empty());
    const std::string expected = "Failed to open database " + loader->tempFilePaths()[0];
    const auto records = captured->records();
    const auto found = std::find_if(records.begin(), records.end(), [&](const auto& record) {
        return record.message() == expected;
    });
    ASSERT_NE(found, records.end());
    EXPECT_EQ(found->flag(), LgLogFlagInfo);
    // No playlists of its own, and the lists of a new loader stay empty.
    EXPECT_EQ(loader->allPlaylists()->size(), 5u);
    EXPECT_TRUE(loader->allUserPlaylists()->empty());
    EXPECT_TRUE(loader->allPublicPlaylists()->empty());
}

// A library that fails to load, here past the copies it may make, shows nothing of itself:
// no tracks, and none of the playlists read before its tracks.
TEST_F(MediaLoaderStateTest, ALibraryThatFailsToLoadShowsNothingOfItself) {
    const std::string control = root("HOSTILE") + "/iTunes_Control/iTunes";
    std::filesystem::create_directories(control);
    mediatest::writeRepeatedMembershipLibrary(control + "/MediaLibrary.sqlitedb");
    auto loader = loaderOf(phone("HOSTILE"));
    loadAndMatch(*loader);
    EXPECT_TRUE(loader->allTracks()->empty());
    EXPECT_EQ(loader->allPlaylists()->size(), 5u);
    EXPECT_TRUE(loader->allUserPlaylists()->empty());
    EXPECT_TRUE(loader->rawPlaylists()->empty());
}

// A binary database is copied as the Library.itdb group is, with the Dynamic.itdb and the
// Locations.itdb that would stand beside a Library.itdb, and the three copies are listed.
TEST_F(MediaLoaderStateTest, ABinaryDatabaseIsCopiedAsTheGroupIs) {
    mediatest::DatabaseSpec spec;
    spec.tracks.push_back({.id = 7, .strings = {{1, u"Song"}}});
    const std::string control = root("BINARY") + "/iTunes_Control/iTunes";
    std::filesystem::create_directories(control);
    const auto bytes = mediatest::writeITunesDB(spec);
    std::ofstream(control + "/iTunesDB", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto fake = std::make_shared<testsupport::FakeMobileDevice>(root("BINARY"), "BINARY");
    auto loader = loaderOf(std::make_shared<iMobileMediaDevice>(fake));
    loadAndMatch(*loader);
    EXPECT_EQ(loader->allTracks()->size(), 1u);
    const auto copies = loader->tempFilePaths();
    ASSERT_EQ(copies.size(), 3u);
    for (const auto& path : copies) {
        EXPECT_EQ(std::filesystem::path(path).parent_path(),
                  std::filesystem::path(copies[0]).parent_path());
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    }
    // The three, then the photo and artwork databases.
    EXPECT_EQ(fake->callCount("downloadFileTo"), 5);
}

TEST_F(MediaLoaderStateTest, TheDeviceCanBeChangedOrTakenAwayBetweenLoads) {
    // The steps of the load and of the match's end, each with its device ("none" without).
    class Steps : public media::MediaLoaderDelegate {
    public:
        void beforeLoadingTracksOf(media::MediaDevice* device) override {
            add("loadingLibrary", device);
        }
        void playlistsLoadedOf(media::MediaDevice* device) override {
            add("playlistsLoaded", device);
        }
        void finishLoadingTracksOf(media::MediaDevice* device) override {
            add("tracksLoaded", device);
        }
        void updateTrackInfoOf(const Value&, media::MediaDevice*) override {}
        void finishMatchingiTunesOf(media::MediaDevice* device) override {
            add("matching", device);
        }
        std::vector<std::string> devices() const {
            std::lock_guard lock(mutex_);
            return devices_;
        }

    private:
        void add(const char* step, media::MediaDevice* device) {
            std::lock_guard lock(mutex_);
            devices_.push_back(std::string(step) + " " + (device ? device->uuid() : "none"));
        }
        mutable std::mutex mutex_;
        std::vector<std::string> devices_;
    };
    auto steps = std::make_shared<Steps>();
    auto loader = loaderOf(phone("FIRST"));
    loader->setDelegate(steps);
    EXPECT_EQ(loader->delegate(), steps);
    const auto second = phoneWithMediaLibrary("SECOND");
    loader->setMyDevice(second);
    EXPECT_EQ(loader->myDevice(), second);
    loadAndMatch(*loader);
    EXPECT_EQ(loader->allTracks()->size(), 5u);
    // The match may end before the load's last step.
    auto sorted = [](std::vector<std::string> steps) {
        std::sort(steps.begin(), steps.end());
        return steps;
    };
    EXPECT_EQ(sorted(steps->devices()),
              (std::vector<std::string>{"loadingLibrary SECOND", "matching SECOND",
                                        "playlistsLoaded SECOND", "tracksLoaded SECOND"}));
    EXPECT_TRUE(loader->matched());
    loader->setMatched(false);
    EXPECT_FALSE(loader->matched());

    // Without a device a load finds nothing and leaves the loader idle, and the delegate
    // still hears every step of it, with no device.
    loader->setMyDevice(nullptr);
    loadAndMatch(*loader);
    EXPECT_FALSE(loader->busy());
    EXPECT_TRUE(loader->allTracks()->empty());
    EXPECT_EQ(loader->allPlaylists()->size(), 5u);
    const auto all = steps->devices();
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(sorted({all.begin() + 4, all.end()}),
              (std::vector<std::string>{"loadingLibrary none", "matching none",
                                        "playlistsLoaded none", "tracksLoaded none"}));
    EXPECT_FALSE(loader->photoAtPath("DCIM/a.png"));
    EXPECT_FALSE(loader->artworkForTrack(Value::dict({{"artwork_cache_id", 1}})));
    loader->loadDCIMPhotos();
    EXPECT_TRUE(loader->allDCIMPhotos()->empty());
}

TEST_F(MediaLoaderStateTest, ABinaryDatabasePlaylistWithoutANameReachesThePageWithAnEmptyName) {
    mediatest::DatabaseSpec spec;
    spec.tracks.push_back({.id = 7, .strings = {{1, u"Song"}}});
    spec.playlists.push_back({u"Pod", true, false, {7}});
    spec.playlists.push_back({.name = u"", .trackIDs = {7}, .named = false});
    spec.playlists.push_back({u"", false, false, {}});  // named, with an empty name
    const std::string control = root("POD") + "/iTunes_Control/iTunes";
    std::filesystem::create_directories(control);
    const auto bytes = mediatest::writeITunesDB(spec);
    std::ofstream(control + "/iTunesDB", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    auto loader = loaderOf(phone("POD"));
    loadAndMatch(*loader);
    const auto user = loader->allUserPlaylists();
    ASSERT_EQ(user->size(), 3u);
    EXPECT_TRUE((*user)[0]->hasName());
    EXPECT_FALSE((*user)[1]->hasName());
    EXPECT_TRUE((*user)[2]->hasName());
    const Value answer = loader->playlistsAnswer()["user"];
    EXPECT_EQ(answer[0]["name"], Value("Pod"));
    EXPECT_EQ(answer[1]["name"], Value(""));
    EXPECT_EQ(answer[1]["tracks"], Value::list({"7"}));
    EXPECT_EQ(answer[2]["name"], Value(""));
}

}  // namespace

// Whoever hears that the match ending a load is over may load again at once: the loader is
// idle by then, and the load it is asked for runs.
TEST_F(MediaLoaderStateTest, TheLoaderIsIdleWhenItsDelegateHearsTheLoadsMatchEnd) {
    class LoadsAgain : public media::MediaLoaderDelegate {
    public:
        std::weak_ptr<media::MediaLoader> loader;
        std::atomic<int> loads = 0;
        std::atomic<int> ends = 0;
        void beforeLoadingTracksOf(media::MediaDevice*) override { ++loads; }
        void playlistsLoadedOf(media::MediaDevice*) override {}
        void finishLoadingTracksOf(media::MediaDevice*) override {}
        void updateTrackInfoOf(const Value&, media::MediaDevice*) override {}
        void finishMatchingiTunesOf(media::MediaDevice*) override {
            if (++ends > 1) return;
            auto again = loader.lock();
            EXPECT_FALSE(again->busy());
            again->load();
        }
    };
    auto steps = std::make_shared<LoadsAgain>();
    auto loader = loaderOf(phoneWithMediaLibrary("AGAIN"));
    steps->loader = loader;
    loader->setDelegate(steps);
    loadAndMatch(*loader);
    EXPECT_EQ(steps->loads, 2);
    EXPECT_EQ(steps->ends, 2);
}
