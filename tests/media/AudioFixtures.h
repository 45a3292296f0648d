#pragma once

#include <cstring>
#include <string>
#include <vector>

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

// A mono tone whose pitch rises steadily (so that no stretch of it looks like another), 44.1
// kHz, at `path` in the format the extension names; `options` go before the file name.
inline bool makeChirp(const std::string& path, double seconds, const std::string& options = "") {
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i 'aevalsrc=sin(2*PI*(100*t+50*t*t)):s=44100:d=" +
        std::to_string(seconds) + "' " + options + " " + quoted(path) + " && echo made";
    return testsupport::commandOutput(command) == "made\n";
}

// The audio of `path` as ffmpeg decodes it, mono 44.1 kHz floats; with `end` > 0 only from
// `start` to `end` seconds, counted from the audio's first timestamp, cut by ffmpeg itself.
inline std::vector<float> decodedSamples(const std::string& path, double start = 0,
                                         double end = 0) {
    std::string range;
    if (end > 0) range = " -ss " + std::to_string(start) + " -to " + std::to_string(end);
    const auto output = testsupport::commandOutput("ffmpeg -nostdin -v error -i " + quoted(path) +
                                                   range + " -ac 1 -ar 44100 -f f32le -");
    std::vector<float> samples(output ? output->size() / sizeof(float) : 0);
    if (output) std::memcpy(samples.data(), output->data(), samples.size() * sizeof(float));
    return samples;
}

// How many samples `cut` lies after `reference` (negative: before), searched within `reach`
// samples by the best match of their first half second.
inline int offsetBetween(const std::vector<float>& cut, const std::vector<float>& reference,
                         int reach) {
    const std::size_t window = 22050;
    int best = 0;
    double bestScore = -1e300;
    for (int lag = -reach; lag <= reach; ++lag) {
        double score = 0;
        for (std::size_t i = 0; i < window; ++i) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || j >= static_cast<long>(reference.size()) || i >= cut.size()) continue;
            score += double(cut[i]) * reference[static_cast<std::size_t>(j)];
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return -best;
}

inline double probedDuration(const foundation::Value& probed) {
    const std::string* text = probed["format"]["duration"].string();
    return text ? std::stod(*text) : -1;
}

}  // namespace audiotest
