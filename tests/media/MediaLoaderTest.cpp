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
#include "PhotoDBWriter.h"
#include "content/AppFetchHandler.h"
#include "content/ThreadPool.h"
#include "device/iMobileMediaDevice.h"
#include "device/iPodDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/AtomicFile.h"
#include "foundation/OperationQueue.h"
#include "media/GpodFixtures.h"
#include "media/MediaLoader.h"
#include "media/PictureCodec.h"
#include "media/iTunesLibrary.h"

using foundation::Value;
using media::MediaLoader;
using mediatest::LadderForm;

namespace {

// The steps a loader reports, in the order they arrive.
class Recorder : public media::MediaLoaderDelegate {
public:
    void beforeLoadingTracksOf(media::MediaDevice*) override { add("loadingLibrary"); }
    void playlistsLoadedOf(media::MediaDevice*) override { add("playlistsLoaded"); }
    void finishLoadingTracksOf(media::MediaDevice*) override { add("tracksLoaded"); }
    void updateTrackInfoOf(const Value& track, media::MediaDevice*) override {
        std::function<void(const Value&)> hook;
        {
            std::lock_guard lock(mutex_);
            steps_.push_back("updateTrack");
            tracks_.push_back(track);
            hook = onUpdate_;
        }
        if (hook) hook(track);
    }
    // Runs for each track a match reports, as the match goes on.
    void setOnUpdate(std::function<void(const Value&)> hook) {
        std::lock_guard lock(mutex_);
        onUpdate_ = std::move(hook);
    }
    void finishMatchingiTunesOf(media::MediaDevice*) override { add("matching"); }

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
    std::function<void(const Value&)> onUpdate_;
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
    // What "/fetch" finds a track's artwork by.
    EXPECT_EQ(loader->trackWithPid(101), song);
    EXPECT_EQ(loader->trackWithPid(-42), loader->lookupTrackWithPid(Value("-42")));
    EXPECT_EQ(loader->trackWithPid(65), nullptr);
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

TEST_F(MediaLoaderTest, ATrackGoneFromTheDeviceIsStillFoundByItsPidAfterAReload) {
    auto loader = loaderOf(phoneWithMediaLibrary("PHONE-GONE", LadderForm::Second));
    loadAndMatch(*loader);
    const auto before = loader->lookupTrackWithPid(Value(101));
    ASSERT_NE(before, nullptr);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "PHONE-GONE/iTunes_Control/iTunes/MediaLibrary.sqlitedb").c_str(),
                           &db),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM item WHERE item_pid = 101", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    loadAndMatch(*loader);

    const auto tracks = loader->allTracks();
    EXPECT_EQ(tracks->size(), 4u);
    EXPECT_TRUE(std::none_of(tracks->begin(), tracks->end(),
                             [](const auto& track) { return media::iPodPlaylist::trackIDValue((*track)["pid"]) == 101; }));
    const auto after = loader->lookupTrackWithPid(Value(101));
    ASSERT_NE(after, nullptr);
    EXPECT_EQ((*after)["title"], (*before)["title"]);
    // A track still there is found as it is now.
    EXPECT_EQ(loader->lookupTrackWithPid(Value(102)),
              *std::find_if(tracks->begin(), tracks->end(),
                            [](const auto& track) { return media::iPodPlaylist::trackIDValue((*track)["pid"]) == 102; }));
}

