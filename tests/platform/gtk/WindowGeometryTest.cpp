#include <gtest/gtest.h>

#include <vector>

#include "platform/gtk/NSColor.h"
#include "platform/gtk/Screen.h"
#include "platform/gtk/Window.h"

namespace {

void expectRect(const gtk::Rect& actual, const gtk::Rect& expected) {
    EXPECT_EQ(actual.x, expected.x);
    EXPECT_EQ(actual.y, expected.y);
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
}

TEST(WindowGeometry, CenteredOnTheScreen) {
    const struct {
        gtk::Rect frame, screen, centered;
    } cases[] = {
        {{5, 7, 400, 300}, {0, 0, 1280, 1024}, {440, 362, 400, 300}},
        {{0, 0, 401, 301}, {0, 0, 1280, 1024}, {440, 361, 401, 301}},  // halves round
        {{0, 0, 400, 300}, {1920, 100, 1280, 1024}, {2360, 462, 400, 300}},
        {{0, 0, 2000, 1200}, {0, 0, 1280, 1024}, {-360, -88, 2000, 1200}},  // larger: overhangs
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame.width);
        expectRect(gtk::Window::centeredFrame(c.frame, c.screen), c.centered);
    }
}

TEST(WindowGeometry, FullScreenRectHoldsTheOriginAndEveryScreen) {
    const gtk::Rect main{0, 0, 1280, 1024};
    const struct {
        const char* name;
        std::vector<gtk::Rect> screens;
        bool separateSpaces;
        gtk::Rect full;
    } cases[] = {
        {"none", {}, false, {0, 0, 0, 0}},
        {"one", {main}, false, main},
        {"side by side", {main, {1280, 0, 1920, 1080}}, false, {0, 0, 3200, 1080}},
        {"left and above", {main, {-800, -600, 800, 600}}, false, {-800, -600, 2080, 1624}},
        {"away from the origin", {{100, 50, 640, 480}}, false, {0, 0, 740, 530}},
        {"separate spaces", {main, {1280, 0, 1920, 1080}}, true, main},
        {"separate spaces, one screen", {{1280, 0, 1920, 1080}}, true, {0, 0, 3200, 1080}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRect(gtk::Screen::fullScreenRectOf(c.screens, c.separateSpaces, main), c.full);
    }
}

TEST(WindowGeometry, ColoursFromByteChannels) {
    const struct {
        int red, green, blue, alpha;
        GdkRGBA colour;
    } cases[] = {
        {0, 0, 0, 0, {0, 0, 0, 0}},
        {255, 255, 255, 255, {1, 1, 1, 1}},
        {255, 51, 0, 102, {1, 0.2, 0, 0.4}},
    };
    for (const auto& c : cases) {
        const GdkRGBA colour = NSColor::colorWithRedGreenBlueAlpha(c.red, c.green, c.blue, c.alpha);
        EXPECT_DOUBLE_EQ(colour.red, c.colour.red);
        EXPECT_DOUBLE_EQ(colour.green, c.colour.green);
        EXPECT_DOUBLE_EQ(colour.blue, c.colour.blue);
        EXPECT_DOUBLE_EQ(colour.alpha, c.colour.alpha);
    }
}

}  // namespace
