#pragma once

#include <string>

// The calling thread as log records name it. Both are asked of the kernel once per thread:
// a system call each would cost more than the rest of a record. Threads are named when
// they start (queues name their workers before their first job), so the name read on the
// first record stays right.
struct LgThreadIdentity {
    std::string id;
    std::string name;

    static const LgThreadIdentity& current();

private:
    LgThreadIdentity();
};
