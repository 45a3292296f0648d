#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "Latch.h"
#include "MediaLibraryFixtures.h"
#include "MusicLibraryFixture.h"
#include "content/AppFetchHandler.h"
#include "content/ThreadPool.h"
#include "device/iMobileMediaDevice.h"
#include "device/iPodDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/OperationQueue.h"
#include "media/GpodFixtures.h"
#include "media/MediaLoader.h"
#include "media/iTunesLibrary.h"

using foundation::Value;
using media::MediaLoader;
using mediatest::LadderForm;

namespace {

// The steps a loader reports, in the order they arrive.
class Recorder : public media::MediaLoaderDelegate {
public:
    void beforeLoadingTracksOf(media::MediaDevice&) override { add("loadingLibrary"); }
    void playlistsLoadedOf(media::MediaDevice&) override { add("playlistsLoaded"); }
    void finishLoadingTracksOf(media::MediaDevice&) override { add("tracksLoaded"); }
    void updateTrackInfoOf(const Value& track, media::MediaDevice&) override {
        std::lock_guard lock(mutex_);
        steps_.push_back("updateTrack");
        tracks_.push_back(track);
    }
    void finishMatchingiTunesOf(media::MediaDevice&) override { add("matching"); }

    std::vector<std::string> steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }
    std::vector<Value> tracks() const {
        std::lock_guard lock(mutex_);
        return tracks_;
    }

private:
    void add(const char* step) {
        std::lock_guard lock(mutex_);
        steps_.push_back(step);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> steps_;
    std::vector<Value> tracks_;
};

std::vector<std::string> names(const MediaLoader::Playlists& playlists) {
    std::vector<std::string> out;
    for (const auto& playlist : playlists) out.push_back(playlist->name());
    return out;
}

void waitForPool() {
    ThreadPool::async().waitUntilAllOperationsAreFinished();
}

class MediaLoaderTest : public mediatest::MusicLibraryFixture {
protected:
    void SetUp() override {
        MusicLibraryFixture::SetUp();
        environment.set("TMPDIR", temporary.path());
    }

