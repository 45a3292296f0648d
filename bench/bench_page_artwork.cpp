// A device page of 20,000 tracks asks "/fetch" for every track's artwork. Each request must
// cost the same whatever the track count: the figure per request at 2,000 and at 20,000
// tracks is printed beside reading the same pictures straight from the artwork database
// through the loader, in the same run.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "BaselineReport.h"
#include "content/AppFetchHandler.h"
#include "content/SchemeTask.h"
#include "content/ThreadPool.h"
#include "device/iMobileMediaDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/OperationQueue.h"
#include "media/MediaLoader.h"
#include "media/PhotoDBWriter.h"

namespace {

namespace fs = std::filesystem;
using foundation::Value;

// The media library's tables as devices of the artwork-token generation keep them.
constexpr const char* kSchema = R"SQL(
CREATE TABLE item (item_pid INTEGER PRIMARY KEY, media_type INTEGER, media_kind INTEGER,
  base_location_id INTEGER, album_artist_pid INTEGER, item_artist_pid INTEGER, album_pid INTEGER,
  composer_pid INTEGER, genre_id INTEGER, track_number INTEGER, track_count INTEGER,
  disc_number INTEGER, disc_count INTEGER, is_compilation INTEGER, year INTEGER);
CREATE TABLE item_extra (item_pid INTEGER PRIMARY KEY, title TEXT, total_time_ms INTEGER,
  location TEXT, file_size INTEGER, content_rating INTEGER, content_rating_level INTEGER,
  category_id INTEGER, comment TEXT, grouping TEXT, description TEXT, description_long TEXT,
  is_audible_audio_book INTEGER, artwork_cache_id INTEGER);
CREATE TABLE album_artist (album_artist_pid INTEGER, album_artist TEXT);
CREATE TABLE item_artist (item_artist_pid INTEGER, item_artist TEXT);
CREATE TABLE album (album_pid INTEGER, album TEXT);
CREATE TABLE composer (composer_pid INTEGER, composer TEXT);
CREATE TABLE genre (genre_id INTEGER, genre TEXT);
CREATE TABLE item_stats (item_pid INTEGER PRIMARY KEY, user_rating INTEGER, play_count_user INTEGER);
CREATE TABLE item_playback (item_pid INTEGER PRIMARY KEY, sample_rate INTEGER, bit_rate INTEGER);
CREATE TABLE item_artwork (item_pid INTEGER PRIMARY KEY, best_artwork_token INTEGER);
CREATE TABLE base_location (base_location_id INTEGER, path TEXT);
CREATE TABLE container (container_pid INTEGER, name TEXT, is_hidden INTEGER,
  smart_is_dynamic INTEGER, smart_is_genius INTEGER);
CREATE TABLE container_item (container_pid INTEGER, item_pid INTEGER);
INSERT INTO base_location VALUES (3, 'iTunes_Control/Music');
INSERT INTO container VALUES (1, 'Library', 0, 0, 0);
)SQL";

constexpr std::uint32_t kFormat = 3006;  // 4 x 2 RGB565 pictures
constexpr std::uint32_t kPictureBytes = 16;

void writeFile(const std::string& path, const mediatest::Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A phone's media folder of `count` tracks, each with a picture of its own.
void writePhone(const std::string& media, int count) {
    const std::string control = media + "/iTunes_Control";
    fs::create_directories(control + "/iTunes");
    fs::create_directories(control + "/Artwork");
    sqlite3* db = nullptr;
    sqlite3_open((control + "/iTunes/MediaLibrary.sqlitedb").c_str(), &db);
    std::string sql = std::string("BEGIN;") + kSchema;
    for (int i = 1; i <= count; ++i) {
        const std::string pid = std::to_string(1000 + i);
        sql += "INSERT INTO item VALUES (" + pid + ", 1, 1, 3, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 2000);";
        sql += "INSERT INTO item_extra VALUES (" + pid + ", 'Track " + pid + "', 1000, 'F00/" + pid +
               ".mp3', 1000, 0, 0, 0, '', '', '', '', 0, 0);";
        sql += "INSERT INTO item_artwork VALUES (" + pid + ", " + std::to_string(i) + ");";
        sql += "INSERT INTO container_item VALUES (1, " + pid + ");";
    }
    sql += "COMMIT;";
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "cannot write the library: %s\n", error ? error : "?");
        std::exit(1);
    }
    sqlite3_close(db);

    mediatest::PhotoDatabaseSpec spec;
    spec.files = {{kFormat, kPictureBytes}};
    mediatest::Bytes pixels;
    for (int i = 1; i <= count; ++i) {
        spec.images.push_back(
            {.id = std::uint32_t(i),
             .subImages = {{.correlationID = kFormat,
                            .offset = std::uint32_t(i - 1) * kPictureBytes,
                            .size = kPictureBytes,
                            .width = 4,
                            .height = 2,
                            .fileName = u":F3006_1.ithmb"}}});
        for (std::uint32_t b = 0; b < kPictureBytes / 2; ++b) {
            pixels.push_back(std::uint8_t(i));
            pixels.push_back(0xF8);
        }
    }
    writeFile(control + "/Artwork/ArtworkDB", mediatest::writePhotoDB(spec));
    writeFile(control + "/Artwork/F3006_1.ithmb", pixels);
}

