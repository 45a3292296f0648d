// Zip archives come from devices and downloads: any bytes must extract or be refused, with
// or without a password, and nothing may be written outside the destination folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "data/ZipHelper/ZipHelper.h"
#include "foundation/AtomicFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/fuzz-zip-XXXXXX";
    if (!mkdtemp(pattern)) return 0;
    const fs::path base = pattern;
    const fs::path archive = base / "in.zip";
    const fs::path out = base / "out" / "deeper";
    fs::create_directories(out);
    if (foundation::writeFileAtomically(archive.string(), foundation::Data(data, data + size))) {
        ZipHelper helper;
        if (helper.UnzipOpenFile(archive.string(), "pw")) {
            (void)helper.UnzipFileToOverWrite(out.string(), true);
            (void)helper.UnzipFileByName("a.txt");
            helper.UnzipCloseFile();
        }
    }
    // Only the archive and the destination may be there.
    if (std::distance(fs::directory_iterator(base), {}) != 2 ||
        std::distance(fs::directory_iterator(base / "out"), {}) != 1) {
        std::abort();
    }
    fs::remove_all(base);
    return 0;
}
