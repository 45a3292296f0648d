#include "shell/windows/BorderlessWindow.h"

#include <gtk/gtk.h>

#include <cmath>

#include "foundation/Json.h"
#include "logging/LogCall.h"
#include "platform/gtk/Screen.h"
#include "platform/webkit/WebView.h"
#include "shell/windows/ElementAtPoint.h"

BorderlessWindow::Press BorderlessWindow::pressDecision(Point p, double width, double height,
                                                        unsigned titleHeight) {
    const bool outsideEdgeBand = p.x > kEdgeBand && p.x < width - kEdgeBand && p.y < height - kEdgeBand;
    if (!outsideEdgeBand) return Press::Ignore;
    if (titleHeight == 0) return Press::Drag;
    if (p.y > height - titleHeight) return Press::AskPage;
    return Press::Stay;
}

bool BorderlessWindow::dragMoves(Point p, double width, double height, unsigned titleHeight) {
    if (titleHeight == 0) return true;
    return p.y > height - titleHeight && p.y < height - kDragMargin && p.x > kDragMargin &&
           p.x < width - kDragMargin;
}

bool BorderlessWindow::doubleClickZooms(int clickCount, Point p, double height,
                                        unsigned titleHeight) {
    return titleHeight > 0 && clickCount >= 2 && p.y > height - titleHeight;
}

gtk::Rect BorderlessWindow::draggedFrame(gtk::Rect frame, double rootX, double rootY,
                                         double pressX, double pressY, int screenTop) {
    frame.x = int(std::lround(rootX - pressX));
    frame.y = int(std::lround(rootY - pressY));
    if (frame.y < screenTop) frame.y = screenTop;
    return frame;
}

namespace {

void dragUpdated(GtkGestureDrag* gesture, gdouble, gdouble, gpointer data) {
    auto self = static_cast<std::weak_ptr<BorderlessWindow>*>(data)->lock();
    GdkEventSequence* sequence = gtk_gesture_single_get_current_sequence(GTK_GESTURE_SINGLE(gesture));
    const GdkEvent* event = gtk_gesture_get_last_event(GTK_GESTURE(gesture), sequence);
    gdouble x = 0;
    gdouble y = 0;
    gdouble rootX = 0;
    gdouble rootY = 0;
    // The point in the window (the gesture's widget); the event's own coordinates may be
    // those of the page's inner window.
    if (!self || !event || !gtk_gesture_get_point(GTK_GESTURE(gesture), sequence, &x, &y) ||
        !gdk_event_get_root_coords(event, &rootX, &rootY))
        return;
    self->mouseDragged(x, y, rootX, rootY);
}

}  // namespace

std::shared_ptr<BorderlessWindow> BorderlessWindow::attach(
    const std::shared_ptr<gtk::Window>& window, const std::shared_ptr<webkit::WebView>& view) {
    std::shared_ptr<BorderlessWindow> borderless(new BorderlessWindow(window, view));
    borderless->installGestures();
    return borderless;
}

BorderlessWindow::Point BorderlessWindow::bottomLeft(double x, double y) const {
    auto window = window_.lock();
    const double height = window ? window->frame().height : 0;
    return {x, height - y};
}

void BorderlessWindow::logPressInTitleArea(const gtk::Rect& frame, webkit::WebView* view) {
    // The title bar is always see-through and the content covers the whole frame.
    LogInfo("title transparent: {}", "Yes");
    LogInfo("fullsize content: {}", "Yes");
    LogInfo("window frame: {:f}, {:f}", double(frame.width), double(frame.height));
    LogInfo("content view: {:f}, {:f}, {:f}, {:f}", 0.0, 0.0, double(frame.width),
            double(frame.height));
    if (!view) return;
    GtkAllocation area{};
    gtk_widget_get_allocation(view->widget(), &area);
    LogInfo("webview:({}) {:f}, {:f}, {:f}, {:f}", G_OBJECT_TYPE_NAME(view->widget()),
            double(area.x), double(frame.height - area.y - area.height), double(area.width),
            double(area.height));
}