    std::string root(const std::string& name) {
        const std::string path = folder / name;
        std::filesystem::create_directories(path);
        return path;
    }
    // A phone keeping a media library (with its ringtone list) of the given shape.
    std::shared_ptr<testsupport::FakeMobileDevice> phoneWithMediaLibrary(const std::string& id,
                                                                         LadderForm form) {
        const std::string media = root(id);
        std::filesystem::create_directories(media + "/iTunes_Control/iTunes");
        mediatest::writeDatabase(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                                 mediatest::mediaLibrarySql({form}));
        std::ofstream(media + "/iTunes_Control/iTunes/Ringtones.plist")
            << mediatest::kRingtonesPlist;
        return std::make_shared<testsupport::FakeMobileDevice>(media, id);
    }
    std::shared_ptr<MediaLoader> loaderOf(std::shared_ptr<iMobileDevice> device) {
        auto loader = MediaLoader::initWithDevice(
            std::make_shared<iMobileMediaDevice>(std::move(device)), &library);
        loader->setDelegate(recorder);
        return loader;
    }
    // Loads and waits for the match that ends the load.
    void loadAndMatch(MediaLoader& loader) {
        loader.load();
        waitForPool();
        EXPECT_FALSE(loader.busy());
        EXPECT_TRUE(loader.matched());
    }
    void expectStepsInOrder(std::size_t trackCount) {
        const auto steps = recorder->steps();
        ASSERT_GE(steps.size(), 4u);
        EXPECT_EQ(steps[0], "loadingLibrary");
        EXPECT_EQ(steps[1], "playlistsLoaded");
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "tracksLoaded"), 1);
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "updateTrack"),
                  static_cast<std::ptrdiff_t>(trackCount));
        // The match reports its end after its last track.
        std::vector<std::string> match;
        std::copy_if(steps.begin() + 2, steps.end(), std::back_inserter(match),
                     [](const std::string& step) { return step != "tracksLoaded"; });
        EXPECT_EQ(match.back(), "matching");
        EXPECT_EQ(match.size(), trackCount + 1);
    }
    void expectNoCopiesLeft() { EXPECT_TRUE(std::filesystem::is_empty(temporary.path())); }

    foundationtest::ScratchFolder temporary;
    foundationtest::ScopedEnvironment environment;
    media::iTunesLibrary library{wrapper};
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(MediaLoaderTest, AMediaLibraryLoadsWithRingtonesAndMatchesWithTheMusicLibrary) {
    Value imported = Value::dict({{"macpath", sourceFile("a.mp3")},
                                  {"title", "Alpha"},
                                  {"artist", "Ann"},
                                  {"album", "First"}});
    ASSERT_TRUE(wrapper.importToItunesError(imported, nullptr));
    auto loader = loaderOf(phoneWithMediaLibrary("PHONE-1", LadderForm::Second));
    loadAndMatch(*loader);
    expectStepsInOrder(5);
    expectNoCopiesLeft();
    EXPECT_TRUE(loader->iOS5());
    EXPECT_TRUE(loader->isDBSqlite());

    const auto tracks = loader->allTracks();
    ASSERT_EQ(tracks->size(), 5u);  // three tracks, two ringtones
    EXPECT_EQ((*tracks->back())["location"], Value("iTunes_Control/Ringtones/BBBB.m4r"));
    EXPECT_EQ(names(*loader->allPlaylists()),
              (std::vector<std::string>{"Library", "Music", "Movies", "Ringtons", "Podcasts",
                                        "Smart", "Road", "Genius"}));
    EXPECT_EQ(names(*loader->allUserPlaylists()), (std::vector<std::string>{"Smart", "Road"}));
    EXPECT_EQ(names(*loader->allPublicPlaylists()).back(), "Genius");
    EXPECT_EQ((*loader->allPlaylists())[3]->trackIDs(),
              (std::vector<Value>{Value("-42"), Value("0")}));

    // Found by number or decimal text, never by the hexadecimal pidstr; the match's marks stay.
    const auto song = loader->lookupTrackWithPid(Value(101));
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(loader->lookupTrackWithPid(Value("101")), song);
    EXPECT_EQ(loader->lookupTrackWithPid(Value("65")), nullptr);
    EXPECT_EQ(loader->lookupTrackWithPid(Value(true)), nullptr);
    EXPECT_NE(loader->lookupTrackWithPid(Value("-42")), nullptr);
    EXPECT_EQ((*song)["status"], Value("copied"));
    EXPECT_EQ((*song)["persistentID"], imported["persistentID"]);
    EXPECT_EQ(recorder->tracks()[0]["status"], Value("copied"));

    const Value answer = loader->tracksAnswer();
    EXPECT_EQ(answer["total"], Value(std::uint64_t{5}));
    EXPECT_EQ(answer["records"][0]["pid"], Value("101"));
    const Value playlists = loader->playlistsAnswer();
    EXPECT_EQ(playlists["user"][1]["tracks"], Value::list({"101", "102"}));
    EXPECT_EQ(playlists["public"][3]["tracks"], Value::list({"-42", "0"}));
    EXPECT_EQ(loader->allAlbums(),
              Value::list({Value::dict({{"name", "Photos"}, {"dcim", false}})}));
}

