// orvandel-pack FOLDER OUTPUT.dat PRIVATE_KEY.pem
// Packs every file below FOLDER into a signed, enciphered resource pack.

#include <cstdio>
#include <exception>
#include <string>

#include <fmt/format.h>

#include "content/ResourcePack.h"
#include "foundation/AtomicFile.h"
#include "pack/ResourcePackWriter.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        fmt::print(stderr, "usage: orvandel-pack FOLDER OUTPUT.dat PRIVATE_KEY.pem\n");
        return 2;
    }
    try {
        std::string error;
        auto key = foundation::readFile(argv[3], &error);
        if (!key) throw std::runtime_error(std::string(argv[3]) + ": " + error);
        const auto files = packtool::collectFolder(argv[1]);
        const auto pack =
            packtool::writeResourcePack(files, std::string(content::ResourcePack::kPassword),
                                        std::string(key->begin(), key->end()));
        if (!foundation::writeFileAtomically(argv[2], pack, &error)) {
            throw std::runtime_error(std::string(argv[2]) + ": " + error);
        }
        fmt::print("orvandel-pack: {} files, {} bytes into {}\n", files.size(), pack.size(),
                   argv[2]);
    } catch (const std::exception& e) {
        fmt::print(stderr, "orvandel-pack: {}\n", e.what());
        return 1;
    }
    return 0;
}
