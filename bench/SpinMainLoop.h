#pragma once

#include <glib.h>

#include <functional>

namespace bench {

// Serves the main loop until `done` holds or the limit passes, so that a stuck page ends
// the case rather than the run (a heartbeat source wakes the loop to see the limit).
inline bool spinUntil(const std::function<bool()>& done, gint64 limitSeconds = 10) {
    const gint64 deadline = g_get_monotonic_time() + limitSeconds * G_USEC_PER_SEC;
    while (!done()) {
        if (g_get_monotonic_time() > deadline) return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    return true;
}

}  // namespace bench
