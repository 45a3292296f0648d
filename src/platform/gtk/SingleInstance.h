#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gtk {

// One running instance of an application, as a desktop application has: the identifier is
// its name on the session bus, and lock files (one a folder it keeps data in) hold the claim
// for every process, also where no session bus reaches (none runs, or another session's).
// The holder writes its process id into each lock file, for a later start to name it.
// Main thread only.
class SingleInstance {
public:
    enum class Claim {
        First,    // this process is the one instance; `activated` runs when a later start asks
        Shown,    // another instance runs on this session bus and was asked to show itself
        Running,  // another instance holds the lock files, out of this session bus's reach
    };

    // Claims the identifier (a valid application identifier) and the lock files, once per
    // process. `activated` runs on the main loop whenever a later start asks.
    static Claim claim(const std::string& applicationId, const std::vector<std::string>& lockPaths,
                       std::function<void()> activated);
    // Whether the identifier may name an application on the session bus.
    static bool isValidId(const std::string& applicationId);
    // The process id that the holder of a lock file wrote into it; nullopt when the file
    // holds none (no one holds it, or a holder that writes none).
    static std::optional<long> lockHolder(const std::string& lockPath);
};

}  // namespace gtk
