// Cutting a ringtone: the converter cuts 150 seconds out of a 3-minute AAC file and encodes
// them as AAC in an M4A file, beside the ffmpeg command line doing the same cut and encode
// (same encoder, same bit rate, same container) in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaselineReport.h"
#include "media/AudioConverter.h"

namespace {

const std::string& folder() {
    static const std::string path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-audio-XXXXXX").string();
        return std::string(mkdtemp(pattern.data()) ? pattern : "/tmp");
    }();
    return path;
}

// The 3-minute stereo source, made once by the ffmpeg command.
const std::string& source() {
    static const std::string path = [] {
        const std::string made = folder() + "/source.m4a";
        const std::string command =
            "ffmpeg -nostdin -v error -y -f lavfi -i "
            "sine=frequency=440:sample_rate=44100:duration=180 -ac 2 -c:a aac "
            "-b:a 128k -metadata title=Source '" +
            made + "'";
        return std::system(command.c_str()) == 0 ? made : std::string();
    }();
    return path;
}

void BM_AudioConverterCut(benchmark::State& state) {
    if (source().empty()) return state.SkipWithError("no ffmpeg command to make the source");
    const std::string out = folder() + "/ours.m4r";
    for (auto _ : state) {
        if (!media::AudioConverter::convertToM4RStartEndWithTitleError(source(), out, 30, 0, "Cut",
                                                                       nullptr))
            return state.SkipWithError("the export failed");
    }
}
BENCHMARK(BM_AudioConverterCut)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_FfmpegCommandCut(benchmark::State& state) {
    if (source().empty()) return state.SkipWithError("no ffmpeg command to make the source");
    const std::string command = "ffmpeg -nostdin -v error -y -ss 30 -i '" + source() +
                                "' -vn -c:a aac -b:a 128k -metadata title=Cut -f ipod '" +
                                folder() + "/ffmpeg.m4r'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            return state.SkipWithError("the ffmpeg command failed");
    }
}
BENCHMARK(BM_FfmpegCommandCut)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int status = bench::runWithBaselines(argc, argv,
                                               {{"BM_AudioConverterCut/iterations:3/real_time",
                                                 "BM_FfmpegCommandCut/iterations:3/real_time"}});
    std::filesystem::remove_all(folder());
    return status;
}