TEST_F(MediaLoaderTest, AnImportMarkMadeWhileAMatchRunsOutlastsTheMatch) {
    auto loader = loaderOf(phoneWithMediaLibrary("PHONE-MARK", LadderForm::Second));
    loadAndMatch(*loader);
    // An import marks a track while the next match is under way, as "copy-to-itunes" does.
    bool marked = false;
    recorder->setOnUpdate([&](const Value&) {
        if (std::exchange(marked, true)) return;
        loader->updateTrackWithPid(Value(103), Value::dict({{"copied", true},
                                                            {"persistentID", "00000000000000AB"}}));
    });
    loader->syncLibraryStatus();
    waitForPool();
    ASSERT_TRUE(marked);
    const auto track = loader->lookupTrackWithPid(Value(103));
    ASSERT_NE(track, nullptr);
    EXPECT_EQ((*track)["copied"], Value(true));
    EXPECT_EQ((*track)["persistentID"], Value("00000000000000AB"));
    const auto tracks = loader->allTracks();
    EXPECT_EQ(std::count(tracks->begin(), tracks->end(), track), 1);
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

// The tracks answer tells what the load found beside the tracks, so that the page can tell
// a device that keeps no library, and one whose library could not be read, from an empty
// library: a failure is never an empty success.
TEST_F(MediaLoaderTest, TheTracksAnswerTellsWhichLibraryWasReadOrWhyNoneWas) {
    const auto outcomeOf = [&](std::shared_ptr<iMobileDevice> device) {
        auto loader = loaderOf(std::move(device));
        loadAndMatch(*loader);
        return loader->tracksAnswer();
    };
    auto loaded = loaderOf(phoneWithMediaLibrary("WITH", LadderForm::Second));
    loadAndMatch(*loaded);
    Value answer = loaded->tracksAnswer();
    EXPECT_EQ(answer["library"], Value("MediaLibrary.sqlitedb"));
    EXPECT_TRUE(answer["error"].isNil());
    EXPECT_EQ(answer["total"].toInt64(), 5);
    // A load that begins again tells nothing of the last one's library beside its own tracks.
    loaded->load(true);
    EXPECT_TRUE(loaded->tracksAnswer()["library"].isNil());
    EXPECT_EQ(loaded->tracksAnswer()["total"].toInt64(), 0);

    answer = outcomeOf(std::make_shared<testsupport::FakeMobileDevice>(root("NONE"), "NONE"));
    EXPECT_EQ(answer["library"], Value(""));
    EXPECT_TRUE(answer["error"].isNil());
    EXPECT_EQ(answer["total"].toInt64(), 0);

    const std::string media = root("DAMAGED");
    std::filesystem::create_directories(media + "/iTunes_Control/iTunes");
    std::ofstream(media + "/iTunes_Control/iTunes/MediaLibrary.sqlitedb") << std::string(8192, '\x5a');
    answer = outcomeOf(std::make_shared<testsupport::FakeMobileDevice>(media, "DAMAGED"));
    EXPECT_EQ(answer["library"], Value("MediaLibrary.sqlitedb"));
    EXPECT_FALSE(answer["error"].stringOr().empty());

    // So is a binary database that is none.
    const std::string pod = root("DAMAGEDPOD");
    std::filesystem::create_directories(pod + "/iTunes_Control/iTunes");
    std::ofstream(pod + "/iTunes_Control/iTunes/iTunesDB") << std::string(8192, '\x5a');
    answer = outcomeOf(std::make_shared<testsupport::FakeMobileDevice>(pod, "DAMAGEDPOD"));
    EXPECT_EQ(answer["library"], Value("iTunesDB"));
    EXPECT_FALSE(answer["error"].stringOr().empty());
    EXPECT_EQ(answer["total"].toInt64(), 0);

    // A device whose files cannot be reached at all (a phone that does not trust this
    // computer) has no library to tell of, and says why.
    auto unreachable = phoneWithMediaLibrary("UNREACHABLE", LadderForm::Second);
    unreachable->failOperation("itemExistsAtPathIsDirectory");
    unreachable->failOperation("downloadFileTo");
    answer = outcomeOf(unreachable);
    EXPECT_EQ(answer["library"], Value(""));
    EXPECT_EQ(answer["error"], Value("the device's files could not be read"));
    EXPECT_EQ(answer["total"].toInt64(), 0);
    expectNoCopiesLeft();
}

// A library whose playlists are a view that never ends is refused like a damaged one: the
// load goes through every step with the ringtones alone.
TEST_F(MediaLoaderTest, AHostileLibraryIsRefusedAndTheLoadStillEnds) {
    auto phone = phoneWithMediaLibrary("HOSTILE", LadderForm::Second);
    mediatest::writeDatabase(
        folder / "HOSTILE/iTunes_Control/iTunes/MediaLibrary.sqlitedb",
        "DROP TABLE container; CREATE VIEW container AS WITH RECURSIVE r(n) AS "
        "(SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS container_pid, 'x' AS name, "
        "0 AS is_hidden, 0 AS smart_is_dynamic, 0 AS smart_is_genius FROM r;\n");
    auto loader = loaderOf(phone);
    loadAndMatch(*loader);
    expectStepsInOrder(2);
    const auto tracks = loader->allTracks();
    ASSERT_EQ(tracks->size(), 2u);
    for (const auto& track : *tracks) EXPECT_EQ((*track)["is_ringtone"], Value(true));
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

namespace {

// A phone with a camera roll under "DCIM" and a photo database of two albums.
class MediaLoaderPhotosTest : public MediaLoaderTest {
protected:
    void SetUp() override {
        MediaLoaderTest::SetUp();
        for (const char* file :
             {"100APPLE/IMG_0001.JPG", "100APPLE/notes.txt", "100APPLE/.h.jpg", "_cache/x.jpg",
              ".thumbs/y.jpg", "101APPLE/z.tiff", "top.gif", "100APPLE/deep/er/w.bmp"}) {
            put(std::string("DCIM/") + file, "picture");
        }
        const auto png =
            media::PictureCodec::encodePNG({2, 3, std::vector<std::uint8_t>(24, 0x7f)});
        put("DCIM/100APPLE/IMG_0002.png", std::string(png->begin(), png->end()));
        mediatest::PhotoDatabaseSpec spec{.images = {{.id = 100}, {.id = 101}, {.id = 102}},
                                          .albums = {{"Trip", {100, 101}}, {"Home", {102}}}};
        const mediatest::Bytes photos = mediatest::writePhotoDB(spec);
        put("Photos/Photo Database", std::string(photos.begin(), photos.end()));
        loader = loaderOf(std::make_shared<testsupport::FakeMobileDevice>(root("CAM"), "CAM"));
    }
    void put(const std::string& path, const std::string& bytes) {
        const std::filesystem::path file = folder / ("CAM/" + path);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }

    std::shared_ptr<MediaLoader> loader;
};

TEST_F(MediaLoaderPhotosTest, TheCameraRollsPicturesAreFoundAndCountedWithTheAlbums) {
    loader->loadDCIMPhotos();
    auto found = *loader->allDCIMPhotos();
    EXPECT_EQ(found.back(), "/DCIM/top.gif");  // subfolders are searched before the files
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::string>{
                  "/DCIM/100APPLE/IMG_0001.JPG", "/DCIM/100APPLE/IMG_0002.png",
                  "/DCIM/100APPLE/deep/er/w.bmp", "/DCIM/101APPLE/z.tiff", "/DCIM/top.gif"}));
    loadAndMatch(*loader);
    const Value albums = loader->allAlbums();
    EXPECT_EQ(albums[0]["images"], Value::list({100u, 101u}));
    EXPECT_EQ(albums[2], Value::dict({{"name", "DCIM"}, {"dcim", true}}));
    EXPECT_EQ(loader->numOfPhotos(), 2 + 1 + 5);

    // A new search replaces the last one's findings.
    loader->setSupportImageFormats({"txt"});
    loader->loadDCIMPhotos();
    EXPECT_EQ(*loader->allDCIMPhotos(), std::vector<std::string>{"/DCIM/100APPLE/notes.txt"});
    EXPECT_EQ(loader->numOfPhotos(), 2 + 1 + 1);
    std::vector<std::string> kept = {"kept"};
    loader->recurseSearchInFolderPhotos("DCIM/101APPLE", kept);
    loader->recurseSearchInFolderPhotos("no such folder", kept);
    EXPECT_EQ(kept, std::vector<std::string>{"kept"});
}

TEST_F(MediaLoaderPhotosTest, APictureIsReadFromAPrivateCopy) {
    // Only the PNG is a picture; the JPEG holds text.
    for (const char* path :
         {"DCIM/100APPLE/IMG_0002.png", "DCIM/100APPLE/IMG_0001.JPG", "DCIM/missing.png", "DCIM"}) {
        const auto picture = loader->photoAtPath(path);
        EXPECT_EQ(picture.has_value(), path == std::string("DCIM/100APPLE/IMG_0002.png")) << path;
        if (picture) {
            EXPECT_EQ(std::make_pair(picture->width, picture->height), std::make_pair(2, 3));
        }
        expectNoCopiesLeft();
    }
}

TEST_F(MediaLoaderPhotosTest, ADeviceFileIsCopiedToTheTemporaryFolderUnderTheNameGiven) {
    const std::string temp = temporary.path();
    for (const char* name : {"/keep.JPG", "/stale.JPG"}) std::ofstream(temp + name) << "old";
    const struct {
        const char* devicePath;
        std::optional<std::string> name;
        std::string expectedName;  // "": a new unique name
        bool copied;               // else no file is left there
    } cases[] = {
        {"DCIM/100APPLE/IMG_0001.JPG", std::nullopt, "", true},
        {"DCIM/100APPLE/IMG_0001.JPG", "keep", "keep.JPG", true},
        {"DCIM/100APPLE/notes.txt", "plain", "plain.txt", true},
        {"DCIM/gone.JPG", "stale", "stale.JPG", false},
    };
    for (const auto& c : cases) {
        const std::filesystem::path local =
            loader->localTempFromDevicePathDefaultName(c.devicePath, c.name);
        EXPECT_EQ(local.parent_path(), std::filesystem::path(temp));
        EXPECT_EQ(local.filename(),
                  c.expectedName.empty() ? local.stem().string() + ".JPG" : c.expectedName);
        EXPECT_EQ(foundation::readFile(local),
                  c.copied ? std::optional(foundation::Data{'p', 'i', 'c', 't', 'u', 'r', 'e'})
                           : std::nullopt)
            << c.devicePath;
    }
    // A name that leads out of the temporary folder copies nothing and removes nothing.
    std::ofstream(folder / "outside.gif") << "mine";
    for (const char* name : {"../outside", "..", "a/b"}) {
        EXPECT_EQ(loader->localTempFromDevicePathDefaultName("DCIM/top.gif", std::string(name)),
                  "");
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "outside.gif"), 4u);
}

