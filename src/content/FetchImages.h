#pragma once

#include <optional>
#include <string>

#include "content/NSImage.h"
#include "foundation/Value.h"

namespace content {

// PNG bytes of the image fitted into a square of `size` pixels (aspect kept; 0 keeps the
// image's own size); nullopt without an image or when encoding fails.
std::optional<foundation::Data> pngDataOfImage(const NSImage::Image& image, int size);

// The icon of a device model, from the product code ("iPhone12,1") or the model text: a
// themed icon of the kind of device; empty when neither names a known kind.
NSImage::Image deviceModelIcon(const std::string& product, const std::string& model, int size);

}  // namespace content
