#pragma once

#include <memory>

#include "foundation/Value.h"
#include "shell/bridge/BridgeBlocks.h"

class WVEventPlugin;

// A handler of one event family of "wvevent". A fresh instance serves each request.
class WVEventHandler {
public:
    virtual ~WVEventHandler() = default;

    // `request` is {"cmd", "data"}; the handler answers once through `callback` with the
    // reply dictionary {"result", "data" or "error"}. Through `eventPlugin` it reaches the
    // window's bridge, browser view and window.
    virtual void handleRequestEventPluginCallback(const foundation::Value& request,
                                                  const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                                  WVBridgeResponseCallback callback) = 0;

    // True when the handler must run on the main thread; others run on the background pool.
    virtual bool requireMainThread() const { return false; }
};