TEST_F(MediaLoaderTest, SongsAndVideosAreCountedAndTheirSizesAddedWhole) {
    // A media library and a Library.itdb group, each with one song of more than 4 GiB.
    auto group = phoneWithMediaLibrary("GROUP", LadderForm::Second);
    const std::string itlp = folder / "GROUP/iTunes_Control/iTunes/iTunes Library.itlp";
    std::filesystem::create_directories(itlp);
    mediatest::writeDatabase(itlp + "/Library.itdb", mediatest::kLibraryItdbSql);
    mediatest::writeDatabase(itlp + "/Locations.itdb", mediatest::kLocationsItdbSql);
    const struct {
        std::shared_ptr<testsupport::FakeMobileDevice> device;
        std::int32_t songs, videos;
        std::uint64_t songBytes, videoBytes;
    } cases[] = {
        // 101 a song, 102 a video podcast; 103 an audio book and the ringtones are neither.
        {phoneWithMediaLibrary("PHONE", LadderForm::Second), 1, 1, 5000000000, 1000},
        // 201 a song; 202 a video by its media type, 203 a movie without a size.
        {group, 1, 2, 6000000000, 12},
    };
    for (const auto& c : cases) {
        auto loader = loaderOf(c.device);
        loadAndMatch(*loader);
        std::int32_t songs = -1, videos = -1;
        std::uint64_t songBytes = 1, videoBytes = 1;  // a null pointer is passed over
        loader->numOfSongsVideos(&songs, nullptr);
        loader->numOfSongsVideos(nullptr, &videos);
        loader->sizeOfSongsVideos(&songBytes, nullptr);
        loader->sizeOfSongsVideos(nullptr, &videoBytes);
        EXPECT_EQ(std::tie(songs, videos, songBytes, videoBytes),
                  std::tie(c.songs, c.videos, c.songBytes, c.videoBytes))
            << c.device->uuid();
    }
}

