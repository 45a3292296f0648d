// An audio source may be any file the user names or any URL's content: probing it must give
// a source or a refusal, never a read outside the input or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(data, data + size);
    std::string error;
    if (auto source = audio::AudioSource::openMemory(bytes, &error)) {
        source->duration();
        source->metadata();
        source->isPlayable();
        source->isProtected();
    }
    return 0;
}
