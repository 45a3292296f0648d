#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <string>

#include "LogCapture.h"
#include "NativeUiDriver.h"
#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "foundation/QuitGate.h"
#include "foundation/ScratchFolder.h"
#include "shell/bridge/WKWebViewScriptBridge.h"

using apptest::WebWindowTest;

namespace {

GtkWidget* findNamed(GtkWidget* widget, const char* name) {
    if (std::string(gtk_widget_get_name(widget)) == name) return widget;
    if (!GTK_IS_CONTAINER(widget)) return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* it = children; it && !found; it = it->next) found = findNamed(GTK_WIDGET(it->data), name);
    g_list_free(children);
    return found;
}

// The main window's web process ends (as when it crashes): the page comes back with its
// bridge and the connected phone, the log says why, and About's crash report tells of it.
// Ended once too often within a short time, the page is not loaded again and the window says
// what happened instead.
TEST_F(WebWindowTest, AnEndedWebProcessBringsThePageBackUntilItEndsTooOften) {
    foundationtest::ScratchFolder scratch;
    apptest::SimulatedPhoneApp app(scratch.path());
    ASSERT_TRUE(app.start());
    app.attachPhone("");
    const std::string names = "Array.from(document.querySelectorAll('#devices > li .device-name'))"
                              ".map(e => e.textContent).join('|')";
    ASSERT_TRUE(waitForValue(app.view(), names, "\"Sim Phone\""));
    apptest::LogCapture log;

    for (int end = 1; end <= 2; ++end) {
        eval(app.view(), "window.before = true; 0");
        webkit_web_view_terminate_web_process(app.view().view());
        // A page of its own, with the bridge up, asks the application again and shows the phone.
        ASSERT_TRUE(waitForValue(app.view(),
                                 "typeof window.before + ' ' + document.documentElement.dataset.bridge",
                                 "\"undefined ready\""));
        EXPECT_TRUE(waitForValue(app.view(), names, "\"Sim Phone\""));
        eval(app.view(), "App.event('app', 'info').then(r => window.info = r.data.id); 0");
        EXPECT_TRUE(waitForValue(app.view(), "typeof window.info", "\"string\""));
    }
    EXPECT_TRUE(log.has("[ERROR] The web process of the page myapp://x/ was ended by the application"));
    eval(app.view(), "document.querySelector('#about [data-part=\"show-crash\"]').click(); 0");
    EXPECT_TRUE(waitForValue(app.view(),
                             "document.querySelector('#about [data-part=\"crash\"]').textContent"
                             ".indexOf('the web process was ended by the application') >= 0",
                             "true"));
    eval(app.view(), "document.getElementById('section-about').scrollIntoView(); 0");
    screenshot(app.view(), "web-process-ended-and-back");

    auto controller = app.appDelegate->windowController();
    GtkWidget* window = GTK_WIDGET(controller->window()->gtkWindow());
    EXPECT_EQ(findNamed(window, "web-process-ended"), nullptr);
    webkit_web_view_terminate_web_process(app.view().view());
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return log.has("[ERROR] The page myapp://x/ is not loaded again"); }));
    GtkWidget* shown = findNamed(window, "web-process-ended");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(gtk_widget_get_mapped(shown) || testsupport::runMainLoopUntil(
                                                    [&] { return gtk_widget_get_mapped(shown); }));
    testsupport::drainMainLoop();
    apptest::screenshot("web-process-ended-too-often.png");

    // The person asks to try again: the page is back, the notice gone.
    GList* parts = gtk_container_get_children(GTK_CONTAINER(shown));
    GtkWidget* button = nullptr;
    for (GList* it = parts; it; it = it->next)
        if (GTK_IS_BUTTON(it->data)) button = GTK_WIDGET(it->data);
    g_list_free(parts);
    ASSERT_NE(button, nullptr);
    gtk_button_clicked(GTK_BUTTON(button));
    EXPECT_EQ(findNamed(window, "web-process-ended"), nullptr);
    EXPECT_TRUE(waitForValue(app.view(), names, "\"Sim Phone\""));
}

}  // namespace

namespace {

// Once the application has begun to quit, a page whose web process ends is not loaded
// again: it would ask for work that the quit no longer waits for.
TEST_F(WebWindowTest, AnEndedWebProcessIsNotReloadedWhileTheApplicationQuits) {
    auto controller = WVWindowController::createInstanceWithWindowRectStyleMaskWebconfig(
        {0, 0, 500, 400}, gtk::Titled | gtk::Closable | gtk::Resizable, nullptr);
    controller->showWindow();
    controller->loadURLString("myapp://x/");
    ASSERT_TRUE(waitForValue(*controller->webview(), "typeof window.bridge", "\"object\""));
    apptest::LogCapture log;
    foundation::QuitGate::application().close(nullptr);
    webkit_web_view_terminate_web_process(controller->webview()->view());
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        return log.has("[ERROR] The web process of the page myapp://x/ was ended by the application");
    }));
    // The ending was handled in the signal: a reload would be under way by now.
    EXPECT_FALSE(webkit_web_view_is_loading(controller->webview()->view()));
    controller->window()->close();
}

}  // namespace
