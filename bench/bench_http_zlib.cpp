// Inflating and deflating response and request bodies, against zlib driven directly with
// one buffer of the right size (what "gzip -d" does in memory).
#include <zlib.h>

#include <random>
#include <vector>

#include "BaselineReport.h"
#include "http/NetDataCompressor.h"
#include "http/NetDataDecompressor.h"

namespace {

foundation::Data body(std::size_t size) {
    // Text-like: words from a small vocabulary, so it compresses as pages do.
    static const char* words[] = {"orvandel ", "device ", "track ", "playlist ",
                                  "<div>",     "</div>",  "\n",     "42 "};
    std::mt19937 random(1);
    foundation::Data data;
    while (data.size() < size) {
        const char* word = words[random() % 8];
        data.insert(data.end(), word, word + std::char_traits<char>::length(word));
    }
    data.resize(size);
    return data;
}

const foundation::Data& input() {
    static const foundation::Data data = body(8 * 1024 * 1024);
    return data;
}

const foundation::Data& packed() {
    static const foundation::Data data = *NetDataCompressor::compressData(input(), nullptr);
    return data;
}

void BM_NetDataDecompressor(benchmark::State& state) {
    for (auto _ : state) {
        auto out = NetDataDecompressor::uncompressData(packed(), nullptr);
        benchmark::DoNotOptimize(out->data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input().size()));
}

void BM_ZlibInflateBaseline(benchmark::State& state) {
    for (auto _ : state) {
        foundation::Data out(input().size());
        z_stream z{};
        inflateInit2(&z, 15 + 32);
        z.next_in = const_cast<Bytef*>(packed().data());
        z.avail_in = static_cast<uInt>(packed().size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input().size()));
}

void BM_NetDataCompressor(benchmark::State& state) {
    for (auto _ : state) {
        auto out = NetDataCompressor::compressData(input(), nullptr);
        benchmark::DoNotOptimize(out->data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input().size()));
}

void BM_ZlibDeflateBaseline(benchmark::State& state) {
    for (auto _ : state) {
        z_stream z{};
        deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        foundation::Data out(deflateBound(&z, static_cast<uLong>(input().size())));
        z.next_in = const_cast<Bytef*>(input().data());
        z.avail_in = static_cast<uInt>(input().size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        deflateEnd(&z);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input().size()));
}

BENCHMARK(BM_NetDataDecompressor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetDataCompressor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflateBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(argc, argv,
                                   {{"BM_NetDataDecompressor", "BM_ZlibInflateBaseline"},
                                    {"BM_NetDataCompressor", "BM_ZlibDeflateBaseline"}});
}
