// The worker that runs one proxy auto-configuration script for the application and ends
// (see NetPACWorker): the request on standard input, the answer on standard output.
#include <unistd.h>

#include "platform/net/NetPACWorker.h"

// Under the leak checker: the script engine keeps its heap and caches for the life of
// the process, which here ends right after the one script; its stacks stop inside the
// engine, so a leak that passes through our code still shows.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libjavascriptcoregtk\n";
}

int main() {
    return net::NetPACWorker::serve(STDIN_FILENO, STDOUT_FILENO);
}
