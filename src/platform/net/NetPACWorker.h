#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "foundation/Url.h"

namespace net {

// Runs proxy auto-configuration scripts in a process of their own, the program
// "orvandel-pac-worker" beside the running one: the engine cannot interrupt a regular
// expression or a host lookup, and a script may claim any amount of memory. The worker is
// ended once the time limit (and a moment for it to start) has passed or its memory
// passes MemoryLimit, and all of its memory is given back when it ends.
class NetPACWorker {
public:
    // The worker's answer text; nullopt with `error` set when the script failed, ran out
    // of time or memory, or no worker could be started.
    static std::optional<std::string> run(const std::string& script, const foundation::Url& url,
                                          std::chrono::duration<double> limit,
                                          std::string* error = nullptr);

    // The worker's side: reads one request from `in`, runs it and writes the answer to
    // `out`. Returns the process's exit status.
    static int serve(int in, int out);

    // Where the worker program is: beside the running program, else in the build tree.
    static std::string workerPath();

    // The most resident memory a worker may hold before it is ended.
    static constexpr long MemoryLimit = 512L * 1024 * 1024;
};

}  // namespace net