TEST_F(MediaLoaderTest, APreparingLoadFindsTheLibrarysShapeAndLeavesTheLoaderIdle) {
    auto loader = loaderOf(phoneWithMediaLibrary("PHONE", LadderForm::Second));
    // Paths kept for callers, and the reader of nothing, leave every load alone.
    loader->setLibraryFilePath("/a");
    loader->setDynamicFilePath("/b");
    loader->setLocationFilePath("/c");
    loadAndMatch(*loader);
    const auto steps = recorder->steps();
    loader->loadIOS10Tracks(Value("anything"));
    EXPECT_EQ(loader->allTracks()->size(), 5u);
    loader->load(true);
    EXPECT_FALSE(loader->busy() || loader->matched());
    EXPECT_TRUE(loader->iOS5() && loader->isDBSqlite());
    EXPECT_TRUE(loader->allTracks()->empty() && loader->allPlaylists()->empty());
    EXPECT_EQ(recorder->steps(), steps);  // no callbacks, no match
    expectNoCopiesLeft();
    loadAndMatch(*loader);  // not refused
    EXPECT_EQ(loader->allTracks()->size(), 5u);
    EXPECT_EQ(loader->libraryFilePath() + loader->dynamicFilePath() + loader->locationFilePath(),
              "/a/b/c");
}

