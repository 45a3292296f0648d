// The load of a media loader: the copies of the device's databases, the common playlists,
// the readers of each library shape, the index by pid and the photo albums.
#include <exception>
#include <filesystem>

#include "foundation/NotificationCenter.h"
#include "foundation/PathComponents.h"
#include "logging/Console.h"
#include "logging/LogCall.h"
#include "media/MediaLoaderLoad.h"
#include "media/PhotoDBReader.h"

using foundation::Value;

namespace media {

namespace {

std::atomic<std::uint32_t> gFullsize{0};
std::atomic<std::uint32_t> gFullSizeCorrelationID{0};

bool copied(const std::string& path) {
    std::error_code ignored;
    return !path.empty() && std::filesystem::is_regular_file(path, ignored);
}

}  // namespace

std::uint32_t MediaLoader::globalFullsize() {
    return gFullsize.load();
}

std::uint32_t MediaLoader::globalFullSizeCorrelationID() {
    return gFullSizeCorrelationID.load();
}

void MediaLoader::announce(const std::string& text) {
    // Observers get a copy of their own as the object, alive while they are told.
    const std::string copy = text;
    foundation::NotificationCenter::defaultCenter().post("msgTaskMessage", &copy);
}

std::string MediaLoader::localTempFilePathTo(const std::string& devicePath,
                                             const std::string& name) {
    Load& load = *loading_;
    if (!load.device || !load.folder) return {};
    return load.folder->localTempFilePathTo(*load.device, devicePath, name);
}

std::string MediaLoader::localTempFilePath(const std::string& devicePath) {
    Load& load = *loading_;
    if (!load.device || !load.folder) return {};
    return load.folder->localTempFilePath(*load.device, devicePath);
}

void MediaLoader::safeDeleteFile(const std::string& path) {
    try {
        std::filesystem::remove(path);  // nothing there is no failure
    } catch (const std::exception& e) {
        ConsoleLog(e.what());
    }
}

void MediaLoader::prepareDbFiles() {
    Load& load = *loading_;
    if (!load.device) {
        iOS5_ = false;
        isDBSqlite_ = false;
        LogError("The media loader has no device to load");
        load.failure = "there is no device to read";
        return;
    }
    MediaDevice& device = *load.device;
    const std::string control = device.iTunesControlPath();
    auto at = [&](const char* path) { return foundation::appendingPathComponent(control, path); };
    // The main database with the Dynamic.itdb and Locations.itdb beside the Library.itdb,
    // copied also for a binary database, which has none as a rule.
    auto groupCopies = [&](const std::string& main) {
        load.libPath = localTempFilePath(main);
        load.dynPath = localTempFilePath(at("iTunes/iTunes Library.itlp/Dynamic.itdb"));
        load.locPath = localTempFilePath(at("iTunes/iTunes Library.itlp/Locations.itdb"));
    };
    const std::string group = at("iTunes/iTunes Library.itlp/Library.itdb");
    if (device.itemExistsAtPath(group)) {
        load.sqlite = true;
        groupCopies(group);
    } else if (const std::string library = at("iTunes/MediaLibrary.sqlitedb");
               device.itemExistsAtPath(library)) {
        load.sqlite = true;
        load.mediaLibrary = true;
        // SQLite finds the journal by the database's name: the three keep their names'
        // relation inside the load's own folder.
        load.libPath = localTempFilePathTo(library, "iTunesDB.sqlite");
        localTempFilePathTo(library + "-shm", "iTunesDB.sqlite-shm");
        localTempFilePathTo(library + "-wal", "iTunesDB.sqlite-wal");
        load.ringtonesPath = localTempFilePath(at("iTunes/Ringtones.plist"));
        LogInfo("{}", load.libPath);
    } else {
        const std::string binary = at("iTunes/iTunesDB");
        groupCopies(device.itemExistsAtPath(binary) ? binary : at("iTunesDB"));
    }
    // Which library the load reads, so that the page can tell an empty library, none at
    // all, and one that could not be reached apart.
    if (copied(load.libPath)) {
        load.found = load.mediaLibrary ? "MediaLibrary.sqlitedb"
                     : load.sqlite     ? "Library.itdb"
                                       : "iTunesDB";
    } else if (load.sqlite) {
        load.found = load.mediaLibrary ? "MediaLibrary.sqlitedb" : "Library.itdb";
        load.failure = "its database could not be copied to the computer";
    } else if (!device.itemExistsAtPath("/")) {
        // Nothing answers at all: a phone that does not trust this computer, or one gone.
        load.failure = "the device's files could not be read";
    }
    if (!load.failure.empty())
        LogWarn("The library of {} cannot be loaded: {}", device.uuid(), load.failure);
    iOS5_ = load.mediaLibrary;
    isDBSqlite_ = load.sqlite;
    std::lock_guard lock(lock_);
    const auto& copies = load.folder->paths();
    tempFilePaths_.insert(tempFilePaths_.end(), copies.begin(), copies.end());
}

void MediaLoader::publishPlaylists(const std::vector<std::shared_ptr<iPodPlaylist>>& all,
                                   bool rebuildLists, const ReadPlaylists& raw) {
    // Readers get copies: the load goes on filling its own records.
    auto playlists = std::make_shared<Playlists>();
    auto publicPlaylists = std::make_shared<Playlists>();
    auto userPlaylists = std::make_shared<Playlists>();
    std::map<const iPodPlaylist*, std::shared_ptr<const iPodPlaylist>> copies;
    for (const auto& playlist : all) {
        auto copy = std::make_shared<const iPodPlaylist>(*playlist);
        copies.emplace(playlist.get(), copy);
        const bool user = copy->type() == 0 || copy->type() == 2;
        (user ? userPlaylists : publicPlaylists)->push_back(copy);
        playlists->push_back(std::move(copy));
    }
    // The raw list shares the records shown; those not shown get copies of their own.
    auto rawPlaylists = std::make_shared<RawPlaylists>();
    for (const auto& [key, playlist] : raw) {
        const auto shown = copies.find(playlist.get());
        rawPlaylists->emplace(key, shown != copies.end()
                                       ? shown->second
                                       : std::make_shared<const iPodPlaylist>(*playlist));
    }
    std::lock_guard lock(lock_);
    allPlaylists_ = std::move(playlists);
    rawPlaylists_ = std::move(rawPlaylists);
    if (rebuildLists) {
        allPublicPlaylists_ = std::move(publicPlaylists);
        allUserPlaylists_ = std::move(userPlaylists);
    }
}

void MediaLoader::addPlaylistLists(const std::vector<std::shared_ptr<iPodPlaylist>>& read) {
    Load& load = *loading_;
    std::vector<std::shared_ptr<iPodPlaylist>> others;
    for (const auto& playlist : read) {
        if (playlist->isHidden()) continue;
        (playlist->isSmart() ? load.playlists : others).push_back(playlist);
    }
    load.playlists.insert(load.playlists.end(), others.begin(), others.end());
    load.listsRead = true;
}

void MediaLoader::commonPlaylists() {
    Load& load = *loading_;
    load.playlists = {
        iPodPlaylist::CreateNewPlaylistWithName("Library", 1, 1),
        iPodPlaylist::CreateNewPlaylistWithName("Music", 3, 2),
        iPodPlaylist::CreateNewPlaylistWithName("Movies", 4, 3),
        iPodPlaylist::CreateNewPlaylistWithName("Ringtons", 7, 4),
        iPodPlaylist::CreateNewPlaylistWithName("Podcasts", 8, 5),
    };
    load.ringtonesPlaylist = load.playlists[3];
    publishPlaylists(load.playlists, false);
}

void MediaLoader::loadDeviceTracks() {
    Load& load = *loading_;
    if (load.sqlite) {
        announce("Loading Playlists...");
        load.flags = libraryFlags();
        load.reader.emplace(load.mediaLibrary ? MediaLibraryReader::Source::MediaLibrary
                                              : MediaLibraryReader::Source::LibraryGroup,
                            MediaLibraryReader::Files{load.libPath, load.locPath, load.dynPath},
                            load.flags);
        loadPlaylists();
        finishLoadingPlaylists();
        announce("Loading Tracks...");
        loadTracks();
    } else {
        announce("Loading Playlists & Tracks...");
        // loadDB says when the file is no database; a throw says it as well.
        const std::string thrown = guardedStep("iTunesDB", [&] { loadDB(load.libPath); });
        if (!thrown.empty()) load.unread = thrown;
        publishPlaylists(load.playlists, load.listsRead);
        finishLoadingPlaylists();
    }
    // Now with the track ids the track walk added.
    publishPlaylists(load.playlists, load.listsRead, load.rawPlaylists);
}

void MediaLoader::loadPhotos() {
    announce("Loading album artwork...");
    // Without a device nothing is copied, and the readers find nothing.
    std::string photoCopy;
    std::string artworkCopy;
    if (const auto& device = loading_->device) {
        photoCopy = localTempFilePath("Photos/Photo Database");
        artworkCopy = localTempFilePath(
            foundation::appendingPathComponent(device->iTunesControlPath(), "Artwork/ArtworkDB"));
    }
    PhotoDBReader artwork(artworkCopy);
    artwork.load();
    PhotoDBReader photos(photoCopy);
    photos.load();
    if (!photoCopy.empty()) safeDeleteFile(photoCopy);
    if (!artworkCopy.empty()) safeDeleteFile(artworkCopy);

    std::uint32_t fullsize = 0;
    std::uint32_t correlationID = 0;
    if (const auto* files = photos.photos()["CorrelationInfo"].array()) {
        bool first = true;
        for (const Value& file : *files) {
            const auto size = static_cast<std::uint32_t>(file["imageSize"].toUInt64().value_or(0));
            if (first || size > fullsize) {
                fullsize = size;
                correlationID =
                    static_cast<std::uint32_t>(file["correlationID"].toUInt64().value_or(0));
                first = false;
            }
        }
    }
    gFullsize = fullsize;
    gFullSizeCorrelationID = correlationID;

    Value albums = foundation::Array{};
    const Value& albumList = photos.photos()["AlbumList"];
    if (albumList.size() > 0 && albumList.isArray()) {
        for (const Value& album : *albumList.array()) {
            Value entry = Value::dict({{"dcim", false}});
            entry.set("images", album["items"]);
            entry.set("name", album["name"]);
            albums.append(std::move(entry));
        }
    } else {
        Value entry = Value::dict({{"name", "Photos"}, {"dcim", false}});
        if (const auto* images = photos.photos()["ImageList"].dictionary()) {
            Value keys = foundation::Array{};
            for (const auto& image : *images) keys.append(image.first);
            entry.set("images", std::move(keys));
        }
        albums.append(std::move(entry));
    }
    if (!allDCIMPhotos()->empty()) albums.append(Value::dict({{"name", "DCIM"}, {"dcim", true}}));
    std::lock_guard lock(lock_);
    allArtworks_ = std::make_shared<const Value>(
        artwork.photos().isNil() ? Value(foundation::Dictionary{}) : artwork.photos());
    allPodPhotos_ = std::make_shared<const Value>(
        photos.photos().isNil() ? Value(foundation::Dictionary{}) : photos.photos());
    allAlbums_ = std::make_shared<const Value>(std::move(albums));
}

void MediaLoader::cleanupDbFiles() {
    // Earlier loads' paths come again and find nothing.
    for (const std::string& path : tempFilePaths()) safeDeleteFile(path);
    if (loading_) loading_->folder.reset();
}

void MediaLoader::recordOutcome() {
    const Load& load = *loading_;
    std::string failure = load.failure;
    if (failure.empty() && !load.unread.empty() && !load.found.empty()) {
        failure = load.unread;
        LogWarn("The library of {} could not be read: {}", load.device ? load.device->uuid() : "",
                failure);
    }
    Value outcome = Value::dict({{"library", load.found}});
    if (!failure.empty()) outcome.set("error", failure);
    std::lock_guard lock(lock_);
    loadOutcome_ = std::move(outcome);
}

void MediaLoader::load(bool prepareOnly) {
    if (isLoading_.exchange(true)) return;
    loading_ = std::make_unique<Load>();
    loading_->generation = ++loadGeneration_;
    // A stop sent while the load runs (the device left) also stops the match that ends it.
    loading_->cancelGeneration = cancelGeneration_.load();
    matched_ = false;
    {
        std::lock_guard lock(lock_);
        // pid2tracks_ stays: tracks gone from the device are still found by their pid.
        allTracks_ = std::make_shared<const TrackRecords>();
        allPlaylists_ = std::make_shared<const Playlists>();
        rawPlaylists_ = std::make_shared<const RawPlaylists>();
        // The last load's outcome would be told of this load's tracks.
        loadOutcome_ = Value();
    }
    loading_->device = myDevice();
    guardedStep("database copies", [&] { prepareDbFiles(); });
    if (prepareOnly) {
        cleanupDbFiles();
        loading_.reset();
        isLoading_ = false;
        return;
    }
    guardedStep("common playlists", [&] { commonPlaylists(); });
    loadFunc(this);
}

void MediaLoader::loadFunc(const void* /*object*/) {
    bool matchQueued = false;
    try {
        doPrepareThings();
        loadDeviceTracks();
        publishTracks(std::move(loading_->tracks), loading_->generation);
        recordOutcome();
        guardedStep("photos", [&] { loadPhotos(); });
        cleanupDbFiles();
        // The load's state goes before the match is queued: the match may end, and another
        // load begin, at once.
        const std::uint64_t cancelGeneration = loading_->cancelGeneration;
        loading_.reset();
        foundation::NotificationCenter::defaultCenter().post("msgFinishLoadingContents");
        LogInfo("Matching tracks to iTunes...");
        startMatch(cancelGeneration, true);
        matchQueued = true;
    } catch (const std::exception& e) {
        LogError("Loading the device's library failed: {}", e.what());
    }
    if (!matchQueued) {
        if (loading_) cleanupDbFiles();
        loading_.reset();
        isLoading_ = false;
    }
    finishLoading();
}

}  // namespace media
