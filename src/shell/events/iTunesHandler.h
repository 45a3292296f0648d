#pragma once

#include "shell/events/WVEventHandler.h"
#include "shell/events/iTunesScriptServices.h"
#include "shell/plugins/WVEventPlugin.h"

// The page's event "itunes": a library track's file path, whether a track is in a named
// playlist (by id, or "advanced" by title, artist and album), and adding a track to a
// named playlist; and the library's summary the page shows. Runs on the background pool;
// each call waits for the music library.
class iTunesHandler : public WVEventHandler {
public:
    explicit iTunesHandler(iTunesScriptServices scripts) : scripts_(std::move(scripts)) {}

    // The class as the event plugin registers it under "itunes".
    static WVEventPlugin::HandlerClass handlerClass(iTunesScriptServices scripts);

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

private:
    foundation::Value getTrackPath(const foundation::Value& data) const;
    foundation::Value checkTrackInPlaylist(const foundation::Value& data) const;
    foundation::Value addTrackToPlaylist(const foundation::Value& data) const;

    iTunesScriptServices scripts_;
};
