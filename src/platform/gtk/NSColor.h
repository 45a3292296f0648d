#pragma once

#include <gdk/gdk.h>

// Colours as the window code gives them.
namespace NSColor {

// A colour from four channels of 0 to 255 each.
GdkRGBA colorWithRedGreenBlueAlpha(int red, int green, int blue, int alpha);

}  // namespace NSColor
