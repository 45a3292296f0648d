#include "platform/webkit/MainContext.h"

#include <glib.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace webkit {

void runOnMainContext(std::function<void()> job) {
    GMainContext* context = g_main_context_default();
    if (g_main_context_is_owner(context)) {
        job();
        return;
    }
    auto* boxed = new std::function<void()>(std::move(job));
#if defined(__SANITIZE_THREAD__)
    __tsan_release(boxed);  // GLib's own locking is not seen by the thread sanitizer
#endif
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
#if defined(__SANITIZE_THREAD__)
            __tsan_acquire(data);
#endif
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        boxed, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace webkit
