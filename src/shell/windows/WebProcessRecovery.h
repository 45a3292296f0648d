#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/gtk/Window.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/RepeatedEnds.h"

// What a web window does when its view's web process ends (a crash in the graphics driver,
// too much memory, or the application ending it): it says so in the log and in a crash
// report, and loads the page again, so that the page, its bridge and the devices it knows
// come back. A process that ends again and again is not started once more: the window then
// says what happened, with a button to try again. Main thread only.
class WebProcessRecovery {
public:
    WebProcessRecovery(std::weak_ptr<gtk::Window> window, std::weak_ptr<webkit::WebView> view);
    ~WebProcessRecovery();
    WebProcessRecovery(const WebProcessRecovery&) = delete;
    WebProcessRecovery& operator=(const WebProcessRecovery&) = delete;

    // The view's web process ended for the reason.
    void webProcessEnded(webkit::WebView::TerminationReason reason,
                         RepeatedEnds::Clock::time_point now = RepeatedEnds::Clock::now());
    // Whether the window shows why its page is gone instead of the page.
    bool showsEnd() const { return panel_ != nullptr; }

    // The reason as the log and the report say it.
    static const char* reasonText(webkit::WebView::TerminationReason reason);
    // The text the window shows after giving up.
    static std::string endMessage(webkit::WebView::TerminationReason reason);

private:
    void showEnd(webkit::WebView::TerminationReason reason);
    void tryAgain();

    std::weak_ptr<gtk::Window> window_;
    std::weak_ptr<webkit::WebView> view_;
    RepeatedEnds ends_;
    GtkWidget* panel_ = nullptr;
};
