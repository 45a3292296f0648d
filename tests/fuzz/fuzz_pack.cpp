// Resource packs are read from the bundle: any bytes must load or be refused cleanly.
#include <cstddef>
#include <cstdint>
#include <span>

#include "content/ResourcePack.h"
#include "content/StaticFileResponse.h"
#include "data/ZipHelper/ZipHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // The signature stops almost every mutated pack, so the layout and the inflate are
    // driven directly too.
    if (auto layout = content::ResourcePack::parse(bytes, content::ResourcePack::kPassword)) {
        (void)ZipHelper::ungzip(layout->body);
    }
    if (auto index = content::ResourcePack::parseIndex(bytes, content::ResourcePack::kPassword)) {
        const std::uint64_t described =
            index->records.empty() ? 0 : index->records.back().offset + index->records.back().size;
        if (described <= (1u << 20)) {
            (void)content::ResourcePack::inflateCipheredBody(
                *index, content::ResourcePack::kPassword, described);
        }
    }
    (void)content::StaticFileResponse::initializeWithData(bytes, content::ResourcePack::kPassword);
    return 0;
}