void BorderlessWindow::startDrag(double x, double y) {
    _dragging = true;
    _initialLocation = {x, y};
}

void BorderlessWindow::mouseDown(double x, double y) {
    auto window = window_.lock();
    if (!window) return;
    const gtk::Rect frame = window->frame();
    const Point p = bottomLeft(x, y);
    const std::uint64_t serial = ++pressSerial_;
    switch (pressDecision(p, frame.width, frame.height, window->titleHeight())) {
        case Press::Ignore:
            return;
        case Press::Stay:
            LogInfo("{:f},{:f}", p.x, p.y);
            return;
        case Press::Drag:
            LogInfo("{:f},{:f}", p.x, p.y);
            startDrag(x, y);
            return;
        case Press::AskPage:
            break;
    }
    LogInfo("{:f},{:f}", p.x, p.y);
    auto view = view_.lock();
    logPressInTitleArea(frame, view.get());
    if (!view) {
        startDrag(x, y);
        return;
    }
    // The page looks elements up in its own (top-left) coordinates; the browser view
    // covers the whole window.
    std::weak_ptr<BorderlessWindow> weak = weak_from_this();
    WKWebView::htmlElementAtPoint(
        *view, x, y, [weak, serial, x, y](std::optional<foundation::Value> element) {
            auto self = weak.lock();
            if (!self || self->pressSerial_ != serial) return;  // released meanwhile
            LogDebug("{}", element ? foundation::json::write(*element) : std::string("(null)"));
            const bool resizer = element && (*element)["class"].stringOr() == kResizerClass;
            if (resizer)
                self->_dragging = false;
            else
                self->startDrag(x, y);
        });
}

void BorderlessWindow::mouseDragged(double x, double y, double rootX, double rootY) {
    auto window = window_.lock();
    if (!_dragging || !window) return;
    const gtk::Rect frame = window->frame();
    if (!dragMoves(bottomLeft(x, y), frame.width, frame.height, window->titleHeight())) return;
    const gtk::Rect moved = draggedFrame(frame, rootX, rootY, _initialLocation.x,
                                         _initialLocation.y, gtk::Screen::mainFrame().y);
    gtk_window_move(window->gtkWindow(), moved.x, moved.y);
}

void BorderlessWindow::mouseUp(double x, double y, int clickCount) {
    auto window = window_.lock();
    if (window && doubleClickZooms(clickCount, bottomLeft(x, y), window->frame().height,
                                   window->titleHeight())) {
        window->zoom();
    }
    _dragging = false;
    ++pressSerial_;
}

void BorderlessWindow::installGestures() {
    auto window = window_.lock();
    GtkWidget* widget = GTK_WIDGET(window->gtkWindow());
    // Gestures seen before the page's own handling (capture phase); they never claim the
    // events, so the page gets every press, drag and release as well.
    GtkGesture* press = gtk_gesture_multi_press_new(widget);
    GtkGesture* drag = gtk_gesture_drag_new(widget);
    for (GtkGesture* gesture : {press, drag}) {
        gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(gesture),
                                                   GTK_PHASE_CAPTURE);
        // The window owns its gestures; they go with it.
        g_object_set_data_full(G_OBJECT(widget), press == gesture ? "orvandel-press" : "orvandel-drag",
                               gesture, g_object_unref);
    }
    auto* weak = new std::weak_ptr<BorderlessWindow>(weak_from_this());
    auto forget = +[](gpointer data, GClosure*) {
        delete static_cast<std::weak_ptr<BorderlessWindow>*>(data);
    };
    g_signal_connect_data(press, "pressed",
                          G_CALLBACK(+[](GtkGestureMultiPress*, gint, gdouble x, gdouble y,
                                         gpointer data) {
                              if (auto self = static_cast<std::weak_ptr<BorderlessWindow>*>(data)->lock())
                                  self->mouseDown(x, y);
                          }),
                          weak, forget, GConnectFlags(0));
    weak = new std::weak_ptr<BorderlessWindow>(weak_from_this());
    g_signal_connect_data(press, "released",
                          G_CALLBACK(+[](GtkGestureMultiPress*, gint clicks, gdouble x, gdouble y,
                                         gpointer data) {
                              if (auto self = static_cast<std::weak_ptr<BorderlessWindow>*>(data)->lock())
                                  self->mouseUp(x, y, clicks);
                          }),
                          weak, forget, GConnectFlags(0));
    weak = new std::weak_ptr<BorderlessWindow>(weak_from_this());
    g_signal_connect_data(drag, "drag-update", G_CALLBACK(&dragUpdated), weak, forget,
                          GConnectFlags(0));
}

