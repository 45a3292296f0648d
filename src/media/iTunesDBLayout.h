#pragma once

#include <cstddef>

// Fixed leading parts of the binary iPod database's records, in bytes: the reader takes its
// fields from these and steps over the rest of each header by its header length.
namespace media::itunesdb {

inline constexpr std::size_t kDatabaseFixed = 24;      // "mhbd"
inline constexpr std::size_t kSetFixed = 16;           // "mhsd"
inline constexpr std::size_t kListFixed = 12;          // "mhlt", "mhlp"
inline constexpr std::size_t kTrackFixed = 212;        // track record
inline constexpr std::size_t kObjectFixed = 16;        // "mhod"
inline constexpr std::size_t kStringObjectFixed = 40;  // string "mhod" up to its text
inline constexpr std::size_t kPlaylistFixed = 24;      // playlist record
inline constexpr std::size_t kItemFixed = 28;          // playlist item record

}  // namespace media::itunesdb
