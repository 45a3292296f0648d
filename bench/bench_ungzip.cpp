// gzip inflating (ZipHelper::ungzip, which does not know the inflated size in advance)
// beside zlib's own uncompress() of the same payload as a zlib stream, told the exact size:
// the best zlib itself can do. Both inflate a 20 MiB payload of mixed text and binary.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include "BaselineReport.h"
#include "data/ZipHelper/ZipHelper.h"

namespace {

constexpr std::size_t kPayloadSize = 20 * 1024 * 1024;

const foundation::Data& payload() {
    static const foundation::Data data = [] {
        foundation::Data out;
        out.reserve(kPayloadSize);
        std::mt19937 random(7);
        while (out.size() < kPayloadSize) {
            const std::string line = "<li class=\"track\">" + std::to_string(random() % 100000) +
                                     " artist " + std::to_string(random() % 300) + "</li>\n";
            out.insert(out.end(), line.begin(), line.end());
            for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>(random()));
        }
        out.resize(kPayloadSize);
        return out;
    }();
    return data;
}

foundation::Data compressed(int windowBits) {
    const auto& plain = payload();
    z_stream s{};
    if (deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    foundation::Data out(deflateBound(&s, plain.size()));
    s.next_in = const_cast<Bytef*>(plain.data());
    s.avail_in = static_cast<uInt>(plain.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

void BM_Ungzip(benchmark::State& state) {
    const auto stream = compressed(15 + 16);
    for (auto _ : state) {
        auto out = ZipHelper::ungzip(stream);
        if (!out || out->size() != kPayloadSize) state.SkipWithError("ungzip failed");
        benchmark::DoNotOptimize(out);
    }
    state.counters["compressed_MB"] = static_cast<double>(stream.size()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadSize));
}

void BM_ZlibUncompress(benchmark::State& state) {
    const auto stream = compressed(15);
    for (auto _ : state) {
        foundation::Data out(kPayloadSize);
        uLongf length = out.size();
        if (uncompress(out.data(), &length, stream.data(), stream.size()) != Z_OK) {
            state.SkipWithError("uncompress failed");
        }
        benchmark::DoNotOptimize(out);
    }
    state.counters["compressed_MB"] = static_cast<double>(stream.size()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadSize));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("ungzip:", BM_Ungzip)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("zlib uncompress:", BM_ZlibUncompress)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    return bench::runWithBaselines(argc, argv,
                                   {{"ungzip:/real_time", "zlib uncompress:/real_time"}});
}
