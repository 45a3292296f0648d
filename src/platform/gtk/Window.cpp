#include "platform/gtk/Window.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/gtk/Screen.h"

namespace gtk {

namespace {
constexpr const char* kFrameWidgetKey = "orvandel-frame-widget";

bool isFrameWidget(gpointer widget) {
    return g_object_get_data(G_OBJECT(widget), kFrameWidgetKey) != nullptr;
}
}  // namespace

Window::Window(Rect content, std::uint64_t styleMask)
    : window_(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))),
      overlay_(gtk_overlay_new()),
      styleMask_(styleMask),
      borderless_((styleMask & Titled) == 0) {
    g_object_ref_sink(window_);
    g_object_set_data(G_OBJECT(window_), "orvandel-window", this);
    // A window without a title bar keeps the titled bit, so that it can still become key,
    // and its content covers the whole frame.
    if (borderless_) styleMask_ |= Titled | FullSizeContentView;
    gtk_window_set_default_size(window_, content.width, content.height);
    if (content.x || content.y) gtk_window_move(window_, content.x, content.y);
    gtk_window_set_decorated(window_, !borderless_);
    gtk_window_set_resizable(window_, (styleMask_ & Resizable) != 0);
    gtk_window_set_deletable(window_, (styleMask_ & Closable) != 0);
    gtk_container_add(GTK_CONTAINER(window_), overlay_);
    gtk_widget_show(overlay_);

    g_signal_connect(window_, "configure-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                         static_cast<Window*>(data)->requestedFrame_.reset();
                         return FALSE;
                     }),
                     this);
    g_signal_connect(window_, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                         auto* self = static_cast<Window*>(data);
                         const bool mayClose = !self->shouldClose || self->shouldClose();
                         if (!mayClose) return TRUE;
                         self->close();
                         return TRUE;
                     }),
                     this);
}

Window::~Window() {
    close();
    g_signal_handlers_disconnect_by_data(window_, this);
    g_object_set_data(G_OBJECT(window_), "orvandel-window", nullptr);
    gtk_widget_destroy(GTK_WIDGET(window_));
    g_object_unref(window_);
}

void Window::setContent(GtkWidget* content) {
    if (GtkWidget* old = gtk_bin_get_child(GTK_BIN(overlay_))) {
        gtk_container_remove(GTK_CONTAINER(overlay_), old);
    }
    gtk_container_add(GTK_CONTAINER(overlay_), content);
    gtk_widget_show(content);
}

void Window::setMenuBar(GtkWidget* menuBar) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_ref(overlay_);
    gtk_container_remove(GTK_CONTAINER(window_), overlay_);
    gtk_box_pack_start(GTK_BOX(box), menuBar, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), overlay_, TRUE, TRUE, 0);
    g_object_unref(overlay_);
    gtk_container_add(GTK_CONTAINER(window_), box);
    gtk_widget_show_all(menuBar);
    gtk_widget_show(box);
}

void Window::addCover(GtkWidget* cover) {
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), cover);
    gtk_widget_show(cover);
}

bool Window::removeCover() {
    GtkWidget* main = gtk_bin_get_child(GTK_BIN(overlay_));
    GList* children = gtk_container_get_children(GTK_CONTAINER(overlay_));
    GtkWidget* cover = nullptr;
    for (GList* it = children; it; it = it->next) {
        if (it->data != main && !isFrameWidget(it->data)) cover = GTK_WIDGET(it->data);
    }
    g_list_free(children);
    if (!cover) return false;
    gtk_container_remove(GTK_CONTAINER(overlay_), cover);
    return true;
}

bool Window::hasCover() const {
    GtkWidget* main = gtk_bin_get_child(GTK_BIN(overlay_));
    GList* children = gtk_container_get_children(GTK_CONTAINER(overlay_));
    bool covered = false;
    for (GList* it = children; it; it = it->next) {
        covered = covered || (it->data != main && !isFrameWidget(it->data));
    }
    g_list_free(children);
    return covered;
}

