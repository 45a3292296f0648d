#pragma once

#include <string>

#include "platform/audio/AudioSource.h"

namespace audio {

// Encodes the audio of a source as AAC (FFmpeg's own encoder) into an M4A file (the
// "ipod" muxer), whole or a time range of it, with the metadata given.
class M4AExporter {
public:
    struct Range {
        double start = 0;  // seconds
        double end = 0;    // seconds; 0 runs to the end of the source
    };

    // Writes `path` (made or replaced; callers write to a scratch name and rename it).
    // False with FFmpeg's reason; what was written is then of no use.
    static bool write(AudioSource& source, const std::string& path, Range range,
                      const AudioSource::Metadata& metadata, std::string* error);
};

}  // namespace audio
