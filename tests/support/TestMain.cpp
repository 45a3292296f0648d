#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
    // JavaScriptCore's collector stops a thread with a signal to scan its stack, and the
    // thread sanitizer can hold that signal back for good (the collector then waits forever
    // with the main thread parked for the heap): the views of the tests collect no garbage.
    ::setenv("JSC_useConcurrentGC", "0", 0);
    ::setenv("JSC_useGC", "0", 0);
    // Programs the tests start read only the environment: options given there (scripts/test
    // gives some) keep our suppressions beside them.
    const char* given = std::getenv("TSAN_OPTIONS");
    const std::string options = given && *given ? std::string(ORVANDEL_TSAN_OPTIONS) + ":" + given
                                                : std::string(ORVANDEL_TSAN_OPTIONS);
    ::setenv("TSAN_OPTIONS", options.c_str(), 1);
#endif
    testing::InitGoogleTest(&argc, argv);
    foundation::MainQueue::bindToCurrentThread();
    return RUN_ALL_TESTS();
}