void Window::addToFrame(GtkWidget* widget) {
    g_object_set_data(G_OBJECT(widget), kFrameWidgetKey, GINT_TO_POINTER(1));
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), widget);
    gtk_widget_show(widget);
}

void Window::setTitle(const std::string& title) {
    gtk_window_set_title(window_, title.c_str());
}

std::string Window::title() const {
    const char* title = gtk_window_get_title(window_);
    return title ? title : "";
}

void Window::setStyleMask(std::uint64_t mask) {
    styleMask_ = mask;
    gtk_window_set_deletable(window_, (mask & Closable) != 0);
    gtk_window_set_resizable(window_, (mask & Resizable) != 0);
}

Rect Window::frame() const {
    if (requestedFrame_) return *requestedFrame_;
    Rect frame;
    gtk_window_get_position(window_, &frame.x, &frame.y);
    gtk_window_get_size(window_, &frame.width, &frame.height);
    return frame;
}

void Window::setFrame(Rect frame) {
    frame.width = frame.width > 0 ? frame.width : 1;
    frame.height = frame.height > 0 ? frame.height : 1;
    gtk_window_move(window_, frame.x, frame.y);
    gtk_window_resize(window_, frame.width, frame.height);
    // Until the window is shown, or the window system answers, GTK still tells the old one.
    if (gtk_widget_get_visible(GTK_WIDGET(window_))) requestedFrame_ = frame;
}

std::shared_ptr<Window> Window::instance() {
    static std::mutex classLock;
    static auto* const shared = new std::shared_ptr<Window>();
    std::lock_guard lock(classLock);
    if (!*shared) *shared = std::make_shared<Window>(Rect{}, 0);
    return *shared;
}

Window* Window::fromGtkWindow(GtkWindow* window) {
    return window ? static_cast<Window*>(g_object_get_data(G_OBJECT(window), "orvandel-window"))
                  : nullptr;
}

void Window::setLevel(int level) {
    if (levelLocked_) return;
    level_ = level;
    gtk_window_set_keep_above(window_, level > 0);
}

Rect Window::centeredFrame(Rect frame, Rect screen) {
    // The top edge is placed counting up from the screen's bottom, so its rounding follows
    // that count; it is turned into top-left coordinates below.
    const float left = static_cast<float>((screen.width - frame.width) / 2.0);
    const float top =
        static_cast<float>((screen.height - frame.height) / 2.0) + static_cast<float>(frame.height);
    return {screen.x + static_cast<int>(std::lround(left)),
            screen.y + screen.height - static_cast<int>(std::lround(top)), frame.width,
            frame.height};
}

void Window::centerToScreen() {
    setFrame(centeredFrame(frame(), Screen::mainFrame()));
}

float Window::titleBarHeight() const {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
    if (!gdk || !gtk_widget_get_visible(GTK_WIDGET(window_))) return 0;
    GdkRectangle extents;
    gdk_window_get_frame_extents(gdk, &extents);
    return static_cast<float>(std::max(0, extents.height - gdk_window_get_height(gdk)));
}

void Window::zoom() {
    if (zoomedFrom_) {
        const Rect before = *zoomedFrom_;
        zoomedFrom_.reset();
        setFrame(before);
        return;
    }
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window_));
    GdkMonitor* monitor = gdk ? gdk_display_get_monitor_at_window(display, gdk)
                              : gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (!monitor) return;
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    zoomedFrom_ = frame();
    setFrame({area.x, area.y, area.width, area.height});
}

void Window::show() {
    if (!closed_) gtk_widget_show(GTK_WIDGET(window_));
}

void Window::present() {
    if (!closed_) gtk_window_present(window_);
}

void Window::performClose() {
    if (closed_) return;
    if (shouldClose && !shouldClose()) return;
    close();
}

void Window::close() {
    if (closed_) return;
    closed_ = true;
    if (willClose) {
        auto told = std::move(willClose);
        willClose = nullptr;
        told();
    }
    gtk_widget_hide(GTK_WIDGET(window_));
}

bool Window::isVisible() const {
    return gtk_widget_get_visible(GTK_WIDGET(window_));
}

}  // namespace gtk
