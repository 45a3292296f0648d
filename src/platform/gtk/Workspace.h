#pragma once

#include <string>

namespace gtk {

// The desktop's handling of URLs and files, over GIO.
class Workspace {
public:
    // Opens the URI with the user's default application; false when nothing could open it.
    static bool openURL(const std::string& uri);
    // Whether opening the file would start a program: an executable file, a script, a
    // library or a desktop entry (links followed).
    static bool launchesProgram(const std::string& path);
};

}  // namespace gtk
