#include "media/MediaLoader.h"

#include <algorithm>

#include <exception>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "foundation/NotificationCenter.h"
#include "logging/LogCall.h"
#include "media/MediaLoaderLoad.h"
#include "media/iTunesLibrary.h"

using foundation::Value;

namespace media {

namespace {

template <typename T>
std::shared_ptr<const T> empty() {
    return std::make_shared<const T>();
}

}  // namespace

std::shared_ptr<MediaLoader> MediaLoader::initWithDevice(std::shared_ptr<MediaDevice> device,
                                                         iTunesLibrary* library) {
    return std::shared_ptr<MediaLoader>(
        new MediaLoader(std::move(device), library ? *library : iTunesLibrary::itLibrary()));
}

MediaLoader::MediaLoader(std::shared_ptr<MediaDevice> device, iTunesLibrary& library)
    : library_(library),
      myDevice_(std::move(device)),
      allTracks_(empty<TrackRecords>()),
      pid2tracks_(empty<std::unordered_map<std::string, TrackRecord>>()),
      allPlaylists_(empty<Playlists>()),
      allPublicPlaylists_(empty<Playlists>()),
      allUserPlaylists_(empty<Playlists>()),
      rawPlaylists_(empty<RawPlaylists>()),
      allAlbums_(std::make_shared<const Value>(foundation::Array{})),
      allArtworks_(std::make_shared<const Value>(foundation::Dictionary{})),
      allPodPhotos_(std::make_shared<const Value>(foundation::Dictionary{})),
      allDCIMPhotos_(empty<std::vector<std::string>>()),
      supportImageFormats_({"jpg", "png", "gif", "tif", "tiff", "bmp"}) {}

MediaLoader::~MediaLoader() = default;

std::shared_ptr<MediaLoaderDelegate> MediaLoader::delegate() const {
    std::lock_guard lock(lock_);
    return delegate_;
}

void MediaLoader::setDelegate(std::shared_ptr<MediaLoaderDelegate> delegate) {
    std::lock_guard lock(lock_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<MediaDevice> MediaLoader::myDevice() const {
    std::lock_guard lock(lock_);
    return myDevice_;
}

void MediaLoader::setMyDevice(std::shared_ptr<MediaDevice> device) {
    std::lock_guard lock(lock_);
    myDevice_ = std::move(device);
}

void MediaLoader::tellDelegate(
    const std::function<void(MediaLoaderDelegate&, MediaDevice*)>& call) {
    std::shared_ptr<MediaLoaderDelegate> delegate;
    std::shared_ptr<MediaDevice> device;
    {
        std::lock_guard lock(lock_);
        delegate = delegate_;
        device = myDevice_;
    }
    if (delegate) call(*delegate, device.get());
}

void MediaLoader::doPrepareThings() {
    tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.beforeLoadingTracksOf(device);
    });
}

void MediaLoader::finishLoadingPlaylists() {
    tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.playlistsLoadedOf(device);
    });
}

void MediaLoader::finishLoading() {
    tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.finishLoadingTracksOf(device);
    });
}

void MediaLoader::updateTrack(const Value& record) {
    tellDelegate([&](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.updateTrackInfoOf(record, device);
    });
}

void MediaLoader::finishMatchingiTunes() {
    tellDelegate([](MediaLoaderDelegate& delegate, MediaDevice* device) {
        delegate.finishMatchingiTunesOf(device);
    });
}

MediaLibraryFlags MediaLoader::libraryFlags() const {
    std::lock_guard lock(lock_);
    return flags_;
}

std::shared_ptr<const MediaLoader::TrackRecords> MediaLoader::allTracks() const {
    std::lock_guard lock(lock_);
    return allTracks_;
}

std::shared_ptr<const MediaLoader::Playlists> MediaLoader::allPlaylists() const {
    std::lock_guard lock(lock_);
    return allPlaylists_;
}

std::shared_ptr<const MediaLoader::Playlists> MediaLoader::allPublicPlaylists() const {
    std::lock_guard lock(lock_);
    return allPublicPlaylists_;
}

std::shared_ptr<const MediaLoader::Playlists> MediaLoader::allUserPlaylists() const {
    std::lock_guard lock(lock_);
    return allUserPlaylists_;
}