namespace {

// Round buttons of the size the window code places them by.
constexpr const char* kTitleButtonStyle =
    "button { min-width: 12px; min-height: 12px; padding: 0; margin: 0; border-radius: 7px;"
    " background-image: none; box-shadow: none; }"
    "button#close { background-color: #ff5f57; }"
    "button#miniaturize { background-color: #febc2e; }"
    "button#zoom:disabled { background-color: #c8c8c8; }";

GtkWidget* titleButton(const char* name, GtkCssProvider* style) {
    GtkWidget* button = gtk_button_new();
    gtk_widget_set_name(button, name);
    gtk_widget_set_focus_on_click(button, FALSE);
    gtk_style_context_add_provider(gtk_widget_get_style_context(button), GTK_STYLE_PROVIDER(style),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return button;
}

void onClick(GtkWidget* button, const std::shared_ptr<gtk::Window>& window,
             void (*action)(gtk::Window&)) {
    struct Target {
        std::weak_ptr<gtk::Window> window;
        void (*action)(gtk::Window&);
    };
    g_signal_connect_data(
        button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            auto* target = static_cast<Target*>(data);
            if (auto window = target->window.lock()) target->action(*window);
        }),
        new Target{window, action},
        +[](gpointer data, GClosure*) { delete static_cast<Target*>(data); }, GConnectFlags(0));
}

}  // namespace

void BorderlessWindow::setupButtons() {
    auto window = window_.lock();
    if (!window) return;
    GtkCssProvider* style = gtk_css_provider_new();
    gtk_css_provider_load_from_data(style, kTitleButtonStyle, -1, nullptr);
    GtkWidget* close = titleButton("close", style);
    GtkWidget* miniaturize = titleButton("miniaturize", style);
    GtkWidget* zoom = titleButton("zoom", style);
    g_object_unref(style);

    int w = 0, h = 0;
    gtk_widget_show(close);  // a hidden widget asks for no room
    gtk_widget_get_preferred_width(close, nullptr, &w);
    gtk_widget_get_preferred_height(close, nullptr, &h);
    // 26 points below the top counts to the buttons' bottom edge.
    const int top = 26 - h;
    GtkWidget* frame = gtk_fixed_new();
    gtk_widget_set_halign(frame, GTK_ALIGN_START);
    gtk_widget_set_valign(frame, GTK_ALIGN_START);
    int x = 6;
    for (GtkWidget* button : {close, miniaturize, zoom}) {
        gtk_widget_set_size_request(button, w, h);
        gtk_fixed_put(GTK_FIXED(frame), button, x, top);
        x += w + 8;
    }
    gtk_widget_set_sensitive(zoom, FALSE);
    onClick(close, window, [](gtk::Window& target) { target.performClose(); });
    onClick(miniaturize, window,
            [](gtk::Window& target) { gtk_window_iconify(target.gtkWindow()); });
    onClick(zoom, window, [](gtk::Window& target) { target.zoom(); });
    gtk_widget_show_all(frame);
    window->addToFrame(frame);
}
