#include "support/MainLoop.h"

#include <glib.h>
#include <gtest/gtest.h>

namespace testsupport {

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    GMainContext* context = g_main_context_default();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A periodic wake-up so that `done` is re-checked even when it is made true by
    // another thread without posting to the loop.
    guint tick = g_timeout_add(
        5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            g_source_remove(tick);
            ADD_FAILURE() << "main loop: condition not met within " << limit.count() << " ms";
            return false;
        }
        g_main_context_iteration(context, TRUE);
    }
    g_source_remove(tick);
    return true;
}

void drainMainLoop() {
    while (g_main_context_iteration(g_main_context_default(), FALSE)) {
    }
}

}  // namespace testsupport
