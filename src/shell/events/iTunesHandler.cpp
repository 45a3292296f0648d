#include "shell/events/iTunesHandler.h"

#include <fmt/format.h>

#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

Value answer(bool result) {
    return Value::dict({{"result", result}});
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

bool allText(std::initializer_list<const Value*> values) {
    for (const Value* value : values) {
        if (!value->isString()) return false;
    }
    return true;
}

}  // namespace

WVEventPlugin::HandlerClass iTunesHandler::handlerClass(iTunesScriptServices scripts) {
    return {"iTunesHandler", [scripts] { return std::make_shared<iTunesHandler>(scripts); }};
}

void iTunesHandler::handleRequestEventPluginCallback(const Value& request,
                                                     const std::shared_ptr<WVEventPlugin>&,
                                                     WVBridgeResponseCallback callback) {
    const std::string cmd = request["cmd"].stringOr();
    const Value& data = request["data"];
    Value reply;
    if (cmd == "get-track-path") {
        reply = getTrackPath(data);
    } else if (cmd == "check-track-in-playlist") {
        reply = checkTrackInPlaylist(data);
    } else if (cmd == "add-track-to-playlist") {
        reply = addTrackToPlaylist(data);
    } else if (cmd == "library-summary" && scripts_.librarySummary) {
        reply = Value::dict({{"result", true}, {"data", scripts_.librarySummary()}});
    } else {
        // Answered, so that the page's callback does not wait for ever.
        reply = failure(fmt::format("unhandled command: {}", cmd));
    }
    if (callback) callback(reply);
}

Value iTunesHandler::getTrackPath(const Value& data) const {
    const Value& pid = data["pid"];
    if (!pid.isString()) return failure("Invalid persistentID");
    const auto path = scripts_.pathForTrackByPID(*pid.string());
    if (!path) return answer(false);
    return Value::dict({{"result", true}, {"data", Value::dict({{"path", *path}})}});
}

Value iTunesHandler::checkTrackInPlaylist(const Value& data) const {
    const Value& playlist = data["playlist"];
    // The page may send the flag as text ("true", "1") as well as a boolean or a number.
    if (PageValues::boolValue(data["advanced"])) {
        const Value &title = data["title"], &artist = data["artist"], &album = data["album"];
        if (!allText({&title, &artist, &album}))
            return failure("Invalid parameter for advanced check track in playlist");
        // An absent playlist name is the empty name.
        return answer(scripts_.checkTrackTitleArtistAlbumInPlaylist(
            *title.string(), *artist.string(), *album.string(), playlist.stringOr()));
    }
    const Value& pid = data["pid"];
    if (!allText({&pid, &playlist})) return failure("Invalid parameter");
    return answer(scripts_.checkTrackInPlayList(*pid.string(), *playlist.string()));
}

Value iTunesHandler::addTrackToPlaylist(const Value& data) const {
    const Value &pid = data["pid"], &playlist = data["playlist"];
    if (!allText({&pid, &playlist})) return failure("Invalid parameter");
    return answer(scripts_.addToITunesPlaylist(*pid.string(), *playlist.string()));
}
