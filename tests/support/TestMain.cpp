#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/MainQueue.h"

#if defined(__SANITIZE_THREAD__)
// The thread-sanitizer build's options, for the test programs and (through the
// environment) the programs they start.
#define ORVANDEL_TSAN_OPTIONS \
    "halt_on_error=1:second_deadlock_stack=1:suppressions=" ORVANDEL_TSAN_SUPPRESSIONS
extern "C" const char* __tsan_default_options() {
    return ORVANDEL_TSAN_OPTIONS;
}
#endif

// Every test program runs with its test thread as the main thread, so that code that
// hops to the main queue works while a test spins the loop (see MainLoop.h).
int main(int argc, char** argv) {
#if defined(__SANITIZE_THREAD__)
    // JavaScriptCore's concurrent collector hangs under the thread sanitizer.
    ::setenv("JSC_useConcurrentGC", "0", 0);
    ::setenv("TSAN_OPTIONS", ORVANDEL_TSAN_OPTIONS, 0);
#endif
    testing::InitGoogleTest(&argc, argv);
    foundation::MainQueue::bindToCurrentThread();
    return RUN_ALL_TESTS();
}
