// Loading a 30 MB resource pack (decipher, signature check, inflate, index) beside
// `gzip -dc` of the same compressed body, each with the peak memory it needed: ours the
// rise of the process's peak resident size over what it held before loading, gzip's its
// own peak resident size (from /usr/bin/time).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BaselineReport.h"
#include "PeakMemory.h"
#include "content/ResourcePack.h"
#include "content/StaticFileResponse.h"
#include "foundation/AtomicFile.h"
#include "pack/ResourcePackWriter.h"

namespace {

struct Fixture {
    foundation::Data pack;
    std::string bodyPath;
    std::uint64_t inflatedSize = 0;

    Fixture() {
        // Script text with random identifiers: about 30 MB once compressed, like a large
        // application with its images.
        std::vector<packtool::PackFile> files;
        std::uint64_t seed = 88172645463325252ull;
        static constexpr char kAlphabet[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+/";
        for (int f = 0; f < 480; ++f) {
            std::string text;
            while (text.size() < 100'000) {
                text += "var x = \"";
                for (int i = 0; i < 60; ++i) {
                    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
                    text += kAlphabet[seed % 64];
                }
                text += "\";\n";
            }
            files.push_back({"js/file" + std::to_string(f) + ".js",
                             foundation::Data(text.begin(), text.end())});
        }
        auto key = foundation::readFile(ORVANDEL_PACK_PRIVATE_KEY);
        if (!key) {
            std::fprintf(stderr, "no pack key at %s\n", ORVANDEL_PACK_PRIVATE_KEY);
            std::exit(1);
        }
        pack = packtool::writeResourcePack(files, std::string(content::ResourcePack::kPassword),
                                           std::string(key->begin(), key->end()));
        auto layout = content::ResourcePack::parse(pack, content::ResourcePack::kPassword);
        for (const auto& record : layout->records) inflatedSize += record.size;
        bodyPath = (std::filesystem::temp_directory_path() / "orvandel-bench-body.gz").string();
        foundation::writeFileAtomically(bodyPath, layout->body);
    }
    ~Fixture() { std::filesystem::remove(bodyPath); }
};

using bench::resetPeak;
using bench::statusKiB;

constexpr double kMiB = 1024.0 * 1024.0;

Fixture& fixture() {
    static Fixture shared;
    return shared;
}

void BM_LoadPack(benchmark::State& state) {
    auto& f = fixture();
    double peakRise = 0;
    for (auto _ : state) {
        state.PauseTiming();
        resetPeak();
        const double before = statusKiB("VmRSS");
        state.ResumeTiming();
        if (!content::StaticFileResponse::initializeWithData(f.pack,
                                                             content::ResourcePack::kPassword)) {
            state.SkipWithError("the pack did not load");
            return;
        }
        state.PauseTiming();
        peakRise = std::max(peakRise, statusKiB("VmHWM") - before);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.pack.size()));
    state.counters["peak_MiB"] = peakRise * 1024 / kMiB;
    state.counters["inflated_MiB"] = double(f.inflatedSize) / kMiB;
}
BENCHMARK(BM_LoadPack)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GzipDc(benchmark::State& state) {
    const std::string command = "gzip -dc '" + fixture().bodyPath + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("gzip -dc failed");
            return;
        }
    }
    // Once more, untimed, for gzip's own peak.
    state.counters["peak_MiB"] = bench::commandPeakMiB(command, fixture().bodyPath + ".peak");
}
BENCHMARK(BM_GzipDc)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(argc, argv, {{"BM_LoadPack/real_time", "BM_GzipDc/real_time"}});
}
