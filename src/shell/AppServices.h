#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/Value.h"

class AppDevice;

class ScriptBridge;
class WVPluginBase;
class WVWindowController;

// What start-up needs of the device, file-system and media layers. The process entry fills
// it; an empty member stands for a layer that is not there: no device is ever detected and
// the music library is empty.
struct AppServices {
    // Starts detecting devices of the kinds in the mask; false when it cannot start.
    std::function<bool(std::uint32_t deviceKinds)> startDeviceDetection;
    // Loads the music library's tracks (on a background job; may take long); the page asks
    // "itunes" for what it holds.
    std::function<void()> loadMusicLibrary;
    // Whether the music library's folder and index can be read and written.
    std::function<bool()> mayAccessMusicLibrary;
    // Whether the music application is "Music" rather than "iTunes" (the access steps name it).
    std::function<bool()> containsMusic;
    // Sets up the device file-system plugin for the main window, over its bridge and
    // browser view.
    std::function<void(const std::shared_ptr<ScriptBridge>&, const std::shared_ptr<void>& webview)>
        setupDevicePlugin;
    // Makes the device file-system plugin of a further web window.
    std::function<std::shared_ptr<WVPluginBase>(const std::shared_ptr<WVWindowController>&)>
        makeDevicePlugin;
    // A device left: its media loader stops matching, and later is dropped.
    std::function<void(const std::string& deviceId)> cancelMatching;
    std::function<void(const std::string& deviceId)> dropMediaLoader;
    // The page's device requests; each ignores a device it does not know.
    std::function<void(const std::string& deviceId)> loadDeviceLibrary;
    // Reads a device that gave none of its values when it arrived once more; it is
    // announced anew when it answers.
    std::function<void(const std::shared_ptr<AppDevice>&)> retryDeviceSetUp;
    std::function<void(const std::string& deviceId)> syncLibraryStatus;
};