TEST_F(MediaLoaderTest, TheOtherLayoutsLoadTheirTracksAndLists) {
    // Library.itdb group: no ringtones even with a ringtone list beside it.
    auto group = phoneWithMediaLibrary("GROUP", LadderForm::Second);
    const std::string itlp = folder / "GROUP/iTunes_Control/iTunes/iTunes Library.itlp";
    std::filesystem::create_directories(itlp);
    mediatest::writeDatabase(itlp + "/Library.itdb", mediatest::kLibraryItdbSql);
    mediatest::writeDatabase(itlp + "/Locations.itdb", mediatest::kLocationsItdbSql);
    mediatest::writeDatabase(itlp + "/Dynamic.itdb", mediatest::kDynamicItdbSql);
    auto groupLoader = loaderOf(group);
    loadAndMatch(*groupLoader);
    expectStepsInOrder(3);
    EXPECT_FALSE(groupLoader->iOS5());
    EXPECT_TRUE(groupLoader->isDBSqlite());
    EXPECT_EQ(groupLoader->allTracks()->size(), 3u);
    EXPECT_EQ(names(*groupLoader->allUserPlaylists()), std::vector<std::string>{"Mix"});
    EXPECT_TRUE((*groupLoader->allPlaylists())[3]->trackIDs().empty());

    // Nothing at all: the five common playlists only, the lists left empty, no tracks.
    recorder = std::make_shared<Recorder>();
    auto empty = loaderOf(std::make_shared<testsupport::FakeMobileDevice>(root("EMPTY"), "EMPTY"));
    loadAndMatch(*empty);
    expectStepsInOrder(0);
    EXPECT_FALSE(empty->isDBSqlite());
    EXPECT_TRUE(empty->allTracks()->empty());
    EXPECT_EQ(empty->allPlaylists()->size(), 5u);
    EXPECT_TRUE(empty->allPublicPlaylists()->empty());
    EXPECT_TRUE(empty->allUserPlaylists()->empty());
    EXPECT_EQ(empty->allAlbums()[0]["name"], Value("Photos"));
    expectNoCopiesLeft();

#ifdef ORVANDEL_HAVE_GPOD
    // A disk-mode iPod whose iTunesDB libgpod wrote.
    recorder = std::make_shared<Recorder>();
    const std::string mount = root("IPOD");
    std::filesystem::create_directories(mount + "/iPod_Control/iTunes");
    auto itdb = mediatest::makeGpodDatabase(3);
    ASSERT_TRUE(mediatest::writeGpodDatabase(itdb.get(), mount + "/iPod_Control/iTunes/iTunesDB"));
    auto pod =
        loaderOf(std::make_shared<iPodDevice>(mount, [](const std::string&) { return "SERIAL"; }));
    loadAndMatch(*pod);
    expectStepsInOrder(3);
    const auto tracks = pod->allTracks();
    ASSERT_EQ(tracks->size(), 3u);
    EXPECT_EQ((*(*tracks)[2])["title"], Value("Song 2"));
    EXPECT_EQ(names(*pod->allUserPlaylists()),
              (std::vector<std::string>{"Gpod iPod", "Road", "Smart"}));
    EXPECT_EQ(pod->allPublicPlaylists()->size(), 5u);
    const auto& master = *pod->allUserPlaylists()->front();
    EXPECT_TRUE(master.isMaster());
    ASSERT_EQ(master.trackIDs().size(), 3u);
    EXPECT_EQ(pod->lookupTrackWithPid(master.trackIDs()[0]), tracks->front());
    expectNoCopiesLeft();
#endif
}

TEST_F(MediaLoaderTest, ASecondLoadWaitsForNothingAndAStopEndsOnlyTheMatchesOfItsTime) {
    auto phone = phoneWithMediaLibrary("PHONE-2", LadderForm::Second);
    auto gate = std::make_shared<testsupport::TransferGate>();
    phone->setChunkSize(64);
    phone->setTransferGate(gate);
    auto loader = loaderOf(phone);
    std::thread first([&] { loader->load(); });
    gate->waitForPause();  // the first copy is under way, into a folder of the load's own
    EXPECT_TRUE(loader->busy());
    EXPECT_FALSE(std::filesystem::is_empty(temporary.path()));
    loader->load();  // refused at once
    EXPECT_TRUE(recorder->steps().empty());
    // The device leaves while it loads: the match that ends this load stops after a track.
    loader->cancelMatching();
    gate->open();
    first.join();
    waitForPool();
    auto steps = recorder->steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "loadingLibrary"), 1);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "updateTrack"), 1);
    EXPECT_TRUE(loader->matched());
    EXPECT_FALSE(loader->busy());

    // A later match is not stopped by the earlier stop.
    loader->syncLibraryStatus();
    waitForPool();
    steps = recorder->steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "updateTrack"), 1 + 5);
    expectNoCopiesLeft();
}

