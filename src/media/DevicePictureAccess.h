#pragma once

#include <memory>

#include "media/ArtworkImage.h"
#include "media/MediaDevice.h"

namespace media {

// How the picture code reaches a device's files: ranges of image files as the databases
// point into them, and whole files no larger than any picture can be.
ArtworkImage::Device devicePictureAccess(std::shared_ptr<MediaDevice> device, bool iOS7);

}  // namespace media
