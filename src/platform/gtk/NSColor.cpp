#include "platform/gtk/NSColor.h"

namespace NSColor {

GdkRGBA colorWithRedGreenBlueAlpha(int red, int green, int blue, int alpha) {
    return {red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0};
}

}  // namespace NSColor
