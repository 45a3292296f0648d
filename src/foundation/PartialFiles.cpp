#include "foundation/PartialFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace foundation {

bool PartialFiles::make(const std::function<std::string()>& create) {
    // Made under the lock, so that a withdrawal either finds the file or prevents it.
    std::lock_guard lock(mutex_);
    if (withdrawn_) return false;
    std::string path = create();
    if (!path.empty()) kept_.insert(std::move(path));
    return true;
}

bool PartialFiles::putInPlace(const std::string& temporary, const std::string& path) {
    std::lock_guard lock(mutex_);
    if (withdrawn_ || kept_.count(temporary) == 0) {
        errno = ECANCELED;
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return false;
    kept_.erase(temporary);
    return true;
}

void PartialFiles::discard(const std::string& temporary) {
    std::lock_guard lock(mutex_);
    if (kept_.erase(temporary) > 0) ::unlink(temporary.c_str());
}

void PartialFiles::withdraw() {
    std::set<std::string> gone;
    {
        std::lock_guard lock(mutex_);
        withdrawn_ = true;
        gone.swap(kept_);
    }
    // No one puts these in place any more: they go without holding up the work's lock.
    for (const auto& temporary : gone) ::unlink(temporary.c_str());
}

bool PartialFiles::withdrawn() const {
    std::lock_guard lock(mutex_);
    return withdrawn_;
}

}  // namespace foundation
