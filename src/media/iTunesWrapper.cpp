#include "media/iTunesWrapper.h"

#include "foundation/Json.h"
#include "foundation/Paths.h"
#include "foundation/Url.h"
#include "logging/LogCall.h"
#include "platform/music/LibraryFiles.h"
#include "platform/music/PersistentID.h"
#include "shell/Settings.h"
#include "shell/events/iTunesScriptServices.h"

namespace media {

using foundation::Array;
using foundation::Value;

namespace {

bool fail(foundation::Error* error, std::int64_t code, std::optional<std::string> description) {
    if (error) *error = iTunesWrapper::errorWithCodeDescription(code, std::move(description));
    return false;
}

// The record with the fields whose preferences are off taken out, so that they go as
// empty text or 0 and the library keeps its own values.
Value withoutUnwantedFields(const Value& track) {
    const Settings& settings = Settings::settings();
    const std::pair<bool, const char*> fields[] = {
        {settings.metaTitle(), "title"},
        {settings.metaArtist(), "artist"},
        {settings.metaAlbum(), "album"},
        {settings.metaRating(), "stars"},
        {settings.metaPlaycount(), "playCount"},
        {settings.metaDiscNumber(), "disc_number"},
        {settings.metaDiscNumber(), "disc_count"},
        {settings.metaAlbumArtist(), "album_artist"},
        {settings.metaComposer(), "composer"},
        {settings.metaComment(), "comment"},
        {settings.metaDescription(), "description"},
        {settings.metaLongDescription(), "description_long"},
    };
    Value copy = track;
    for (const auto& [wanted, key] : fields) {
        if (!wanted) copy.set(key, Value());
    }
    return copy;
}

std::string describe(const Value& track) {
    return foundation::json::write(track, foundation::json::Style::Indented);
}

}  // namespace

iTunesWrapper::iTunesWrapper(std::shared_ptr<music::MusicScript> script)
    : script_(std::move(script)),
      runner_(script_ ? ScriptRunner([script = script_](const std::string& handler,
                                                        const Array& params) {
          return script->run(handler, params);
      })
                      : ScriptRunner()) {}

iTunesWrapper::iTunesWrapper(StandIn standIn) : runner_(std::move(standIn.run)) {}

music::MusicLibraryLocation iTunesWrapper::defaultLocation() {
    return {foundation::Paths::musicDir(),
            foundation::Paths::applicationSupportDir() + "/MusicLibrary.sqlite",
            [] { return Settings::settings().transferFilePattern(); }};
}

iTunesWrapper& iTunesWrapper::global() {
    static iTunesWrapper* const shared = [] {
        std::string error;
        auto script = music::MusicScript::load(defaultLocation(), &error);
        if (!script) {
            LogInfo("FATAL ERROR: could not load the music library!\n ERROR:\n{}\n", error);
        }
        return new iTunesWrapper(std::move(script));
    }();
    return *shared;
}

iTunesScriptServices iTunesWrapper::scriptServices(iTunesWrapper* given) {
    // The shared wrapper is looked up at each call, so that it is made on first use.
    auto wrapper = [given]() -> iTunesWrapper& { return given ? *given : global(); };
    iTunesScriptServices services;
    services.pathForTrackByPID = [wrapper](const std::string& pid) {
        return wrapper().pathForTrackByPID(pid);
    };
    services.checkTrackInPlayList = [wrapper](const std::string& pid, const std::string& playlist) {
        return wrapper().checkTrackInPlayList(pid, playlist);
    };
    services.checkTrackTitleArtistAlbumInPlaylist =
        [wrapper](const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& playlist) {
            return wrapper().checkTrackTitleArtistAlbumInPlaylist(title, artist, album, playlist);
        };
    services.addToITunesPlaylist = [wrapper](const std::string& pid, const std::string& playlist) {
        return wrapper().addToITunesPlaylistTargetPlaylistStr(Value::dict({{"persistentID", pid}}),
                                                              playlist);
    };
    return services;
}

foundation::Error iTunesWrapper::errorWithCodeDescription(std::int64_t code,
                                                          std::optional<std::string> description) {
    return {kErrorDomain, code, description.value_or("Unknown error"), Value()};
}

Value iTunesWrapper::eventDescStringOrNull(const Value& value) {
    return value.isString() ? value : Value(value.isNil() ? std::string() : value.stringOr());
}

Value iTunesWrapper::eventDescIntOrNull(const Value& value) {
    return Value(static_cast<std::int32_t>(value.toInt64().value_or(0)));
}

std::optional<music::ScriptDescriptor> iTunesWrapper::runScriptParams(const std::string& handler,
                                                                      const Array& params) {
    std::lock_guard lock(mutex_);
    lastScriptError_.reset();
    if (!runner_) return std::nullopt;
    try {
        auto outcome = runner_(handler, params);
        if (outcome.error) {
            LogInfo("Error running script. Error:\n{}\n", *outcome.error);
            lastScriptError_ = outcome.error;
        }
        return outcome.result;
    } catch (const std::exception& e) {
        LogError("{}", e.what());
        lastScriptError_ = e.what();
        return std::nullopt;
    }
}

bool iTunesWrapper::importToItunesError(Value& track, foundation::Error* error) {
    const Value& macpath = track["macpath"];
    if (!macpath.isString() || macpath.string()->empty()) {
        LogInfo("ERROR: cannot import if no locationOnMac!\nTrack:\n{}\n", describe(track));
        return fail(error, kImportFailed, "the track has not been transferred to computer.");
    }
    if (!music::LibraryFiles::isRegularFile(*macpath.string())) {
        LogInfo(
            "ERROR: the locationOnMac is invalid; transfer failed and was not properly "
            "handled.\n");
        return fail(error, kImportFailed, "Could not find track file on computer.");
    }
    std::string persistentID;
    {
        std::lock_guard lock(mutex_);
        const auto result =
            runScriptParams("add_track_to_itunes", {eventDescStringOrNull(macpath)});
        persistentID = result ? result->stringValue() : std::string();
        LogInfo("result of script {}, {}\n", result ? "YES" : "NO", persistentID);
        // Only an id of 16 hexadecimal digits names a library track; anything else is
        // the library's reason.
        if (!music::PersistentID::isValid(persistentID)) {
            LogInfo(
                "ERROR: [iTunesWrapper importToItunes:] persistentID not returned or not "
                "expected value; returned: {}\n",
                persistentID);
            std::optional<std::string> reason;
            if (!persistentID.empty())
                reason = persistentID;
            else if (!runner_)
                reason = "the music library is not available";
            else
                reason = lastScriptError_;
            return fail(error, kImportFailed, reason);
        }
    }
    track.set("persistentID", persistentID);
    if (Settings::settings().copyMeta()) return updateTrackMetadataInITunesError(track, error);
    return true;
}

bool iTunesWrapper::updateTrackMetadataInITunesError(const Value& track, foundation::Error* error) {
    if (track["persistentID"].isNil()) {
        LogInfo("ERROR: can't transfer track with no persistentID....\nTrack:\n{}\n",
                describe(track));
        return fail(error, kNoPersistentID, describe(track));
    }
    const Value t = withoutUnwantedFields(track);
    auto text = [&](const char* key) { return eventDescStringOrNull(t[key]); };
    auto number = [&](const char* key) { return eventDescIntOrNull(t[key]); };
    const Array params = {text("persistentID"), text("title"),           text("artist"),
                          text("genre"),        number("playCount"),     number("stars"),
                          number("year"),       number("trackNumber"),   number("totalTracks"),
                          text("album"),        number("disc_number"),   number("disc_count"),
                          text("album_artist"), text("composer"),        text("comment"),
                          text("description"),  text("description_long")};
    std::lock_guard lock(mutex_);
    const auto result = runScriptParams("update_track_metadata", params);
    // No answer at all is a failure too: the tags were not written.
    std::string message;
    if (result)
        message = result->stringValue();
    else
        message = runner_ ? lastScriptError_.value_or("the music library did not answer")
                          : "the music library is not available";
    if (message.empty()) return true;
    LogInfo("ERROR: updating meatadata!\nERROR:\n{}\n", message);
    return fail(error, kScriptFailed, message);
}

bool iTunesWrapper::addToITunesPlaylistTargetPlaylistStr(const Value& track,
                                                         const std::string& playlist) {
    const auto result = runScriptParams(
        "add_to_playlist", {Value(playlist), eventDescStringOrNull(track["persistentID"])});
    const std::string message =
        result ? result->stringValue() : std::string("the music library did not answer");
    if (message.empty()) return true;
    LogInfo("ERROR adding track to iTunes playlist\nERROR:{}\n", message);
    return false;
}

std::optional<Value> iTunesWrapper::findTrack(const Value& track) {
    const auto result = runScriptParams(
        "find_track",
        {eventDescStringOrNull(track["pidstr"]), eventDescStringOrNull(track["title"]),
         eventDescStringOrNull(track["artist"]), eventDescStringOrNull(track["album"])});
    if (!result || result->type != music::ScriptDescriptor::Type::Text) return std::nullopt;
    auto parsed = foundation::json::read(result->text);
    if (!parsed || !parsed->isDictionary()) return std::nullopt;
    return parsed;
}

bool iTunesWrapper::checkTrackInPlayList(const std::string& trackID, const std::string& playlist) {
    const auto result = runScriptParams("check_track_in_playlist", {playlist, trackID});
    return result && result->booleanValue();
}

bool iTunesWrapper::checkTrackTitleArtistAlbumInPlaylist(const std::string& title,
                                                         const std::string& artist,
                                                         const std::string& album,
                                                         const std::string& playlist) {
    const auto result = runScriptParams("check_track_in_playlist_2",
                                        {playlist, title, artist, album, Value(0), Value(0)});
    return result && result->booleanValue();
}

std::optional<std::string> iTunesWrapper::pathForTrackByPID(const std::string& persistentID) {
    if (persistentID.empty()) return std::nullopt;
    const auto result = runScriptParams("get_track_posix_path", {persistentID});
    if (!result || result->type != music::ScriptDescriptor::Type::FileURL) return std::nullopt;
    const auto url = foundation::Url::parse(result->text);
    if (!url) return std::nullopt;
    return url->filePath();
}

bool iTunesWrapper::updateRatingForID(const Value& rating, const std::string& trackID) {
    const std::string ratingText =
        rating.isString() ? *rating.string() : std::to_string(rating.toInt64().value_or(0));
    const auto result = runScriptParams("transfer_ratings", {trackID, ratingText});
    const std::string message =
        result ? result->stringValue() : std::string("the music library did not answer");
    if (message.empty()) return true;
    LogInfo("ERROR: updating rating!\nERROR:\n{}\n", message);
    return false;
}

}  // namespace media
