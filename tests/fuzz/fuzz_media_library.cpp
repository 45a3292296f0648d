// Media library databases come from a device: whatever bytes a copy holds, both readers
// answer with what they can read, and never crash or read outside SQLite's checks.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "media/MediaLibraryReader.h"

namespace {

std::string& folder() {
    static std::string path;
    return path;
}

const std::string& databasePath() {
    static const std::string path = [] {
        folder() = (std::filesystem::temp_directory_path() / "orvandel-fuzz-XXXXXX").string();
        if (mkdtemp(folder().data()) == nullptr) std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder(), ignored);
        });
        return folder() + "/library.sqlitedb";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = databasePath();
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    for (auto source : {media::MediaLibraryReader::Source::MediaLibrary,
                        media::MediaLibraryReader::Source::LibraryGroup}) {
        media::MediaLibraryFlags flags;
        media::MediaLibraryReader reader(source, {path, path, path}, flags);
        reader.loadPlaylists();
        reader.loadTracks();
    }
    return 0;
}
