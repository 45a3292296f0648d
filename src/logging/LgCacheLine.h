#pragma once

#include <cstddef>

// The size of a cache line on the machines we run on. Data that the threads logging write
// for every record and data the logging queue reads while they do stand on lines of their
// own: a line written on one core and read on another moves between them at each access.
inline constexpr std::size_t kLgCacheLine = 64;
