#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/Window.h"

namespace gtk {

// The screens of the display.
class Screen {
public:
    // The main (primary) screen's frame, top-left origin; all zeros without a display.
    static Rect mainFrame();

    // The smallest rectangle that holds the origin and every screen, for a window meant to
    // cover them all; each screen is written to the log first.
    static Rect fullScreenRect();
    // The same over given screens. Where each screen keeps its own workspaces a window cannot
    // span them, and with two or more screens the answer is the main screen alone.
    static Rect fullScreenRectOf(const std::vector<Rect>& screens, bool separateSpaces,
                                 Rect mainScreen);
    // The product name of a display (the monitor's number), none when it has none.
    static std::optional<std::string> screenNameForDisplay(int display);
};

}  // namespace gtk
