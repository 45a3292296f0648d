#include <gtest/gtest.h>

#include "foundation/MainQueue.h"

// Every test program runs with its test thread as the main thread, so that code that
// hops to the main queue works while a test spins the loop (see MainLoop.h).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    foundation::MainQueue::bindToCurrentThread();
    return RUN_ALL_TESTS();
}
