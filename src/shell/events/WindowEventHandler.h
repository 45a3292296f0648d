#pragma once

#include "shell/plugins/WVEventPlugin.h"

// The "window" event: a page closes its own window, reads and changes its place and size,
// and learns about the application's modal window. The page measures from the top left of
// the main screen; "modalwindow" answers the window system's frame, measured from the
// bottom left. Runs on the main thread.
class WindowEventHandler : public WVEventHandler {
public:
    // A frame with the origin at the bottom left of the main screen.
    struct Frame {
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
    };

    static WVEventPlugin::HandlerClass handlerClass();
    bool requireMainThread() const override { return true; }

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

    // {"x", "y", "width", "height"} as the page measures, on a screen of that height.
    static foundation::Value pageRect(const Frame& frame, double screenHeight);
    // The frame after a "resize" request: "x", "width", "height" and then "y", each when it
    // is a number; a width or height below 1 becomes 1.
    static Frame resizedFrame(Frame frame, double screenHeight, const foundation::Value& data);
};
