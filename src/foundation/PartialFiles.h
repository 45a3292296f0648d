#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace foundation {

// The temporary files one piece of work writes before it puts each in place (a copy's
// partial file), which another thread may have to take away at once: a copy may be waiting
// for a device that does not answer when the application quits. Once withdrawn, the work
// makes no new temporary and puts none in place; what it still writes goes to files that
// are already gone. Thread-safe.
class PartialFiles {
public:
    // Runs `create`, which makes a temporary and answers its path ("" when it made none),
    // and keeps the path; false, with nothing made, once withdrawn.
    bool make(const std::function<std::string()>& create);
    // Renames a kept temporary over `path`: false (errno set) once withdrawn or when the
    // rename fails, and the temporary is then still kept.
    bool putInPlace(const std::string& temporary, const std::string& path);
    // Removes a kept temporary; one no longer kept is left alone (its name may be another's
    // by now).
    void discard(const std::string& temporary);
    // Removes every kept temporary now; from here on nothing is made or put in place.
    void withdraw();
    // Whether withdraw() has been called: the work writing them is to stop.
    bool withdrawn() const;

private:
    mutable std::mutex mutex_;
    bool withdrawn_ = false;
    std::set<std::string> kept_;
};

}  // namespace foundation