// What "/fetch" needs of the device: only its lock.
class LockOnlyDevice : public content::FetchDevice {
public:
    std::recursive_mutex& objectLock() override { return lock_; }
    std::shared_ptr<content::FetchNode> fileNode(const std::string&) override { return nullptr; }
    std::shared_ptr<content::FetchNode> diskNode(const std::string&) override { return nullptr; }
    std::shared_ptr<content::FetchNode> appNode(const std::string&, const std::string&,
                                                bool) override {
        return nullptr;
    }
    std::shared_ptr<content::FetchNode> appsRoot(bool) override { return nullptr; }
    void resetService() override {}
    std::optional<foundation::Data> readFile(const std::string&, std::uint64_t,
                                             std::uint64_t) override {
        return std::nullopt;
    }
    bool isPhone() override { return true; }
    std::optional<foundation::Data> iconDataForApp(const std::string&) override {
        return std::nullopt;
    }

private:
    std::recursive_mutex lock_;
};

class StatusTask : public content::SchemeTask {
public:
    explicit StatusTask(const std::string& query) {
        request_.url = *foundation::Url::parse("myapp://x/fetch?" + query);
    }
    const content::URLRequest& request() const override { return request_; }
    void didReceiveResponse(const content::HTTPURLResponse& response) override {
        status = response.statusCode();
    }
    void didReceiveData(std::span<const std::uint8_t>) override {}
    void didFinish() override {}
    content::URLRequest request_;
    std::int64_t status = 0;
};

NSImage::Image imageOf(const media::RgbaImage& picture) {
    GBytes* bytes = g_bytes_new(picture.pixels.data(), picture.pixels.size());
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, picture.width,
                                                  picture.height, picture.width * 4);
    g_bytes_unref(bytes);
    return NSImage::Image(pixbuf, g_object_unref);
}

// A loader that has read a phone of `count` tracks, registered with "/fetch" as its udid.
std::shared_ptr<media::MediaLoader> loaderOf(int count) {
    static std::map<int, std::shared_ptr<media::MediaLoader>> loaders;
    if (auto found = loaders.find(count); found != loaders.end()) return found->second;
    const std::string udid = "BENCH" + std::to_string(count);
    const std::string media =
        (fs::temp_directory_path() / ("orvandel-bench-artwork-" + std::to_string(::getpid())) / udid)
            .string();
    writePhone(media, count);
    auto phone = std::make_shared<testsupport::FakeMobileDevice>(media, udid);
    auto loader = media::MediaLoader::initWithDevice(std::make_shared<iMobileMediaDevice>(phone));
    loader->load();
    while (loader->busy()) ThreadPool::async().waitUntilAllOperationsAreFinished();
    if (loader->allTracks()->size() != std::size_t(count)) {
        std::fprintf(stderr, "the loader read %zu of %d tracks\n", loader->allTracks()->size(), count);
        std::exit(1);
    }
    content::AppFetchHandler::setMediaLoaderOf(loader, udid);
    return loaders[count] = loader;
}

void BM_PageArtworkThroughFetch(benchmark::State& state) {
    const int count = int(state.range(0));
    const auto loader = loaderOf(count);
    const std::string prefix = "action=artwork&udid=BENCH" + std::to_string(count) + "&pid=";
    for (auto _ : state) {
        for (const auto& track : *loader->allTracks()) {
            auto task = std::make_shared<StatusTask>(prefix +
                                                     std::to_string(*(*track)["pid"].toInt64()));
            content::AppFetchHandler().handle(task->request(), task, nullptr);
            if (task->status != 200) state.SkipWithError("an artwork request failed");
        }
    }
    state.counters["per_request"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_PageArtworkFromTheDatabase(benchmark::State& state) {
    const int count = int(state.range(0));
    const auto loader = loaderOf(count);
    for (auto _ : state) {
        for (const auto& track : *loader->allTracks()) {
            const auto picture = loader->artworkForTrack(*track);
            if (!picture) state.SkipWithError("a picture is missing");
            benchmark::DoNotOptimize(imageOf(*picture));
        }
    }
    state.counters["per_request"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_PageArtworkThroughFetch)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageArtworkFromTheDatabase)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The loader's copies and settings stay in a folder of the run's own.
    const fs::path home =
        fs::temp_directory_path() / ("orvandel-bench-artwork-" + std::to_string(::getpid()));
    fs::create_directories(home);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        ::setenv(name, home.c_str(), 1);
    content::FetchServices services;
    auto device = std::make_shared<LockOnlyDevice>();
    services.findDevice = [device](const std::string&) -> std::shared_ptr<content::FetchDevice> {
        return device;
    };
    services.artworkFor = [](content::FetchMediaLoader& loader, const Value& track) {
        const auto picture = static_cast<media::MediaLoader&>(loader).artworkForTrack(track);
        return picture ? imageOf(*picture) : nullptr;
    };
    content::AppFetchHandler::setServices(services);
    const int status = bench::runWithBaselines(
        argc, argv,
        {{"BM_PageArtworkThroughFetch/2000", "BM_PageArtworkFromTheDatabase/2000"},
         {"BM_PageArtworkThroughFetch/20000", "BM_PageArtworkFromTheDatabase/20000"}});
    fs::remove_all(home);
    return status;
}
