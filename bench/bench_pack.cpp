// Loading a 30 MB resource pack (decipher, signature check, inflate, index) beside
// `gzip -dc` of the same compressed body.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaselineReport.h"
#include "content/ResourcePack.h"
#include "content/StaticFileResponse.h"
#include "foundation/AtomicFile.h"
#include "pack/ResourcePackWriter.h"

namespace {

struct Fixture {
    foundation::Data pack;
    std::string bodyPath;

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
        bodyPath = (std::filesystem::temp_directory_path() / "orvandel-bench-body.gz").string();
        foundation::writeFileAtomically(bodyPath, layout->body);
    }
    ~Fixture() { std::filesystem::remove(bodyPath); }
};

Fixture& fixture() {
    static Fixture shared;
    return shared;
}

void BM_LoadPack(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        if (!content::StaticFileResponse::initializeWithData(f.pack,
                                                             content::ResourcePack::kPassword)) {
            state.SkipWithError("the pack did not load");
            return;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.pack.size()));
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
}
BENCHMARK(BM_GzipDc)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(argc, argv, {{"BM_LoadPack/real_time", "BM_GzipDc/real_time"}});
}
