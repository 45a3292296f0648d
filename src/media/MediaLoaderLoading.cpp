// The load of a media loader: the copies of the device's databases, the common playlists,
// the readers of each library shape, the index by pid and the photo albums.
#include <exception>
#include <filesystem>
#include <system_error>

#include "foundation/NotificationCenter.h"
#include "foundation/PathComponents.h"
#include "logging/LogCall.h"
#include "media/MediaLibraryReader.h"
#include "media/MediaLoadFolder.h"
#include "media/MediaLoader.h"
#include "media/PhotoDBReader.h"
#include "media/RingtoneList.h"
#include "media/iTunesDBReader.h"

using foundation::Value;

namespace media {

namespace {

// The playlists every device has, ahead of those its database holds.
constexpr std::size_t kCommonPlaylists = 5;

std::atomic<std::uint32_t> gFullsize{0};
std::atomic<std::uint32_t> gFullSizeCorrelationID{0};

// Runs one step; an exception ends the step, is logged, and the load goes on. Gives the
// exception's text, "" when the step ended well.
template <typename Step>
std::string guarded(const char* name, Step step) {
    try {
        step();
    } catch (const std::exception& e) {
        LogError("Loading the device's {} failed: {}", name, e.what());
        return e.what();
    }
    return {};
}

bool copied(const std::string& path) {
    std::error_code ignored;
    return !path.empty() && std::filesystem::is_regular_file(path, ignored);
}

void removeFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

std::uint32_t MediaLoader::globalFullsize() {
    return gFullsize.load();
}

std::uint32_t MediaLoader::globalFullSizeCorrelationID() {
    return gFullSizeCorrelationID.load();
}

struct MediaLoader::Files {
    bool sqlite = false;
    bool mediaLibrary = false;
    std::string library;
    std::string dynamic;
    std::string locations;
    std::string ringtones;
    // The database found ("" for none) and why it could not be read ("" when it could).
    std::string found;
    std::string failure;
};

void MediaLoader::announce(const std::string& text) {
    // Observers get a copy of their own as the object, alive while they are told.
    const std::string copy = text;
    foundation::NotificationCenter::defaultCenter().post("msgTaskMessage", &copy);
}

MediaLoader::Files MediaLoader::prepareDbFiles(MediaLoadFolder& folder, MediaDevice* from) {
    Files files;
    if (from == nullptr) {
        iOS5_ = false;
        isDBSqlite_ = false;
        LogError("The media loader has no device to load");
        files.failure = "there is no device to read";
        return files;
    }
    MediaDevice& device = *from;
    const std::string control = device.iTunesControlPath();
    auto at = [&](const char* path) { return foundation::appendingPathComponent(control, path); };
    // The main database with the Dynamic.itdb and Locations.itdb beside the Library.itdb,
    // copied also for a binary database, which has none as a rule.
    auto groupCopies = [&](const std::string& main) {
        files.library = folder.localTempFilePath(device, main);
        files.dynamic =
            folder.localTempFilePath(device, at("iTunes/iTunes Library.itlp/Dynamic.itdb"));
        files.locations =
            folder.localTempFilePath(device, at("iTunes/iTunes Library.itlp/Locations.itdb"));
    };
    const std::string group = at("iTunes/iTunes Library.itlp/Library.itdb");
    if (device.itemExistsAtPath(group)) {
        files.sqlite = true;
        groupCopies(group);
    } else if (const std::string library = at("iTunes/MediaLibrary.sqlitedb");
               device.itemExistsAtPath(library)) {
        files.sqlite = true;
        files.mediaLibrary = true;
        // SQLite finds the journal by the database's name: the three keep their names'
        // relation inside the load's own folder.
        files.library = folder.localTempFilePathTo(device, library, "iTunesDB.sqlite");
        folder.localTempFilePathTo(device, library + "-shm", "iTunesDB.sqlite-shm");
        folder.localTempFilePathTo(device, library + "-wal", "iTunesDB.sqlite-wal");
        files.ringtones = folder.localTempFilePath(device, at("iTunes/Ringtones.plist"));
        LogInfo("{}", files.library);
    } else {
        const std::string binary = at("iTunes/iTunesDB");
        groupCopies(device.itemExistsAtPath(binary) ? binary : at("iTunesDB"));
    }
    // Which library the load reads, so that the page can tell an empty library, none at
    // all, and one that could not be reached apart.
    if (copied(files.library)) {
        files.found = files.mediaLibrary ? "MediaLibrary.sqlitedb"
                      : files.sqlite     ? "Library.itdb"
                                         : "iTunesDB";
    } else if (files.sqlite) {
        files.found = files.mediaLibrary ? "MediaLibrary.sqlitedb" : "Library.itdb";
        files.failure = "its database could not be copied to the computer";
    } else if (!device.itemExistsAtPath("/")) {
        // Nothing answers at all: a phone that does not trust this computer, or one gone.
        files.failure = "the device's files could not be read";
    }
    if (!files.failure.empty())
        LogWarn("The library of {} cannot be loaded: {}", device.uuid(), files.failure);
    iOS5_ = files.mediaLibrary;
    isDBSqlite_ = files.sqlite;
    std::lock_guard lock(lock_);
    const auto& copies = folder.paths();
    tempFilePaths_.insert(tempFilePaths_.end(), copies.begin(), copies.end());
    return files;
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

namespace {

// The database's playlists after the common ones: the visible smart ones, then the others.
void appendPlaylistLists(std::vector<std::shared_ptr<iPodPlaylist>>& all,
                         const std::vector<std::shared_ptr<iPodPlaylist>>& read) {
    std::vector<std::shared_ptr<iPodPlaylist>> others;
    for (const auto& playlist : read) {
        if (playlist->isHidden()) continue;
        (playlist->isSmart() ? all : others).push_back(playlist);
    }
    all.insert(all.end(), others.begin(), others.end());
}

}  // namespace

std::string MediaLoader::loadDeviceTracks(const Files& files,
                                          std::vector<std::shared_ptr<iPodPlaylist>>& playlists,
                                          iPodPlaylist& ringtones, foundation::Array& tracks) {
    std::string failure;
    bool listsRead = false;
    ReadPlaylists raw;
    if (files.sqlite) {
        announce("Loading Playlists...");
        MediaLibraryFlags flags = libraryFlags();
        MediaLibraryReader reader(files.mediaLibrary ? MediaLibraryReader::Source::MediaLibrary
                                                     : MediaLibraryReader::Source::LibraryGroup,
                                  {files.library, files.locations, files.dynamic}, flags);
        guarded("playlists", [&] {
            if (reader.loadPlaylists()) {
                appendPlaylistLists(playlists, reader.playlists());
                raw = reader.rawPlaylists();
                listsRead = true;
            }
        });
        publishPlaylists(playlists, listsRead, raw);
        tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
            delegate.playlistsLoadedOf(device);
        });
        announce("Loading Tracks...");
        failure = guarded("tracks", [&] { tracks = reader.loadTracks(); });
        if (failure.empty()) failure = reader.unreadable();
        if (!reader.failure().empty()) {
            // The library failed to load: none of the playlists it gave stands either.
            playlists.resize(kCommonPlaylists);
            raw.clear();
        }
        {
            std::lock_guard lock(lock_);
            flags_ = flags;
        }
        if (files.mediaLibrary) {
            guarded("ringtones", [&] {
                auto device = myDevice();
                if (!device) return;
                const std::string folder =
                    foundation::appendingPathComponent(device->iTunesControlPath(), "Ringtones");
                for (Value& record :
                     RingtoneList::readFile(files.ringtones, folder, [&](const std::string& path) {
                         return device->getSizeOfItemAtPath(path);
                     })) {
                    ringtones.trackIDs().push_back(record["pid"]);
                    tracks.push_back(std::move(record));
                }
            });
        }
    } else {
        announce("Loading Playlists & Tracks...");
        failure = guarded("iTunesDB", [&] {
            const iTunesDBContents contents = iTunesDBReader::readFile(files.library);
            tracks.reserve(contents.tracks.size());
            for (std::size_t i = 0; i < contents.tracks.size(); ++i)
                tracks.push_back(contents.tracks[i]);
            if (contents.hasPlaylistList) {
                appendPlaylistLists(playlists, contents.playlists);
                listsRead = true;
            }
        });
        publishPlaylists(playlists, listsRead);
        tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
            delegate.playlistsLoadedOf(device);
        });
    }
    // Now with the track ids the track walk added.
    publishPlaylists(playlists, listsRead, raw);
    return failure;
}