std::shared_ptr<const MediaLoader::RawPlaylists> MediaLoader::rawPlaylists() const {
    std::lock_guard lock(lock_);
    return rawPlaylists_;
}

void MediaLoader::setRawPlaylists(RawPlaylists playlists) {
    auto snapshot = std::make_shared<const RawPlaylists>(std::move(playlists));
    std::lock_guard lock(lock_);
    rawPlaylists_ = std::move(snapshot);
}

std::vector<std::string> MediaLoader::tempFilePaths() const {
    std::lock_guard lock(lock_);
    return tempFilePaths_;
}

void MediaLoader::setTempFilePaths(std::vector<std::string> paths) {
    std::lock_guard lock(lock_);
    tempFilePaths_ = std::move(paths);
}

Value MediaLoader::allAlbums() const {
    std::lock_guard lock(lock_);
    return *allAlbums_;
}

Value MediaLoader::allArtworks() const {
    std::lock_guard lock(lock_);
    return *allArtworks_;
}

Value MediaLoader::allPodPhotos() const {
    std::lock_guard lock(lock_);
    return *allPodPhotos_;
}

std::string MediaLoader::libraryFilePath() const {
    std::lock_guard lock(lock_);
    return libraryFilePath_;
}

void MediaLoader::setLibraryFilePath(std::string path) {
    std::lock_guard lock(lock_);
    libraryFilePath_ = std::move(path);
}

std::string MediaLoader::dynamicFilePath() const {
    std::lock_guard lock(lock_);
    return dynamicFilePath_;
}

void MediaLoader::setDynamicFilePath(std::string path) {
    std::lock_guard lock(lock_);
    dynamicFilePath_ = std::move(path);
}

std::string MediaLoader::locationFilePath() const {
    std::lock_guard lock(lock_);
    return locationFilePath_;
}

void MediaLoader::setLocationFilePath(std::string path) {
    std::lock_guard lock(lock_);
    locationFilePath_ = std::move(path);
}

MediaLoader::TrackRecord MediaLoader::lookupTrackWithPid(const Value& pid) const {
    std::string key;
    if (pid.isString()) {
        key = *pid.string();
    } else if (pid.isNumber()) {
        key = fmt::format("{}", iPodPlaylist::trackIDValue(pid));
    } else {
        return nullptr;
    }
    std::shared_ptr<const std::unordered_map<std::string, TrackRecord>> index;
    {
        std::lock_guard lock(lock_);
        index = pid2tracks_;
    }
    const auto found = index->find(key);
    return found == index->end() ? nullptr : found->second;
}

void MediaLoader::updateTrackWithPid(const Value& pid, const Value& changes) {
    const TrackRecord old = lookupTrackWithPid(pid);
    if (!old || !changes.isDictionary()) return;
    std::lock_guard lock(lock_);
    if (!pid2tracks_ || !allTracks_) return;
    Value changed = *old;
    for (const auto& [key, value] : *changes.dictionary()) changed.set(key, value);
    auto record = std::make_shared<const Value>(std::move(changed));
    auto index = std::make_shared<std::unordered_map<std::string, TrackRecord>>(*pid2tracks_);
    for (auto& [key, kept] : *index)
        if (kept == old) kept = record;
    auto records = std::make_shared<TrackRecords>(*allTracks_);
    std::replace(records->begin(), records->end(), old, record);
    allTracks_ = std::move(records);
    pid2tracks_ = std::move(index);
}

void MediaLoader::publishTracks(foundation::Array tracks, std::uint64_t loadGeneration) {
    auto records = std::make_shared<TrackRecords>();
    records->reserve(tracks.size());
    for (Value& track : tracks) records->push_back(std::make_shared<const Value>(std::move(track)));
    std::lock_guard lock(lock_);
    // A match that ends after a newer load began has nothing to say about its tracks.
    if (loadGeneration_.load() != loadGeneration) return;
    // Earlier loads' entries stay, replaced where a pid comes again.
    auto index = pid2tracks_ ? std::make_shared<std::unordered_map<std::string, TrackRecord>>(*pid2tracks_)
                             : std::make_shared<std::unordered_map<std::string, TrackRecord>>();
    for (const auto& record : *records) {
        (*index)[fmt::format("{}", iPodPlaylist::trackIDValue((*record)["pid"]))] = record;
    }
    allTracks_ = std::move(records);
    pid2tracks_ = std::move(index);
}

