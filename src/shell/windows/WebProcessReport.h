#pragma once

#include <optional>
#include <string>

// A report of a web process that ended, written where the application's crash reports are
// found (About shows the newest), so that a person can tell what happened and pass it on.
class WebProcessReport {
public:
    // "crashed", "exceeded its memory limit" or "was ended by the application".
    std::string reason;
    // The page the view showed.
    std::string page;

    // The report's text.
    std::string text() const;
    // Writes it into `folder` (made when missing) under a new name; the file's path, or
    // nullopt with the reason in `error`.
    std::optional<std::string> writeInto(const std::string& folder, std::string* error = nullptr) const;
};
