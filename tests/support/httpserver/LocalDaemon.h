#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Starts the program (args[0]) with its output thrown away (its error output goes to the
// errorLog file when one is named) and waits until it accepts on the 127.0.0.1 port; -1
// when it cannot start, exits first (the port was taken) or does not come up in time, in
// which case nothing is left running.
pid_t spawnListeningDaemon(const std::vector<std::string>& args, std::uint16_t port,
                           const std::string& errorLog = {});
// Ends a daemon started that way and reaps it; nothing for -1.
void stopDaemon(pid_t pid);

}  // namespace testsupport
