#include "foundation/ProcessUmask.h"

#include <fstream>
#include <string>

namespace foundation {

mode_t processUmask() {
    // The kernel reports the mask as an octal "Umask:" line of the process's status.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (!line.starts_with("Umask:")) continue;
        try {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
        } catch (const std::exception&) {
            break;
        }
    }
    return 022;  // the usual mask, when the status cannot be read
}

mode_t modeForNewFile(mode_t requested) { return requested & ~processUmask(); }

}  // namespace foundation
