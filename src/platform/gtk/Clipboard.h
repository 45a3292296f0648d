#pragma once

#include <functional>
#include <string>
#include <vector>

namespace gtk {

// The desktop's general clipboard ("CLIPBOARD" selection). Main thread only; answers that
// need the owner of the clipboard arrive later, through the main loop.
class Clipboard {
public:
    // The paths of files copied to the clipboard, from "x-special/gnome-copied-files" or
    // "text/uri-list" (local files only); empty when it holds none.
    static void requestFilePaths(std::function<void(std::vector<std::string>)> done);
    // Takes the clipboard with nothing on it (no files; empty text).
    static void clear();
    static void setText(const std::string& text);

    // The file paths of a "text/uri-list" or "x-special/gnome-copied-files" text: one URI
    // a line, comments, blank lines, the leading "copy"/"cut" and non-file URIs skipped.
    static std::vector<std::string> pathsFromURIList(const std::string& text);
};

}  // namespace gtk
