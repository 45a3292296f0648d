#include <gtest/gtest.h>

#include "EventHandlerHarness.h"
#include "shell/events/PasteboardEventHandler.h"

using foundation::Value;

namespace {

// What is refused before the clipboard is touched (the clipboard itself is tested under a
// display, against another program).
TEST(PasteboardEventHandler, RefusesBadRequestsWithTheirTexts) {
    PasteboardEventHandler handler;
    const struct {
        const char* cmd;
        Value data;
        const char* error;
    } cases[] = {
        {"write", Value::dict({{"type", "text"}}), "missing value field"},
        {"write", Value(), "missing value field"},
        {"write", Value::dict({{"type", "html"}, {"value", "<b>"}}), "not implement yet"},
        {"write", Value::dict({{"value", "x"}}), "not implement yet"},
        {"write", Value::dict({{"type", "text"}, {"value", 5}}), "value is not text"},
        {"Read", Value(), "unhandled pasteboard command"},
        {"paste", Value(), "unhandled pasteboard command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmd);
        EXPECT_EQ(askHandler(handler, c.cmd, c.data),
                  Value::dict({{"result", false}, {"error", c.error}}));
    }
}

}  // namespace