void MediaLoader::loadPhotos(MediaLoadFolder& folder) {
    announce("Loading album artwork...");
    // Without a device nothing is copied, and the readers find nothing.
    std::string photoCopy;
    std::string artworkCopy;
    if (const auto device = myDevice()) {
        photoCopy = folder.localTempFilePath(*device, "Photos/Photo Database");
        artworkCopy = folder.localTempFilePath(
            *device,
            foundation::appendingPathComponent(device->iTunesControlPath(), "Artwork/ArtworkDB"));
    }
    PhotoDBReader artwork(artworkCopy);
    artwork.load();
    PhotoDBReader photos(photoCopy);
    photos.load();
    removeFile(photoCopy);
    removeFile(artworkCopy);

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

void MediaLoader::load(bool prepareOnly) {
    if (isLoading_.exchange(true)) return;
    const std::uint64_t generation = ++loadGeneration_;
    // A stop sent while the load runs (the device left) also stops the match that ends it.
    const std::uint64_t cancelGeneration = cancelGeneration_.load();
    matched_ = false;
    {
        std::lock_guard lock(lock_);
        // pid2tracks_ stays: tracks gone from the device are still found by their pid.
        allTracks_ = std::make_shared<const TrackRecords>();
        allPlaylists_ = std::make_shared<const Playlists>();
        rawPlaylists_ = std::make_shared<const RawPlaylists>();
    }
    // The device set when the load begins is the one it reads.
    const std::shared_ptr<MediaDevice> device = myDevice();
    if (prepareOnly) {
        {
            MediaLoadFolder folder;
            guarded("database copies", [&] { prepareDbFiles(folder, device.get()); });
        }
        isLoading_ = false;
        return;
    }
    bool matchQueued = false;
    try {
        {
            MediaLoadFolder folder;
            Files files;
            guarded("database copies", [&] { files = prepareDbFiles(folder, device.get()); });

            std::vector<std::shared_ptr<iPodPlaylist>> playlists = {
                iPodPlaylist::CreateNewPlaylistWithName("Library", 1, 1),
                iPodPlaylist::CreateNewPlaylistWithName("Music", 3, 2),
                iPodPlaylist::CreateNewPlaylistWithName("Movies", 4, 3),
                iPodPlaylist::CreateNewPlaylistWithName("Ringtons", 7, 4),
                iPodPlaylist::CreateNewPlaylistWithName("Podcasts", 8, 5),
            };
            const auto ringtones = playlists[3];
            publishPlaylists(playlists, false);

            tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
                delegate.beforeLoadingTracksOf(device);
            });
            foundation::Array tracks;
            std::string failure = files.failure;
            const std::string unread = loadDeviceTracks(files, playlists, *ringtones, tracks);
            if (failure.empty() && !unread.empty() && !files.found.empty()) {
                failure = unread;
                LogWarn("The library of {} could not be read: {}",
                        device ? device->uuid() : "", failure);
            }
            publishTracks(std::move(tracks), generation);
            {
                Value outcome = Value::dict({{"library", files.found}});
                if (!failure.empty()) outcome.set("error", failure);
                std::lock_guard lock(lock_);
                loadOutcome_ = std::move(outcome);
            }
            guarded("photos", [&] { loadPhotos(folder); });
        }  // the copies go here
        foundation::NotificationCenter::defaultCenter().post("msgFinishLoadingContents");
        LogInfo("Matching tracks to iTunes...");
        startMatch(cancelGeneration, true);
        matchQueued = true;
    } catch (const std::exception& e) {
        LogError("Loading the device's library failed: {}", e.what());
    }
    if (!matchQueued) isLoading_ = false;
    tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.finishLoadingTracksOf(device);
    });
}

}  // namespace media
