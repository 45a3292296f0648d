#include "logging/LgThreadIdentity.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fmt/format.h>

LgThreadIdentity::LgThreadIdentity() {
    const long tid = syscall(SYS_gettid);
    id = tid <= 0 ? "missing threadId" : fmt::format("{}", static_cast<unsigned long long>(tid));
    char buffer[32] = {};
    if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) == 0) name = buffer;
}

const LgThreadIdentity& LgThreadIdentity::current() {
    thread_local const LgThreadIdentity identity;
    return identity;
}
