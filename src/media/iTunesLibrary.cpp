#include "media/iTunesLibrary.h"

#include "logging/LogCall.h"
#include "media/iTunesWrapper.h"
#include "platform/music/MusicLibrary.h"
#include "platform/music/MusicScript.h"

namespace media {

using foundation::Value;

iTunesLibrary& iTunesLibrary::itLibrary() {
    static iTunesLibrary* const shared = new iTunesLibrary(iTunesWrapper::global());
    return *shared;
}

namespace {

constexpr const char* kMusicIdentifier = "com.apple.Music";
constexpr const char* kITunesIdentifier = "com.apple.iTunes";

struct ChosenApplication {
    std::shared_ptr<music::MusicLibrary> application;
    std::string identifier;
};

// The application iTunes() chose, once for the process.
struct Chosen {
    std::mutex lock;
    std::optional<ChosenApplication> application;
};

Chosen& chosen() {
    static Chosen* const shared = new Chosen;
    return *shared;
}

}  // namespace

std::shared_ptr<music::MusicLibrary> iTunesLibrary::MusicApp() {
    const auto& script = iTunesWrapper::global().script();
    return script ? script->library() : nullptr;
}

std::shared_ptr<music::MusicLibrary> iTunesLibrary::iTunesApp() {
    return nullptr;
}

std::shared_ptr<music::MusicLibrary> iTunesLibrary::iTunes() {
    auto& once = chosen();
    std::lock_guard lock(once.lock);
    if (!once.application) {
        if (auto application = iTunesApp()) {
            once.application = ChosenApplication{application, kITunesIdentifier};
        } else {
            once.application = ChosenApplication{MusicApp(), kMusicIdentifier};
        }
    }
    return once.application->application;
}

std::optional<std::string> iTunesLibrary::iTunesIdentifier() {
    auto& once = chosen();
    std::lock_guard lock(once.lock);
    if (!once.application) return std::nullopt;
    return once.application->identifier;
}

void iTunesLibrary::loadTracks() {
    if (containsMusic()) {
        loadMusicTracks();
        return;
    }
    listPlaylistsOf(iTunesApp(), "error loading itunes library");
}

void iTunesLibrary::loadMusicTracks() {
    const auto& script = wrapper_.script();
    listPlaylistsOf(script ? script->library() : nullptr, "error loading Music library");
}

void iTunesLibrary::listPlaylistsOf(const std::shared_ptr<music::MusicLibrary>& application,
                                    const char* errorText) {
    if (!application) {
        LogInfo("{}", errorText);
        return;
    }
    auto& library = *application;
    std::vector<Playlist> lists;
    const std::int64_t count = library.trackCount();
    lists.push_back({"", "Library", count, true});
    for (const auto& list : library.playlists()) {
        lists.push_back({list.persistentID, list.name, list.trackCount, false});
    }
    std::lock_guard lock(mutex_);
    playlists_ = std::move(lists);
    trackCount_ = count;
    isLoaded_ = true;
}

bool iTunesLibrary::isLoaded() const {
    std::lock_guard lock(mutex_);
    return isLoaded_;
}

std::vector<iTunesLibrary::Playlist> iTunesLibrary::itPlistlists() const {
    std::lock_guard lock(mutex_);
    return playlists_;
}

std::vector<iTunesLibrary::Playlist> iTunesLibrary::userPlaylists() const {
    std::vector<Playlist> lists;
    for (auto& list : itPlistlists()) {
        if (!list.isLibrary) lists.push_back(std::move(list));
    }
    return lists;
}

std::vector<iTunesLibrary::Playlist> iTunesLibrary::iTunesUserPlaylists() {
    return itLibrary().userPlaylists();
}

Value iTunesLibrary::allTracks() const {
    std::lock_guard lock(mutex_);
    return allTracks_;
}

void iTunesLibrary::addToForKey(const Value& value, Value& dictionary,
                                const std::string& key) const {
    dictionary.set(key, value.isNil() ? Value(std::string()) : value);
}

Value iTunesLibrary::summary() {
    // Imports and playlists made since the last listing count too.
    loadTracks();
    std::lock_guard lock(mutex_);
    Value lists = foundation::Array{};
    for (const auto& list : playlists_) {
        if (list.isLibrary) continue;
        lists.append(Value::dict({{"name", list.name},
                                  {"persistentID", list.persistentID},
                                  {"trackCount", list.trackCount}}));
    }
    return Value::dict({{"loaded", isLoaded_}, {"trackCount", trackCount_}, {"playlists", lists}});
}

std::optional<Value> iTunesLibrary::findTrackInLibrary(const Value& track) {
    // The library is asked by tags only: the device's own id means nothing there.
    const Value query = Value::dict({{"artist", track["artist"].stringOr()},
                                     {"album", track["album"].stringOr()},
                                     {"title", track["title"].stringOr()}});
    const auto found = wrapper_.findTrack(query);
    if (!found) return std::nullopt;
    Value match = Value::dict({});
    match.set("pid", (*found)["globalID"]);
    match.set("location", (*found)["locationOnMac"]);
    return match;
}

bool iTunesLibrary::isTrackInITunes(Value& track) {
    const auto match = findTrackInLibrary(track);
    if (!match) {
        track.set("status", Value());
        track.set("macpath", Value());
        track.set("persistentID", Value());
        return false;
    }
    if (!(*match)["pid"].isNil()) track.set("persistentID", (*match)["pid"]);
    if (!(*match)["location"].isNil()) track.set("macpath", (*match)["location"]);
    track.set("status", "copied");
    return true;
}

void iTunesLibrary::isTracksInITunesCallback(foundation::Array& tracks,
                                             const std::function<bool(const Value&)>& callback) {
    for (auto& track : tracks) {
        isTrackInITunes(track);
        if (callback && !callback(track)) return;
    }
}

std::optional<std::string> iTunesLibrary::pathForTrackByPersistentID(
    const std::string& persistentID) {
    return wrapper_.pathForTrackByPID(persistentID);
}

bool iTunesLibrary::createPlaylist(const std::string& name) {
    if (wrapper_.runScriptParams("create_playlist", {Value(name)})) return true;
    LogInfo("Error occurs when running script");
    return false;
}

}  // namespace media
