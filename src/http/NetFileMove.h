#pragma once

#include <string>

// Puts a finished download in place at `to`: renamed where both paths lie on one file
// system, else copied into a new file beside `to`, flushed to disk and renamed over it,
// and the source deleted. The file gets the mode an ordinary create gives a new file (the
// process's mask applied), whatever the source's was. 0 on success, else the errno of the
// step that failed; `to` is then as it was and the source stays.
int netMoveFileIntoPlace(const std::string& from, const std::string& to);