TEST_F(MediaLoaderTest, TwoDevicesLoadAtOnceWhileReadersLookOn) {
    auto one = loaderOf(phoneWithMediaLibrary("ONE", LadderForm::First));
    auto two = loaderOf(phoneWithMediaLibrary("TWO", LadderForm::Second));
    content::AppFetchHandler::setMediaLoaderOf(one, "ONE");
    content::AppFetchHandler::setMediaLoaderOf(two, "TWO");
    std::atomic<bool> loading = true;
    std::thread reader([&] {
        while (loading) {
            for (const char* id : {"ONE", "TWO"}) {
                auto loader = content::AppFetchHandler::mediaLoaderOf(id);
                ASSERT_NE(loader, nullptr);
                const Value tracks = loader->tracksAnswer();
                EXPECT_EQ(tracks["records"].size(), tracks["total"].toUInt64().value_or(99));
                loader->playlistsAnswer();
            }
            one->lookupTrackWithPid(Value(101));
        }
    });
    testsupport::Latch start(2);
    std::thread a([&] {
        start.arrive_and_wait();
        one->load();
    });
    std::thread b([&] {
        start.arrive_and_wait();
        two->load();
    });
    a.join();
    b.join();
    waitForPool();
    loading = false;
    reader.join();
    // Each read its own copies: the first form keeps two tracks, the second three.
    EXPECT_EQ(one->allTracks()->size(), 2u + 2u);
    EXPECT_EQ(two->allTracks()->size(), 3u + 2u);
    EXPECT_EQ(one->libraryFlags().libraryVersion, 9);
    EXPECT_EQ(two->libraryFlags().libraryVersion, 0);
    expectNoCopiesLeft();
    content::AppFetchHandler::removeMediaLoaderOf("ONE");
    content::AppFetchHandler::removeMediaLoaderOf("TWO");
    EXPECT_EQ(content::AppFetchHandler::mediaLoaderOf("ONE"), nullptr);
}

TEST_F(MediaLoaderTest, ADamagedLibraryGivesAnEmptyLibraryAndNeverStaysLoading) {
    const std::string media = root("BAD");
    std::filesystem::create_directories(media + "/iTunes_Control/iTunes");
    std::ofstream(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb")
        << std::string(8192, '\x5a');
    auto loader = loaderOf(std::make_shared<testsupport::FakeMobileDevice>(media, "BAD"));
    loadAndMatch(*loader);
    expectStepsInOrder(0);
    EXPECT_TRUE(loader->allTracks()->empty());
    EXPECT_EQ(loader->allPlaylists()->size(), 5u);
    expectNoCopiesLeft();
}

}  // namespace

namespace {

TEST_F(MediaLoaderTest, RowsStillInTheDevicesJournalAreRead) {
    // The device's writer still has its changes in the -wal beside the database.
    const std::string work = root("writer");
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open((work + "/lib.sqlite").c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    const std::string sql = mediatest::mediaLibrarySql({LadderForm::Second});
    ASSERT_EQ(sqlite3_exec(writer, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string media = root("JOURNAL") + "/iTunes_Control/iTunes";
    std::filesystem::create_directories(media);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::filesystem::copy_file(work + "/lib.sqlite" + suffix,
                                   media + "/MediaLibrary.sqlitedb" + suffix);
    }
    sqlite3_close(writer);
    auto loader =
        loaderOf(std::make_shared<testsupport::FakeMobileDevice>(folder / "JOURNAL", "J"));
    loadAndMatch(*loader);
    EXPECT_EQ(loader->allTracks()->size(), 3u);
    expectNoCopiesLeft();
}

}  // namespace
