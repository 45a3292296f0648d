#pragma once

#include <memory>

#include "shell/events/AudioConverterService.h"
#include "shell/events/WVEventHandler.h"
#include "shell/plugins/WVEventPlugin.h"

// The "ringtone" event: "get-meta" reads an audio file's title, flags and duration;
// "convert" turns an audio file, or a time span of it, into an M4A file. Runs on the
// background pool; a conversion holds its thread until the export is done.
class RingtoneEventHandler : public WVEventHandler {
public:
    explicit RingtoneEventHandler(AudioConverterService converter)
        : converter_(std::move(converter)) {}

    // The class as the event plugin's registry keeps it, making each instance over `converter`.
    static WVEventPlugin::HandlerClass handlerClass(AudioConverterService converter);

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

private:
    foundation::Value getMeta(const foundation::Value& data) const;
    foundation::Value convert(const foundation::Value& data) const;

    AudioConverterService converter_;
};
