#pragma once

#include <cstdint>

#include "foundation/Value.h"

namespace simdevice {

// An RGB PNG of the given size in one colour with a light diagonal band, written here so
// the simulated device needs no image library.
foundation::Data bandedPng(std::uint32_t width, std::uint32_t height, const std::uint8_t colour[3]);

}  // namespace simdevice
