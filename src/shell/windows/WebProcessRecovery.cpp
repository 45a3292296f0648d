#include "shell/windows/WebProcessRecovery.h"

#include <gtk/gtk.h>

#include <fmt/format.h>

#include "foundation/QuitGate.h"
#include "logging/LogCall.h"
#include "logging/TCrashLogFinder.h"
#include "platform/gtk/WidgetStyle.h"
#include "shell/windows/WebProcessReport.h"

using TerminationReason = webkit::WebView::TerminationReason;

WebProcessRecovery::WebProcessRecovery(std::weak_ptr<gtk::Window> window,
                                       std::weak_ptr<webkit::WebView> view)
    : window_(std::move(window)), view_(std::move(view)) {}

WebProcessRecovery::~WebProcessRecovery() {
    if (!panel_) return;
    gtk_widget_destroy(panel_);
    g_object_unref(panel_);
}

const char* WebProcessRecovery::reasonText(TerminationReason reason) {
    switch (reason) {
        case TerminationReason::ExceededMemoryLimit:
            return "exceeded its memory limit";
        case TerminationReason::EndedByApplication:
            return "was ended by the application";
        case TerminationReason::Crashed:
            break;
    }
    return "crashed";
}

std::string WebProcessRecovery::endMessage(TerminationReason reason) {
    return fmt::format(
        "This window's page stopped: its web process {} {} times within a minute, so it is "
        "not started again on its own.\nThe log and the newest crash report in About say "
        "more.",
        reasonText(reason), RepeatedEnds::kMostEnds);
}

void WebProcessRecovery::webProcessEnded(TerminationReason reason,
                                         RepeatedEnds::Clock::time_point now) {
    auto view = view_.lock();
    const std::string page = view ? view->uri() : std::string();
    LogError("The web process of the page {} {}", page, reasonText(reason));
    std::string error;
    if (!WebProcessReport{reasonText(reason), page}.writeInto(TCrashLogFinder::ownCrashFolder(), &error))
        LogError("Could not write the web process's crash report: {}", error);
    // A page loaded again while the application quits would ask for work nobody waits for.
    if (!view || panel_ || foundation::QuitGate::application().closed()) return;
    if (!ends_.noteEndAt(now)) {
        LogError("The page {} is not loaded again: its web process ended {} times within {} seconds",
                 page, RepeatedEnds::kMostEnds, RepeatedEnds::kWithin.count());
        showEnd(reason);
        return;
    }
    view->reload();
}

void WebProcessRecovery::showEnd(TerminationReason reason) {
    auto window = window_.lock();
    if (!window) return;
    // Kept referenced: the window may go first.
    panel_ = GTK_WIDGET(g_object_ref_sink(gtk_box_new(GTK_ORIENTATION_VERTICAL, 12)));
    gtk_widget_set_name(panel_, "web-process-ended");
    gtk_widget_set_halign(panel_, GTK_ALIGN_FILL);
    gtk_widget_set_valign(panel_, GTK_ALIGN_FILL);
    // Over the blank view, opaque, so that nothing of a broken page shows through.
    gtk::applyStyle(panel_, "#web-process-ended { background-color: #f6f6f6; padding: 48px; }");

    GtkWidget* label = gtk_label_new(endMessage(reason).c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_label_set_selectable(GTK_LABEL(label), TRUE);
    gtk_widget_set_valign(label, GTK_ALIGN_END);
    gtk_widget_set_vexpand(label, TRUE);
    GtkWidget* button = gtk_button_new_with_label("Try Again");
    gtk_widget_set_halign(button, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(button, GTK_ALIGN_START);
    gtk_widget_set_vexpand(button, TRUE);
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                         static_cast<WebProcessRecovery*>(self)->tryAgain();
                     }),
                     this);
    gtk_box_pack_start(GTK_BOX(panel_), label, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(panel_), button, TRUE, TRUE, 0);
    gtk_widget_show_all(panel_);
    // On the frame: a modal window's cover coming and going leaves it in place.
    window->addToFrame(panel_);
}

void WebProcessRecovery::tryAgain() {
    if (!panel_) return;
    // The button's signal holds the button while it runs.
    gtk_widget_destroy(panel_);
    g_object_unref(panel_);
    panel_ = nullptr;
    ends_.forget();
    if (auto view = view_.lock()) view->reload();
}
