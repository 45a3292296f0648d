#include "platform/music/MusicScript.h"

#include <fmt/format.h>

#include <charconv>
#include <functional>
#include <map>
#include <stdexcept>

#include "foundation/Json.h"
#include "foundation/Url.h"

namespace music {

namespace {

using foundation::Array;
using foundation::Value;

// A script error: the handler ends and the caller gets the message.
struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The arguments of one call, read by position with the coercions a script applies.
class Arguments {
public:
    Arguments(const std::string& handler, const Array& values, std::size_t expected)
        : handler_(handler), values_(values) {
        if (values.size() != expected) {
            throw ScriptError(fmt::format("handler \"{}\" takes {} arguments, not {}", handler,
                                          expected, values.size()));
        }
    }

    std::string text(std::size_t i) const {
        const Value& value = values_[i];
        if (value.isString()) return *value.string();
        if (auto number = value.toInt64(); number && !value.isBool())
            return std::to_string(*number);
        throw mismatch(i, "text");
    }

    std::int32_t integer(std::size_t i) const {
        const Value& value = values_[i];
        if (auto number = value.toInt64(); number && !value.isBool())
            return static_cast<std::int32_t>(*number);
        if (value.isString()) {
            std::int32_t parsed = 0;
            const std::string& s = *value.string();
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
            if (ec == std::errc() && end == s.data() + s.size()) return parsed;
        }
        throw mismatch(i, "an integer");
    }

private:
    ScriptError mismatch(std::size_t i, const char* kind) const {
        return ScriptError(
            fmt::format("argument {} of handler \"{}\" must be {}", i + 1, handler_, kind));
    }

    const std::string& handler_;
    const Array& values_;
};

using Handler = std::function<std::optional<ScriptDescriptor>(MusicLibrary&, const Arguments&)>;

struct HandlerEntry {
    std::size_t arity;
    Handler run;
};

ScriptDescriptor text(std::string value) {
    return ScriptDescriptor::ofText(std::move(value));
}

const std::map<std::string, HandlerEntry, std::less<>>& handlers() {
    static const auto* const table = new std::map<std::string, HandlerEntry, std::less<>>{
        {"add_track_to_itunes",
         {1,
          [](MusicLibrary& library, const Arguments& a) {
              std::string reason;
              auto pid = library.importFile(a.text(0), &reason);
              return text(pid ? *pid : reason);
          }}},
        {"update_track_metadata",
         {17,
          [](MusicLibrary& library, const Arguments& a) {
              TrackMetadata m;
              m.title = a.text(1);
              m.artist = a.text(2);
              m.genre = a.text(3);
              m.playCount = a.integer(4);
              m.stars = a.integer(5);
              m.year = a.integer(6);
              m.trackNumber = a.integer(7);
              m.totalTracks = a.integer(8);
              m.album = a.text(9);
              m.discNumber = a.integer(10);
              m.discCount = a.integer(11);
              m.albumArtist = a.text(12);
              m.composer = a.text(13);
              m.comment = a.text(14);
              m.description = a.text(15);
              m.longDescription = a.text(16);
              return text(library.updateMetadata(a.text(0), m));
          }}},
        {"add_to_playlist",
         {2, [](MusicLibrary& library,
                const Arguments& a) { return text(library.addToPlaylist(a.text(0), a.text(1))); }}},
        {"find_track",
         {4,
          [](MusicLibrary& library, const Arguments& a) {
              auto track = library.findTrack(a.text(0), a.text(1), a.text(2), a.text(3));
              if (!track) return text("");
              return text(foundation::json::write(Value::dict({{"globalID", track->persistentID},
                                                               {"locationOnMac", track->path},
                                                               {"name", track->title},
                                                               {"artist", track->artist},
                                                               {"album", track->album}})));
          }}},
        {"check_track_in_playlist",
         {2,
          [](MusicLibrary& library, const Arguments& a) {
              return ScriptDescriptor::ofBoolean(library.playlistHasTrack(a.text(0), a.text(1)));
          }}},
        {"check_track_in_playlist_2",
         {6,
          [](MusicLibrary& library, const Arguments& a) {
              a.integer(4);
              a.integer(5);
              return ScriptDescriptor::ofBoolean(
                  library.playlistHasTrackTagged(a.text(0), a.text(1), a.text(2), a.text(3)));
          }}},
        {"get_track_posix_path",
         {1,
          [](MusicLibrary& library, const Arguments& a) -> std::optional<ScriptDescriptor> {
              auto path = library.trackPath(a.text(0));
              if (!path) return std::nullopt;
              return ScriptDescriptor::ofFileURL(foundation::Url::fromFilePath(*path).toString());
          }}},
        {"transfer_ratings",
         {2, [](MusicLibrary& library,
                const Arguments& a) { return text(library.setRating(a.text(0), a.integer(1))); }}},
        {"create_playlist",
         {1,
          [](MusicLibrary& library, const Arguments& a) -> std::optional<ScriptDescriptor> {
              auto pid = library.createPlaylist(a.text(0));
              if (!pid) return std::nullopt;
              return text(*pid);
          }}},
    };
    return *table;
}

}  // namespace

std::shared_ptr<MusicScript> MusicScript::load(MusicLibraryLocation location, std::string* error) {
    auto library = MusicLibrary::open(std::move(location), error);
    return library ? std::make_shared<MusicScript>(std::move(library)) : nullptr;
}

ScriptOutcome MusicScript::run(const std::string& handler,
                               const foundation::Array& arguments) const {
    const auto found = handlers().find(handler);
    if (found == handlers().end())
        return {std::nullopt, fmt::format("handler \"{}\" is not defined", handler)};
    try {
        return {found->second.run(*library_, Arguments(handler, arguments, found->second.arity)),
                std::nullopt};
    } catch (const ScriptError& e) {
        return {std::nullopt, e.what()};
    }
}

}  // namespace music