// Track 101 of the library names artwork 55 and the original "aa/bb.jpg".
TEST_F(MediaLoaderTest, ArtworkComesFromTheArtworkDatabaseElseFromTheOriginalPicture) {
    auto phone = phoneWithMediaLibrary("ART", LadderForm::Third);
    const std::string control = folder / "ART/iTunes_Control";
    std::filesystem::create_directories(control + "/Artwork");
    std::filesystem::create_directories(control + "/iTunes/Artwork/Originals/aa");
    // Artwork 55 at two sizes; the larger is 4 x 2 red RGB565 pixels behind 8 other bytes.
    const mediatest::PhotoDatabaseSpec spec{
        .images = {{.id = 55,
                    .subImages = {{.correlationID = 3005, .offset = 0, .size = 4, .width = 1,
                                   .height = 1, .fileName = u":F3005_1.ithmb"},
                                  {.correlationID = 3006, .offset = 8, .size = 16, .width = 4,
                                   .height = 2, .fileName = u":F3006_1.ithmb"}}}},
        .files = {{3005, 4}, {3006, 16}}};
    const mediatest::Bytes database = mediatest::writePhotoDB(spec);
    std::ofstream(control + "/Artwork/ArtworkDB", std::ios::binary)
        .write(reinterpret_cast<const char*>(database.data()), std::streamsize(database.size()));
    std::string pixels(8, 'x');
    for (int i = 0; i < 8; ++i) pixels += std::string("\x00\xF8", 2);
    std::ofstream(control + "/Artwork/F3006_1.ithmb", std::ios::binary) << pixels;
    const auto blue = media::PictureCodec::encodePNG({1, 1, {0, 0, 255, 255}});
    std::ofstream(control + "/iTunes/Artwork/Originals/aa/bb.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(blue->data()), std::streamsize(blue->size()));

    auto loader = loaderOf(phone);
    loadAndMatch(*loader);
    const auto song = loader->lookupTrackWithPid(Value(101));
    ASSERT_TRUE(song);
    ASSERT_EQ((*song)["artwork_relative_path"], Value("aa/bb.jpg"));
    auto with = [&](Value cacheID, Value relative) {
        Value track = *song;
        track.set("artwork_cache_id", std::move(cacheID));
        track.set("artwork_relative_path", std::move(relative));
        return track;
    };
    const struct {
        const char* label;
        Value track;
        int width;  // 0: no picture
        std::uint8_t red, blue;
    } cases[] = {
        {"the database's largest size", *song, 4, 255, 0},
        {"no such artwork: the original", with(77, "aa/bb.jpg"), 1, 0, 255},
        {"no artwork id: the original", with(Value(), "aa/bb.jpg"), 1, 0, 255},
        {"an original outside its folder", with(77, "../../Artwork/F3006_1.ithmb"), 0, 0, 0},
        {"a missing original", with(77, "aa/none.jpg"), 0, 0, 0},
        {"neither", *loader->lookupTrackWithPid(Value(102)), 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto picture = loader->artworkForTrack(c.track);
        ASSERT_EQ(picture.has_value(), c.width != 0) << c.label;
        if (!picture) continue;
        EXPECT_EQ(picture->width, c.width) << c.label;
        EXPECT_EQ(picture->pixel(0, 0)[0], c.red) << c.label;
        EXPECT_EQ(picture->pixel(0, 0)[2], c.blue) << c.label;
    }

#ifdef ORVANDEL_HAVE_GPOD
    // A disk-mode iPod whose artwork libgpod wrote.
    const std::string mount = root("GPODART");
    ASSERT_TRUE(itdb_init_ipod(mount.c_str(), "MA446", "Test iPod", nullptr));
    mediatest::ItdbPtr itdb(itdb_parse(mount.c_str(), nullptr));
    ASSERT_TRUE(itdb);
    Itdb_Track* track = mediatest::addGpodTrack(itdb.get(), "Red", ":iPod_Control:Music:F00:R.mp3",
                                                "MPEG audio file", ITDB_MEDIATYPE_AUDIO);
    GdkPixbuf* red = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 240, 240);
    gdk_pixbuf_fill(red, 0xFF0000FF);
    ASSERT_TRUE(itdb_track_set_thumbnails_from_pixbuf(track, red));
    g_object_unref(red);
    ASSERT_TRUE(itdb_write(itdb.get(), nullptr));
    auto pod =
        loaderOf(std::make_shared<iPodDevice>(mount, [](const std::string&) { return "SERIAL"; }));
    loadAndMatch(*pod);
    const Value artworks = pod->allArtworks();
    ASSERT_EQ(artworks["ImageList"].size(), 1u);
    const std::string id = artworks["ImageList"].dictionary()->begin()->first;
    const auto picture = pod->artworkForTrack(Value::dict({{"artwork_cache_id", std::stoll(id)}}));
    ASSERT_TRUE(picture);
    const auto* middle = picture->pixel(picture->width / 2, picture->height / 2);
    EXPECT_EQ(std::vector<int>(middle, middle + 4), (std::vector<int>{255, 0, 0, 255}));
#endif
}

}  // namespace
