#pragma once

#include <string>

#include "foundation/Json.h"
#include "foundation/Value.h"
#include "support/CommandOutput.h"

// Audio made and read by the ffmpeg and ffprobe command-line tools, independent of the
// converter under test.
namespace audiotest {

inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A stereo sine tone of `seconds` at `path`, in the format the extension names, with the
// given "-metadata key=value" arguments. True when ffmpeg made it.
inline bool makeTone(const std::string& path, double seconds, const std::string& metadata = "") {
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
        std::to_string(seconds) + " -ac 2 " + metadata + " " + quoted(path) + " && echo made";
    return testsupport::commandOutput(command) == "made\n";
}

// ffprobe's view: {"format": {"format_name", "duration", "tags"}, "streams": [{"codec_name",
// ...}]}.
inline foundation::Value probe(const std::string& path) {
    const auto output = testsupport::commandOutput(
        "ffprobe -v error -show_entries format=format_name,duration:format_tags:"
        "stream=codec_name,codec_type -of json " +
        quoted(path));
    return foundation::json::read(output.value_or("")).value_or(foundation::Value());
}

inline double probedDuration(const foundation::Value& probed) {
    const std::string* text = probed["format"]["duration"].string();
    return text ? std::stod(*text) : -1;
}

}  // namespace audiotest
