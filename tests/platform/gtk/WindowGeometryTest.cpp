#include <gtest/gtest.h>

#include <vector>

#include "platform/gtk/NSColor.h"
#include "platform/gtk/Screen.h"

namespace {

std::vector<int> parts(const gtk::Rect& r) {
    return {r.x, r.y, r.width, r.height};
}

TEST(WindowGeometry, CenteredOnTheScreen) {
    const struct {
        gtk::Rect frame, screen, centered;
    } cases[] = {
        {{5, 7, 400, 300}, {0, 0, 1280, 1024}, {440, 362, 400, 300}},
        {{0, 0, 401, 301}, {0, 0, 1280, 1024}, {440, 361, 401, 301}},  // halves round
        {{0, 0, 400, 300}, {1920, 100, 1280, 1024}, {2360, 462, 400, 300}},
        {{0, 0, 2000, 1200}, {0, 0, 1280, 1024}, {-360, -88, 2000, 1200}},  // overhangs
    };
    for (const auto& c : cases)
        EXPECT_EQ(parts(gtk::Window::centeredFrame(c.frame, c.screen)), parts(c.centered));
}

TEST(WindowGeometry, FullScreenRectHoldsTheOriginAndEveryScreen) {
    const gtk::Rect main{0, 0, 1280, 1024}, right{1280, 0, 1920, 1080};
    const struct {
        std::vector<gtk::Rect> screens;
        bool separateSpaces;
        gtk::Rect full;
    } cases[] = {
        {{}, false, {0, 0, 0, 0}},
        {{main, right}, false, {0, 0, 3200, 1080}},
        {{main, {-800, -600, 800, 600}}, false, {-800, -600, 2080, 1624}},
        {{{100, 50, 640, 480}}, false, {0, 0, 740, 530}},  // the origin counts too
        {{main, right}, true, main},
        {{right}, true, {0, 0, 3200, 1080}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parts(gtk::Screen::fullScreenRectOf(c.screens, c.separateSpaces, main)),
                  parts(c.full));
}

TEST(WindowGeometry, ColoursFromByteChannels) {
    const GdkRGBA colour = NSColor::colorWithRedGreenBlueAlpha(255, 51, 0, 102);
    EXPECT_EQ(std::vector<double>({colour.red, colour.green, colour.blue, colour.alpha}),
              std::vector<double>({1, 0.2, 0, 0.4}));
}

}  // namespace
