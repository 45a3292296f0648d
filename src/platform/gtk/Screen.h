#pragma once

#include "platform/gtk/Window.h"

namespace gtk {

// The screens of the display.
class Screen {
public:
    // The main (primary) screen's frame, top-left origin; all zeros without a display.
    static Rect mainFrame();
};

}  // namespace gtk
