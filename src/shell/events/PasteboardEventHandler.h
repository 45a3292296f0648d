#pragma once

#include "shell/plugins/WVEventPlugin.h"

// The "pasteboard" event: the paths of files copied to the desktop's clipboard, clearing
// it, and putting text on it. Requests arrive on the background pool; the clipboard is
// used on the main thread.
class PasteboardEventHandler : public WVEventHandler {
public:
    static WVEventPlugin::HandlerClass handlerClass();

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;
};
