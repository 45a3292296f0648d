#include <gtest/gtest.h>

#include "EventHandlerHarness.h"
#include "shell/events/WindowEventHandler.h"
#include "shell/windows/WebviewDelegate.h"

#include <webkit2/webkit2.h>

using foundation::Value;
using Frame = WindowEventHandler::Frame;

namespace {

// A window whose frame is x 100, y 200 (from the bottom), 800 by 600, on a screen 1000 high.
TEST(WindowEventHandler, PageRectanglesAndResizing) {
    const Frame frame{100, 200, 800, 600};
    EXPECT_EQ(WindowEventHandler::pageRect(frame, 1000),
              Value::dict({{"x", 100.0}, {"y", 200.0}, {"width", 800.0}, {"height", 600.0}}));
    const struct {
        Value data;
        Frame resized;
    } cases[] = {
        {Value::dict({{"y", 50}}), {100, 350, 800, 600}},  // the top 50 below the screen's top
        {Value::dict({{"height", 700}}), {100, 200, 800, 700}},  // the top edge rises
        {Value::dict({{"height", 700}, {"y", 50}}), {100, 250, 800, 700}},
        {Value::dict({{"width", "900"}, {"x", 5.5}}), {5.5, 200, 800, 600}},
        {Value::dict({{"width", 0}, {"height", -20}}), {100, 200, 1, 1}},  // never below 1
        {Value(), {100, 200, 800, 600}},
    };
    for (const auto& c : cases) {
        const Frame resized = WindowEventHandler::resizedFrame(frame, 1000, c.data);
        EXPECT_EQ(resized.x, c.resized.x);
        EXPECT_EQ(resized.y, c.resized.y);
        EXPECT_EQ(resized.width, c.resized.width);
        EXPECT_EQ(resized.height, c.resized.height);
    }
}

TEST(WindowEventHandler, CommandsWithoutAWindow) {
    WindowEventHandler handler;
    EXPECT_TRUE(handler.requireMainThread());
    EXPECT_EQ(askHandler(handler, "resize", Value::dict({{"width", 5}})),
              Value::dict({{"result", true}}));
    EXPECT_EQ(askHandler(handler, "size")["data"],
              Value::dict({{"x", 0.0}, {"y", 0.0}, {"width", 0.0}, {"height", 0.0}}));
    EXPECT_EQ(askHandler(handler, "Close"),
              Value::dict({{"result", false}, {"error", "unhandled window command"}}));
}

TEST(WebviewDelegate, ContextMenusKeepOnlyCopyCutPasteAndCopyImage) {
    for (int action : {WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_CUT,
                       WEBKIT_CONTEXT_MENU_ACTION_PASTE,
                       WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD})
        EXPECT_TRUE(WebviewDelegate::keepsContextMenuAction(action)) << action;
    for (int action : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
                       WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
                       WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD,
                       WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION})
        EXPECT_FALSE(WebviewDelegate::keepsContextMenuAction(action)) << action;
}

}  // namespace
