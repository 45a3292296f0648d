#pragma once

#include <map>
#include <string>

#include "files/WVMobileDeviceFilesystemPlugin.h"

// The "mdfs" commands that work on one device path and answer at once: make a folder,
// test, rename, delete, list, read and append byte ranges, and read a property list or an
// SQLite database from the device. Each runs on the request node's file service (so other
// requests cannot switch the service under it); without a node (an "app" request without
// "appid") they answer as for a missing item.
class DeviceFileCommands {
public:
    using Request = WVMobileDeviceFilesystemPlugin::Request;

    static void addTo(std::map<std::string, WVMobileDeviceFilesystemPlugin::Command>& commands);

    static foundation::Value newFolder(Request& request);
    static foundation::Value exists(Request& request);
    static foundation::Value rename(Request& request);
    static foundation::Value remove(Request& request);
    static foundation::Value list(Request& request);
    static foundation::Value readFile(Request& request);
    static foundation::Value writeFile(Request& request);
    static foundation::Value readPlist(Request& request);
    static foundation::Value readSqlite(Request& request);

    // The listing record of a node: {"name", "path", "size", "created", "modified",
    // "isdir", "type", "id", "entry"}; "entry" is the requested node's entry path.
    static foundation::Value listingRecord(FileSystemNode& node, const std::string& entry);
};
