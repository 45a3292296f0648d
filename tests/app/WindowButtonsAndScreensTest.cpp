// The window and screen utilities on a real display.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <vector>

#include "platform/gtk/Screen.h"
#include "shell/windows/BorderlessWindow.h"
#include "support/MainLoop.h"

namespace {

void collectButtons(GtkWidget* widget, gpointer found) {
    if (GTK_IS_BUTTON(widget)) static_cast<std::vector<GtkWidget*>*>(found)->push_back(widget);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collectButtons, found);
}

TEST(WindowButtons, PlacedAtTheTopLeftAndKeptThereWithZoomDisabled) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 400, 300},
                                                gtk::Closable | gtk::Resizable);
    BorderlessWindow::attach(window, nullptr)->setupButtons();
    window->setContent(gtk_label_new("page"));
    window->show();
    std::vector<GtkWidget*> buttons;
    collectButtons(GTK_WIDGET(window->gtkWindow()), &buttons);
    ASSERT_EQ(buttons.size(), 3u);
    ASSERT_TRUE(testsupport::runMainLoopUntil(
        [&] { return gtk_widget_get_allocated_height(buttons[2]) > 1; }));
    const int w = gtk_widget_get_allocated_width(buttons[0]);
    const int h = gtk_widget_get_allocated_height(buttons[0]);
    const struct {
        const char* name;
        int x;
        bool enabled;
    } expected[] = {{"close", 6, true}, {"miniaturize", 6 + w + 8, true},
                    {"zoom", 6 + 2 * w + 16, false}};
    for (int width : {400, 700}) {  // resizing keeps them in place
        window->setFrame({0, 0, width, 300});
        ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
            return gtk_widget_get_allocated_width(GTK_WIDGET(window->gtkWindow())) == width;
        }));
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(expected[i].name);
            int x = 0, y = 0;
            gtk_widget_translate_coordinates(buttons[i], GTK_WIDGET(window->gtkWindow()), 0, 0, &x,
                                             &y);
            EXPECT_STREQ(gtk_widget_get_name(buttons[i]), expected[i].name);
            EXPECT_EQ(x, expected[i].x);
            EXPECT_EQ(y, 26 - h);  // the bottom edge 26 below the top
            EXPECT_EQ(gtk_widget_get_allocated_width(buttons[i]), w);
            EXPECT_EQ(gtk_widget_is_sensitive(buttons[i]), expected[i].enabled);
        }
    }
    EXPECT_GT(w, 1);

    // The buttons are no cover; a cover goes over them and comes off alone.
    EXPECT_FALSE(window->hasCover());
    window->addCover(gtk_label_new("cover"));
    EXPECT_TRUE(window->removeCover());
    EXPECT_FALSE(window->removeCover());

    // Close asks the window first.
    bool allow = false;
    window->shouldClose = [&] { return allow; };
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
    EXPECT_FALSE(window->isClosed());
    allow = true;
    gtk_button_clicked(GTK_BUTTON(buttons[0]));
    EXPECT_TRUE(window->isClosed());
}

TEST(WindowButtons, CenteringAndScreens) {
    auto window = std::make_shared<gtk::Window>(gtk::Rect{0, 0, 320, 200}, gtk::Titled);
    window->show();
    EXPECT_EQ(window->titleBarHeight(), 0.0f) << "no window manager draws a title bar here";
    window->centerToScreen();
    const gtk::Rect main = gtk::Screen::mainFrame();
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] {
        int x = 0, y = 0;
        gtk_window_get_position(window->gtkWindow(), &x, &y);
        return x == main.x + (main.width - 320) / 2 && y == main.y + (main.height - 200) / 2;
    }));
    // One screen at the origin: the whole rectangle is that screen.
    const gtk::Rect full = gtk::Screen::fullScreenRect();
    EXPECT_EQ(std::vector<int>({full.x, full.y, full.width, full.height}),
              std::vector<int>({0, 0, main.x + main.width, main.y + main.height}));
    EXPECT_EQ(gtk::Window::instance(), gtk::Window::instance());
    for (int display : {-1, 99}) EXPECT_FALSE(gtk::Screen::screenNameForDisplay(display));
}

}  // namespace
