#pragma once

#include <cairo.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <cstdlib>

#include "platform/webkit/WebView.h"
#include "support/MainLoop.h"

namespace apptest {

// With ORVANDEL_SCREENSHOT naming a PNG file, the view's visible part is written there.
inline void snapshotIfAsked(webkit::WebView& view) {
    const char* file = std::getenv("ORVANDEL_SCREENSHOT");
    if (!file) return;
    std::atomic<bool> done = false;
    struct Target {
        const char* file;
        std::atomic<bool>* done;
    } target{file, &done};
    webkit_web_view_get_snapshot(
        view.view(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* t = static_cast<Target*>(data);
            if (cairo_surface_t* surface =
                    webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, nullptr)) {
                cairo_surface_write_to_png(surface, t->file);
                cairo_surface_destroy(surface);
            }
            *t->done = true;
        },
        &target);
    testsupport::runMainLoopUntil([&] { return done.load(); });
}

}  // namespace apptest