void MediaLoader::publishMatch(const TrackRecords& taken, foundation::Array matched,
                               std::uint64_t loadGeneration) {
    std::lock_guard lock(lock_);
    if (loadGeneration_.load() != loadGeneration || !allTracks_ || !pid2tracks_) return;
    const TrackRecords& current = *allTracks_;
    // Records are replaced one by one (never reordered) until the next load.
    if (current.size() != taken.size() || matched.size() != taken.size()) return;
    auto records = std::make_shared<TrackRecords>();
    records->reserve(current.size());
    auto index = std::make_shared<std::unordered_map<std::string, TrackRecord>>(*pid2tracks_);
    for (std::size_t i = 0; i < current.size(); ++i) {
        Value merged = std::move(matched[i]);
        if (current[i] != taken[i] && current[i] && taken[i]) {
            // What changed since the match took the record is kept over the match's marks.
            Value kept = *current[i];
            if (const auto* marks = merged.dictionary()) {
                for (const auto& [key, value] : *marks) {
                    if (value != (*taken[i])[key] && (*current[i])[key] == (*taken[i])[key])
                        kept.set(key, value);
                }
            }
            merged = std::move(kept);
        }
        auto record = std::make_shared<const Value>(std::move(merged));
        (*index)[fmt::format("{}", iPodPlaylist::trackIDValue((*record)["pid"]))] = record;
        records->push_back(std::move(record));
    }
    allTracks_ = std::move(records);
    pid2tracks_ = std::move(index);
}

void MediaLoader::syncLibraryStatus() {
    startMatch(cancelGeneration_.load(), false);
}

// The load's match goes through here too, so the load announces it twice, once for itself.
void MediaLoader::startMatch(std::uint64_t cancelGeneration, bool endsLoad) {
    LogInfo("Matching tracks to iTunes...");
    queueMatch(cancelGeneration, endsLoad);
}

void MediaLoader::cancelMatching() {
    ++cancelGeneration_;
}

void MediaLoader::queueMatch(std::uint64_t cancelGeneration, bool endsLoad) {
    auto self = shared_from_this();
    ThreadPool::addAsyncJobWithBlock(
        [self, cancelGeneration, endsLoad] { self->match(cancelGeneration, endsLoad); });
}

void MediaLoader::match(std::uint64_t cancelGeneration, bool endsLoad) {
    std::lock_guard matching(matchLock_);
    // Only the match that ends a load makes the loader idle; whatever happens in between.
    struct Idle {
        std::atomic<bool>& loading;
        bool ends;
        void now() {
            if (ends) loading = false;
            ends = false;
        }
        ~Idle() { now(); }
    } idle{isLoading_, endsLoad};

    const std::uint64_t loadGeneration = loadGeneration_.load();
    const auto tracks = allTracks();
    foundation::Array records;
    records.reserve(tracks->size());
    for (const auto& record : *tracks) records.push_back(*record);
    try {
        library_.isTracksInITunesCallback(records, [&](const Value& report) {
            foundation::UserInfo entries;
            if (const auto* fields = report.dictionary()) {
                for (const auto& [key, value] : *fields) entries.emplace(key, value);
            }
            foundation::NotificationCenter::defaultCenter().post("msgUpdateTrack", this,
                                                                 std::move(entries));
            updateTrack(report);
            return cancelGeneration_.load() == cancelGeneration;
        });
    } catch (const std::exception& e) {
        LogError("Matching tracks to iTunes failed: {}", e.what());
    }
    // The marks of the match go into the loader's own records.
    publishMatch(*tracks, std::move(records), loadGeneration);
    LogInfo("Finish matching tracks to iTunes.");
    matched_ = true;
    // Idle before the delegate hears of it: whoever the finish reaches may load again.
    idle.now();
    finishMatchingiTunes();
}

}  // namespace media
