#include "app/ApplicationTermination.h"

#include <glib.h>

#include <memory>

#include "foundation/DispatchGroup.h"
#include "foundation/NotificationCenter.h"
#include "foundation/QuitGate.h"
#include "shell/ShellNotifications.h"

bool finishBeforeExit(std::chrono::milliseconds limit) {
    auto finishing = std::make_shared<foundation::DispatchGroup>();
    // Before the notice: from here on no copy or load starts, and those under way stop.
    foundation::QuitGate::application().close(finishing);
    foundation::NotificationCenter::defaultCenter().post(
        kApplicationWillTerminateNotification, nullptr, {{kWillTerminateFinishing, finishing}});
    const auto deadline = std::chrono::steady_clock::now() + limit;
    GMainContext* context = g_main_context_default();
    // Woken now and then to look at the group, which the workers do not signal here.
    const guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; },
                                     nullptr);
    while (!finishing->finished() && std::chrono::steady_clock::now() < deadline) {
        g_main_context_iteration(context, TRUE);
    }
    g_source_remove(tick);
    return finishing->finished();
}
