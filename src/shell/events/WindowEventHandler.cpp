#include "shell/events/WindowEventHandler.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "foundation/MainQueue.h"
#include "platform/gtk/Screen.h"
#include "platform/gtk/Window.h"

using foundation::Value;

namespace {

// The window system's frame of a window, bottom-left origin.
WindowEventHandler::Frame frameOf(const gtk::Window* window, double screenHeight) {
    if (!window) return {};
    const gtk::Rect frame = window->frame();
    return {double(frame.x), screenHeight - frame.y - frame.height, double(frame.width),
            double(frame.height)};
}

// The visible modal web window, if there is one.
gtk::Window* modalWindow() {
    gtk::Window* modal = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* it = windows; it && !modal; it = it->next) {
        auto* window = GTK_WINDOW(it->data);
        if (gtk_window_get_modal(window) && gtk_widget_get_visible(GTK_WIDGET(window)))
            modal = gtk::Window::fromGtkWindow(window);
    }
    g_list_free(windows);
    return modal;
}

}  // namespace

WVEventPlugin::HandlerClass WindowEventHandler::handlerClass() {
    return {"WindowEventHandler", [] { return std::make_shared<WindowEventHandler>(); }};
}

Value WindowEventHandler::pageRect(const Frame& frame, double screenHeight) {
    return Value::dict({{"x", frame.x},
                        {"y", screenHeight - frame.y - frame.height},
                        {"width", frame.width},
                        {"height", frame.height}});
}

WindowEventHandler::Frame WindowEventHandler::resizedFrame(Frame frame, double screenHeight,
                                                           const Value& data) {
    auto number = [&](const char* key) -> std::optional<double> {
        const Value& value = data[key];
        if (!value.isNumber()) return std::nullopt;
        return double(float(*value.toDouble()));
    };
    if (auto x = number("x")) frame.x = *x;
    if (auto width = number("width")) frame.width = std::max(1.0, *width);
    if (auto height = number("height")) frame.height = std::max(1.0, *height);
    if (auto y = number("y")) frame.y = screenHeight - *y - frame.height;
    return frame;
}

void WindowEventHandler::handleRequestEventPluginCallback(
    const Value& request, const std::shared_ptr<WVEventPlugin>& eventPlugin,
    WVBridgeResponseCallback callback) {
    auto reply = [&](const Value& answer) {
        if (callback) callback(answer);
    };
    auto window = eventPlugin ? std::static_pointer_cast<gtk::Window>(eventPlugin->window())
                              : std::shared_ptr<gtk::Window>();
    const double screenHeight = gtk::Screen::mainFrame().height;
    const std::string cmd = request["cmd"].stringOr();
    if (cmd == "close") {
        // Not while the page's own message is being served: its view goes with the window.
        if (window) foundation::MainQueue::async([window] { window->close(); });
        reply(Value::dict({{"result", true}}));
    } else if (cmd == "size") {
        reply(Value::dict(
            {{"result", true}, {"data", pageRect(frameOf(window.get(), screenHeight), screenHeight)}}));
    } else if (cmd == "resize") {
        if (window) {
            const Frame frame =
                resizedFrame(frameOf(window.get(), screenHeight), screenHeight, request["data"]);
            window->setFrame({int(frame.x), int(screenHeight - frame.y - frame.height),
                              int(frame.width), int(frame.height)});
        }
        reply(Value::dict({{"result", true}}));
    } else if (cmd == "modalwindow") {
        gtk::Window* modal = modalWindow();
        if (!modal) {
            reply(Value::dict({{"result", false}}));
            return;
        }
        const Frame frame = frameOf(modal, screenHeight);
        reply(Value::dict(
            {{"result", true},
             {"data", Value::dict({{"title", modal->title()},
                                   {"style", modal->styleMask()},
                                   {"frame", Value::dict({{"x", frame.x},
                                                          {"y", frame.y},
                                                          {"width", frame.width},
                                                          {"height", frame.height}})}})}}));
    } else {
        reply(Value::dict({{"result", false}, {"error", "unhandled window command"}}));
    }
}
