#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "content/FetchMediaLoader.h"
#include "foundation/Value.h"
#include "media/MediaDevice.h"
#include "media/MediaLibraryReader.h"
#include "media/MediaLoaderDelegate.h"
#include "media/RgbaImage.h"
#include "media/iPodPlaylist.h"

class SqlDatabase;
class SqlResultSet;

namespace media {

class ByteCursor;
class iTunesLibrary;

// One device's media library: tracks (ringtones included), playlists, artwork and photo
// databases, read from private copies of the device's databases, and then matched with the
// computer's music library. The load runs on the calling thread (a background job); the match
// runs as a further job on the shared pool.
//
// What the getters give are immutable snapshots, swapped under the loader's lock as the load
// and the match publish them, so readers on other threads never see a collection change.
//
// Notifications on the default centre, posted on the loading or matching thread:
// "msgTaskMessage" for each step of the load, its object a std::string (a copy of the step's
// text, alive while observers are told); "msgUpdateTrack" for each track the match reports,
// its object the loader and its user information the report's entries (foundation::Value
// each); "msgFinishLoadingContents" once the device's databases are read and their
// copies deleted (on the loading thread: nothing of it needs the main thread).
class MediaLoader : public content::FetchMediaLoader,
                    public std::enable_shared_from_this<MediaLoader> {
public:
    using TrackRecord = std::shared_ptr<const foundation::Value>;
    using TrackRecords = std::vector<TrackRecord>;
    using Playlists = std::vector<std::shared_ptr<const iPodPlaylist>>;
    // The SQLite library's playlists by their pid as text, the hidden ones included.
    using RawPlaylists = std::map<std::string, std::shared_ptr<const iPodPlaylist>>;

    // No device access. Matching goes to the given library view, or the shared one.
    static std::shared_ptr<MediaLoader> initWithDevice(std::shared_ptr<MediaDevice> device,
                                                       iTunesLibrary* library = nullptr);
    ~MediaLoader() override;

    std::shared_ptr<MediaLoaderDelegate> delegate() const;
    void setDelegate(std::shared_ptr<MediaLoaderDelegate> delegate);
    // A load reads the device set when it begins; without one it finds no library.
    std::shared_ptr<MediaDevice> myDevice() const;
    void setMyDevice(std::shared_ptr<MediaDevice> device);

    // The whole load; returns at once, changing nothing, while a load or its match runs.
    // With `prepareOnly` the load empties the tracks and playlists, finds the library's
    // shape (iOS5, isDBSqlite) from fresh copies and stops there: no callbacks, no match,
    // the copies gone and the loader idle again.
    void load(bool prepareOnly = false);
    // Queues a match of all tracks with the music library and returns at once.
    void syncLibraryStatus();
    // Stops the matches queued or running now after their current track; later ones run.
    void cancelMatching() override;
    // A load or the match that ends it is under way.
    bool busy() const { return isLoading_.load(); }
    bool matched() const { return matched_.load(); }
    void setMatched(bool matched) { matched_ = matched; }

    // By pid: a text as it is, a number as decimal text; nullptr when unknown.
    TrackRecord lookupTrackWithPid(const foundation::Value& pid) const;
    // Sets each key of `changes` on the record of this pid (as lookupTrackWithPid finds
    // it), publishing the changed record in place of the old one; nothing when unknown.
    void updateTrackWithPid(const foundation::Value& pid, const foundation::Value& changes);

    std::shared_ptr<const TrackRecords> allTracks() const;
    std::shared_ptr<const Playlists> allPlaylists() const;
    std::shared_ptr<const Playlists> allPublicPlaylists() const;
    std::shared_ptr<const Playlists> allUserPlaylists() const;
    // Emptied by each load, filled by the SQLite library's playlist reader; the records are
    // those of allPlaylists().
    std::shared_ptr<const RawPlaylists> rawPlaylists() const;
    void setRawPlaylists(RawPlaylists playlists);
    // The local paths of the database copies of every load so far, never emptied. Each load
    // keeps its copies in a private folder of its own that goes, with them, when the load
    // has read them; the paths then name nothing.
    std::vector<std::string> tempFilePaths() const;
    void setTempFilePaths(std::vector<std::string> paths);
    // Photo albums [{"images", "name", "dcim"}], the artwork and the photo databases.
    foundation::Value allAlbums() const;
    foundation::Value allArtworks() const;
    foundation::Value allPodPhotos() const;

    // Photos of every album; the camera roll's album counts what loadDCIMPhotos found.
    std::int32_t numOfPhotos() const;
    // Songs are the tracks marked "is_song"; videos the others that are movies, TV shows or
    // podcasts. A null pointer is skipped.
    void numOfSongsVideos(std::int32_t* songs, std::int32_t* videos) const;
    // The same split, adding up the tracks' "size".
    void sizeOfSongsVideos(std::uint64_t* songs, std::uint64_t* videos) const;

    // Device paths of the camera roll's pictures under "DCIM", as loadDCIMPhotos found them;
    // the next load adds the camera roll to the albums when there are any.
    std::shared_ptr<const std::vector<std::string>> allDCIMPhotos() const;
    void loadDCIMPhotos();
    // Appends the device path of every picture under the folder, folders searched before
    // the files beside them; names beginning with "_" or "." are passed over.
    void recurseSearchInFolderPhotos(const std::string& folder, std::vector<std::string>& photos);
    // Lower-case extensions of the pictures the camera-roll search takes.
    std::vector<std::string> supportImageFormats() const;
    void setSupportImageFormats(std::vector<std::string> formats);
    // The picture at the device path, read from a private copy; nullopt when unreadable.
    std::optional<RgbaImage> photoAtPath(const std::string& devicePath);
    // Copies the device file to the temporary folder as the name (a new unique one when none
    // is given) with the device path's extension, replacing a file there, and gives the
    // local path, also when the copy failed (no file is there then). "" for a name that is
    // not a plain file name.
    std::string localTempFromDevicePathDefaultName(
        const std::string& devicePath, const std::optional<std::string>& name = std::nullopt);
    // The track's artwork: its "artwork_cache_id" picture of the artwork database at full
    // size, else the original picture its "artwork_relative_path" names under the control
    // folder's "iTunes/Artwork/Originals"; nullopt when neither gives one.
    std::optional<RgbaImage> artworkForTrack(const foundation::Value& track) const;
    // The track record of the result set's current row: a media library's row of its track
    // query, and a Library.itdb row of "SELECT * FROM item;" (nullopt when it cannot be
    // read). Only the row's own entries: "location" is empty, and nothing is joined.
    foundation::Value loadTrackInfoIOS5(SqlResultSet& row) const;
    std::optional<foundation::Value> loadTrackInfo(SqlResultSet& row) const;
    // The next `length` bytes of a binary database's data object as UTF-16LE text; nullopt
    // (the cursor as it was) when fewer are left or they do not decode.
    std::optional<std::string> readMHODStringLength(ByteCursor& cursor, std::uint32_t length) const;
    // Removes the local file when one is there; a failure is written to the console.
    void safeDeleteFile(const std::string& path);
    // The artwork database's picture of the id: its largest size, or (fullsize false) the
    // thumbnail size the file list picks.
    std::optional<RgbaImage> artworkForTrackByIDFullsize(std::int64_t artworkID, bool fullsize) const;
    // A sub-image's bytes in its image file under the control folder's artwork folder.
    std::optional<std::vector<std::uint8_t>> artworkData(const foundation::Value& subImage) const;
    // "imageSize" bytes at "iThumbOffSet" of the device file; nullopt without either.
    std::optional<std::vector<std::uint8_t>> dataForImageFromFile(const foundation::Value& subImage,
                                                                  const std::string& devicePath) const;
    // Which stored size to use: the image's largest, the thumbnail of a file list, and the
    // largest file of a list (else the photo database's of the last load).
    static std::uint32_t fullsizeCorrelationIDForPhoto(const foundation::Value& image);
    static std::uint32_t correlationIDForThumbnail(const foundation::Value& fileList);
    static std::uint32_t correlationIDForFullsize(const foundation::Value& fileList);
    // Decoders of the databases' raw pixels (see ThumbnailDecoder): nullopt when the bytes
    // are too few for the grid. The two "toRGB" ones give red, green, blue bytes per pixel.
    static std::optional<RgbaImage> ImageFromRGB555WidthHeight(std::span<const std::uint8_t> pixels,
                                                               int width, int height);
    static std::optional<RgbaImage> ImageFromRGB565WidthHeight(std::span<const std::uint8_t> pixels,
                                                               int width, int height);
    static std::optional<RgbaImage> ImageFromUYVYDataSizeWidthHeight(
        std::span<const std::uint8_t> pixels, std::size_t dataSize, int width, int height);
    static std::optional<std::vector<std::uint8_t>> YUY2toRGBWithByteArrayWidthHeight(
        std::span<const std::uint8_t> pixels, int width, int height);
    static std::optional<std::vector<std::uint8_t>> YV12toRGBWithByteArrayWidthHeight(
        std::span<const std::uint8_t> pixels, int width, int height);

    // Takes any object and does nothing.
    void loadIOS10Tracks(const foundation::Value& /*unused*/) {}

    // Paths the loader keeps for its callers; it neither sets nor reads them itself.
    std::string libraryFilePath() const;
    void setLibraryFilePath(std::string path);
    std::string dynamicFilePath() const;
    void setDynamicFilePath(std::string path);
    std::string locationFilePath() const;
    void setLocationFilePath(std::string path);

    // What the last preparation and the track query ladder found.
    bool iOS5() const { return iOS5_.load(); }
    bool isDBSqlite() const { return isDBSqlite_.load(); }
    MediaLibraryFlags libraryFlags() const;

    // The largest photo-database image of the most recent load of any device, and its id.
    static std::uint32_t globalFullsize();
    static std::uint32_t globalFullSizeCorrelationID();

    // Photos of the photo database ("allPodPhotos"), read from the device piece by piece and
    // bounded like every picture (ArtworkImage::kMaxPictureBytes). The whole device file;
    // nullopt when it is missing, empty or larger than a picture can be.
    std::optional<std::vector<std::uint8_t>> photoDataAtPath(const std::string& devicePath) const;
    // A sub-image's bytes in its image file under "/Photos".
    std::optional<std::vector<std::uint8_t>> dataForImage(const foundation::Value& subImage) const;
    // The photo's file name: the last colon-separated part of its largest sub-image's file
    // name, when that is a full-resolution or JPEG picture named in at least three parts.
    std::optional<std::string> imageNameByID(std::int64_t photoID) const;
    // The photo at its largest size, or (fullsize false) at the thumbnail size.
    std::optional<RgbaImage> fullImageByID(std::int64_t photoID) const;
    std::optional<RgbaImage> imageByIDFullsize(std::int64_t photoID, bool fullsize) const;

    // content::FetchMediaLoader.
    foundation::Value playlistsAnswer() const override;
    foundation::Value tracksAnswer() const override;
    // What the last load found: the name of the database it read ("MediaLibrary.sqlitedb",
    // "Library.itdb", "iTunesDB"; "" when the device keeps none) and, when the library
    // could not be read, why. Nil before the first load has ended.
    foundation::Value loadOutcome() const;
    TrackRecord trackWithPid(std::int64_t pid) const override;

private:
    MediaLoader(std::shared_ptr<MediaDevice> device, iTunesLibrary& library);

    // What the running load works on (MediaLoaderLoad.h). Made by load() and let go before
    // the load queues its match; only the loading thread touches it.
    struct Load;
    std::unique_ptr<Load> loading_;

    // Steps of the load, in the order it takes them. They work on loading_.
    void prepareDbFiles();
    // The five playlists every device has, the ringtone one fourth.
    void commonPlaylists();
    // The pipeline from the first callback to the queued match; the object is not used.
    void loadFunc(const void* object);
    void loadDeviceTracks();
    // The SQLite library's playlists, then its tracks (with the ringtones of a media library).
    void loadPlaylists();
    void loadTracks();
    void loadRingtones();
    // Membership of the playlists read by loadPlaylists, from the open database: the media
    // library's, and the Library.itdb group's.
    void updatePlaylistTracksFromIOS5DB(SqlDatabase& db);
    void updatePlaylistTracksFromDB(SqlDatabase& db);
    // The Library.itdb group's format info from the open Library.itdb ("sampleRate",
    // "bitRate"), and its play statistics from the Dynamic.itdb copy at the path ("stars",
    // "playCount"), onto the track walk's records.
    void updateAVFormatInfoFromDBTracks(SqlDatabase& db, TrackTable& tracks);
    void updateDynamicInfoByPathForTracks(const std::string& path, TrackTable& tracks);
    // The binary database at the path: its track list and its playlist list, each read from
    // a cursor over its data set.
    void loadDB(const std::string& path);
    void readMHLT(ByteCursor& set);
    void readMHLP(ByteCursor& set);
    // The playlists a reader made, after the common ones: the visible smart ones, then the
    // others; the public and user lists are made again.
    void addPlaylistLists(const std::vector<std::shared_ptr<iPodPlaylist>>& read);
    void loadPhotos();
    // Keeps what the load found for the page: the library it read and why it could not.
    void recordOutcome();
    // Reads a picture with the artwork database and the device's picture access, as they
    // are now; nothing without a device.
    template <typename Read>
    std::optional<RgbaImage> withArtworks(Read read) const;
    // Deletes every copy listed in tempFilePaths, and the load's folder with them.
    void cleanupDbFiles();
    // Copies of device files into the load's folder: under the name, or a new unique one.
    // The local path comes back also when the copy failed (which is logged).
    std::string localTempFilePathTo(const std::string& devicePath, const std::string& name);
    std::string localTempFilePath(const std::string& devicePath);

    // The delegate's callbacks, each with the device; nothing without a delegate.
    void doPrepareThings();
    void finishLoadingPlaylists();
    void finishLoading();
    void updateTrack(const foundation::Value& record);
    void finishMatchingiTunes();

    using ReadPlaylists = std::map<std::string, std::shared_ptr<iPodPlaylist>>;
    void publishPlaylists(const std::vector<std::shared_ptr<iPodPlaylist>>& all, bool rebuildLists,
                          const ReadPlaylists& raw = {});
    void publishTracks(foundation::Array tracks, std::uint64_t loadGeneration);
    // Puts a match's marks into the records: `matched` are the copies of `taken` the match
    // marked. A record changed meanwhile (an import marked it) keeps its own change of a key.
    void publishMatch(const TrackRecords& taken, foundation::Array matched,
                      std::uint64_t loadGeneration);
    void announce(const std::string& text);
    // Announces a match and queues it.
    void startMatch(std::uint64_t cancelGeneration, bool endsLoad);
    // The match job; `cancelGeneration` is the stop count it was queued under.
    void queueMatch(std::uint64_t cancelGeneration, bool endsLoad);
    void match(std::uint64_t cancelGeneration, bool endsLoad);

    void tellDelegate(const std::function<void(MediaLoaderDelegate&, MediaDevice*)>& call);

    iTunesLibrary& library_;

    std::atomic<bool> isLoading_{false};
    std::atomic<bool> matched_{false};
    std::atomic<bool> iOS5_{false};
    std::atomic<bool> isDBSqlite_{false};
    std::atomic<std::uint64_t> loadGeneration_{0};
    std::atomic<std::uint64_t> cancelGeneration_{0};

    mutable std::mutex lock_;  // the snapshots, the flags, the delegate and the kept values
    std::shared_ptr<MediaDevice> myDevice_;
    std::shared_ptr<MediaLoaderDelegate> delegate_;
    MediaLibraryFlags flags_;
    std::shared_ptr<const TrackRecords> allTracks_;
    std::shared_ptr<const std::unordered_map<std::string, TrackRecord>> pid2tracks_;
    std::shared_ptr<const Playlists> allPlaylists_;
    std::shared_ptr<const Playlists> allPublicPlaylists_;
    std::shared_ptr<const Playlists> allUserPlaylists_;
    std::shared_ptr<const RawPlaylists> rawPlaylists_;
    std::vector<std::string> tempFilePaths_;
    foundation::Value loadOutcome_;
    std::shared_ptr<const foundation::Value> allAlbums_;
    std::shared_ptr<const foundation::Value> allArtworks_;
    std::shared_ptr<const foundation::Value> allPodPhotos_;
    std::shared_ptr<const std::vector<std::string>> allDCIMPhotos_;
    std::vector<std::string> supportImageFormats_;
    std::string libraryFilePath_;
    std::string dynamicFilePath_;
    std::string locationFilePath_;

    std::mutex matchLock_;  // one match at a time
};

}  // namespace media
