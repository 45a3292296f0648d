#include <gtest/gtest.h>

#include "shell/windows/BorderlessWindow.h"

namespace {

using Press = BorderlessWindow::Press;

// A window 800 wide and 600 high, points measured from its bottom left.
TEST(BorderlessWindow, PressesDragsAndDoubleClicks) {
    const struct {
        double x, y;
        unsigned titleHeight;
        Press press;
        bool dragMoves;
    } cases[] = {
        {100, 590, 40, Press::AskPage, false},  // in the title area: unless on a resizer
        {100, 580, 40, Press::AskPage, true},
        {100, 597, 40, Press::Ignore, false},  // the top edge band
        {100, 500, 40, Press::Stay, false},    // below the title area: only logged
        {3, 590, 40, Press::Ignore, false},    // the left edge band
        {798, 590, 40, Press::Ignore, false},  // the right edge band
        {100, 592, 40, Press::AskPage, false}, // within 10 points of the top: no move
        {8, 580, 40, Press::AskPage, false},   // within 10 points of the left: no move
        {100, 500, 0, Press::Drag, true},      // no title area: any press drags
        {100, 2, 0, Press::Drag, true},        // there is no band at the bottom
        {100, 598, 0, Press::Ignore, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " title " << c.titleHeight);
        EXPECT_EQ(BorderlessWindow::pressDecision({c.x, c.y}, 800, 600, c.titleHeight), c.press);
        EXPECT_EQ(BorderlessWindow::dragMoves({c.x, c.y}, 800, 600, c.titleHeight), c.dragMoves);
    }
    EXPECT_TRUE(BorderlessWindow::doubleClickZooms(2, {100, 590}, 600, 40));
    EXPECT_TRUE(BorderlessWindow::doubleClickZooms(3, {100, 570}, 600, 40));
    EXPECT_FALSE(BorderlessWindow::doubleClickZooms(1, {100, 590}, 600, 40));
    EXPECT_FALSE(BorderlessWindow::doubleClickZooms(2, {100, 500}, 600, 40));
    EXPECT_FALSE(BorderlessWindow::doubleClickZooms(2, {100, 590}, 600, 0));
}

TEST(BorderlessWindow, DraggingNeverLiftsTheTopAboveTheScreen) {
    const gtk::Rect frame{200, 300, 800, 600};
    // Pressed 50 right and 20 down from the window's corner (top-left origin).
    const struct {
        double rootX, rootY;
        int x, y;
    } cases[] = {
        {400, 320, 350, 300},  // sideways
        {260, 900, 210, 880},  // downwards: not limited
        {260, 25, 210, 5},
        {260, 5, 210, 0},  // upwards past the top: stops there
        {260, -40, 210, 0},
    };
    for (const auto& c : cases) {
        const auto moved = BorderlessWindow::draggedFrame(frame, c.rootX, c.rootY, 50, 20, 0);
        EXPECT_EQ(moved.x, c.x);
        EXPECT_EQ(moved.y, c.y);
        EXPECT_EQ(moved.width, 800);
        EXPECT_EQ(moved.height, 600);
    }
}

}  // namespace
