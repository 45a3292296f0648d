// The window and screen utilities on a real display: the borderless window's own buttons,
// centring, and what the screens say of themselves.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/Screen.h"
#include "platform/gtk/Window.h"
#include "shell/windows/BorderlessWindow.h"
#include "support/MainLoop.h"

namespace {

void collectButtons(GtkWidget* widget, std::vector<GtkWidget*>* found) {
    if (GTK_IS_BUTTON(widget)) found->push_back(widget);
    if (!GTK_IS_CONTAINER(widget)) return;
    gtk_container_forall(
        GTK_CONTAINER(widget),
        [](GtkWidget* child, gpointer data) {
            collectButtons(child, static_cast<std::vector<GtkWidget*>*>(data));
        },
        found);
}

std::vector<GtkWidget*> buttonsOf(gtk::Window& window) {
    std::vector<GtkWidget*> found;
    collectButtons(GTK_WIDGET(window.gtkWindow()), &found);
    return found;
}

GdkRectangle placeIn(gtk::Window& window, GtkWidget* widget) {
    GdkRectangle place{};
    gtk_widget_translate_coordinates(widget, GTK_WIDGET(window.gtkWindow()), 0, 0, &place.x,
                                     &place.y);
    place.width = gtk_widget_get_allocated_width(widget);
    place.height = gtk_widget_get_allocated_height(widget);
    return place;
}

TEST(WindowButtons, PlacedAtTheTopLeftAndKeptThereWithZoomDisabled) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 400, 300},
                                                gtk::Closable | gtk::Resizable);
    auto borderless = BorderlessWindow::attach(window, nullptr);
    borderless->setupButtons();
    window->setContent(gtk_label_new("page"));
    window->show();
    auto buttons = buttonsOf(*window);
    ASSERT_EQ(buttons.size(), 3u);
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return gtk_widget_get_allocated_height(buttons[2]) > 1; }));

    const GdkRectangle first = placeIn(*window, buttons[0]);
    const int w = first.width, h = first.height;
    EXPECT_GT(w, 1);
    EXPECT_LE(h, 26);
    const struct {
        const char* name;
        int x;
        bool enabled;
    } expected[] = {{"close", 6, true}, {"miniaturize", 6 + w + 8, true},
                    {"zoom", 6 + 2 * w + 16, false}};
    auto check = [&] {
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(expected[i].name);
            EXPECT_STREQ(gtk_widget_get_name(buttons[i]), expected[i].name);
            const GdkRectangle place = placeIn(*window, buttons[i]);
            EXPECT_EQ(place.x, expected[i].x);
            EXPECT_EQ(place.y, 26 - h);  // bottom edge 26 below the top
            EXPECT_EQ(place.width, w);
            EXPECT_EQ(place.height, h);
            EXPECT_EQ(gtk_widget_is_sensitive(buttons[i]), expected[i].enabled);
        }
    };
    check();
    window->setFrame({0, 0, 700, 500});
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return gtk_widget_get_allocated_width(GTK_WIDGET(window->gtkWindow())) == 700; }));
    check();

    // With ORVANDEL_SCREENSHOTS naming a folder, the window's top goes there for a person to see.
    if (const char* folder = std::getenv("ORVANDEL_SCREENSHOTS")) {
        bool drawn = false;
        g_signal_connect(window->gtkWindow(), "draw",
                         G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer flag) -> gboolean {
                             *static_cast<bool*>(flag) = true;
                             return FALSE;
                         }),
                         &drawn);
        gtk_widget_queue_draw(GTK_WIDGET(window->gtkWindow()));
        testsupport::runMainLoopUntil([&] { return drawn; });
        g_signal_handlers_disconnect_by_data(window->gtkWindow(), &drawn);
        GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window->gtkWindow()));
        if (GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk, 0, 0, 120, 40)) {
            gdk_pixbuf_save(shot, (std::string(folder) + "/window-buttons.png").c_str(), "png",
                            nullptr, nullptr);
            g_object_unref(shot);
        }
    }

    // The buttons are no cover; a cover goes over them and comes off alone.
    EXPECT_FALSE(window->hasCover());
    EXPECT_FALSE(window->removeCover());
    window->addCover(gtk_label_new("cover"));
    EXPECT_TRUE(window->hasCover());
    EXPECT_TRUE(window->removeCover());
    EXPECT_FALSE(window->hasCover());
    EXPECT_EQ(buttonsOf(*window).size(), 3u);

    // Close asks the window first.
    bool allow = false;
    int asked = 0;
    window->shouldClose = [&] {
        ++asked;
        return allow;
    };
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(window->isClosed());
    allow = true;
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
    EXPECT_TRUE(window->isClosed());
}

TEST(WindowButtons, CenteringAndScreens) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 320, 200},
                                                gtk::Titled | gtk::Closable);
    window->show();
    EXPECT_EQ(window->titleBarHeight(), 0.0f) << "no window manager draws a title bar here";
    window->centerToScreen();
    const gtk::Rect main = gtk::Screen::mainFrame();
    ASSERT_GT(main.width, 320);
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        int x = 0, y = 0;
        gtk_window_get_position(window->gtkWindow(), &x, &y);
        return x == main.x + (main.width - 320) / 2 && y == main.y + (main.height - 200) / 2;
    }));

    // One virtual screen at the origin: the whole rectangle is that screen.
    const gtk::Rect full = gtk::Screen::fullScreenRect();
    EXPECT_EQ(full.x, 0);
    EXPECT_EQ(full.y, 0);
    EXPECT_EQ(full.width, main.x + main.width);
    EXPECT_EQ(full.height, main.y + main.height);

    EXPECT_EQ(gtk::Window::instance(), gtk::Window::instance());
    EXPECT_TRUE(gtk::Window::instance()->isBorderless());

    for (int display : {-1, 99}) EXPECT_FALSE(gtk::Screen::screenNameForDisplay(display));
    const auto name = gtk::Screen::screenNameForDisplay(0);
    EXPECT_TRUE(!name || !name->empty());
}

}  // namespace
