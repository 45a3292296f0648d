#pragma once

#include <string>

// The first path at which nothing exists yet, starting with `path` itself: a taken
// "report.txt" becomes "report (1).txt", then "report (2).txt"; a taken folder "Photos"
// becomes "Photos (1)". Only the last extension stays apart ("archive.tar (1).gz"), a name
// without one gets none ("README (1)"), and a leading dot does not start an extension.
// Creates nothing. A dangling symbolic link counts as taken.
std::string firstFreePath(const std::string& path, bool isDirectory);
