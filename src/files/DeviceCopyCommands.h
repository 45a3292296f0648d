#pragma once

#include <map>
#include <string>

#include "files/WVMobileDeviceFilesystemPlugin.h"

// "device-download" and "device-upload": one file between the device and the computer,
// copied by a job of its own on the shared pool and answered {"result"} when it ends.
// Each report of the device goes to the page handler named by "cb" as {"progress":
// {"total", "bytes"}}; a download then pauses "delay" seconds. A native handler named by
// "stopCB" stops the copy: it sets the copy's flag, unregisters itself and replies null
// once the copy has ended, without holding the main thread meanwhile. Every copy has its
// own delegate, so copies at once keep their own progress and stop.
//
// The device writes to a temporary name and puts it in place only when the copy is whole,
// so a stopped or failed copy leaves whatever "to" held before and no partial file; a
// stop arriving after the end changes nothing. Once the application has begun to quit, a
// copy asked for makes no file and answers {"result": false}; one under way is stopped as by
// the page and the quit waits for it to end.
class DeviceCopyCommands {
public:
    using Plugin = WVMobileDeviceFilesystemPlugin;

    static void addTo(std::map<std::string, Plugin::Command>& commands);

    static foundation::Value download(Plugin& plugin, Plugin::Request& request);
    static foundation::Value upload(Plugin& plugin, Plugin::Request& request);

private:
    static foundation::Value start(Plugin& plugin, Plugin::Request& request, bool toDevice);
};
