// The worker that runs one proxy auto-configuration script for the application and ends
// (see NetPACWorker): the request on standard input, the answer on standard output.
#include <unistd.h>

#include "platform/net/NetPACWorker.h"

int main() {
    return net::NetPACWorker::serve(STDIN_FILENO, STDOUT_FILENO);
}
