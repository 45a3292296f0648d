// The file-based operations of PNGNormalizer.
#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "content/PNGNormalizer.h"
#include "foundation/AtomicFile.h"
#include "foundation/ConsolePrint.h"

namespace {

// The first bytes of a file, at most `count`.
foundation::Data readHead(const std::string& path, std::size_t count) {
    foundation::Data head(count);
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(count));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

constexpr std::size_t kHeadLength = 20;

}  // namespace

std::optional<foundation::Data> PNGNormalizer::dataWithContentsOfPNGFile(const std::string& path) {
    auto contents = foundation::readFile(path);
    if (!contents) return std::nullopt;
    return dataFromPNGData(std::move(*contents));
}

NSImage::Image PNGNormalizer::imageWithContentsOfPNGFile(const std::string& path) {
    const auto data = dataWithContentsOfPNGFile(path);
    if (!data) return nullptr;
    return NSImage::safeImageWithDataIsPNG(*data, false);
}

bool PNGNormalizer::isPNGFile(const std::string& path) {
    const auto head = readHead(path, kHeadLength);
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return head.size() == kHeadLength && std::equal(kSignature, kSignature + 8, head.begin());
}

bool PNGNormalizer::isGoodPNGFile(const std::string& path) {
    return isGoodPNGData(readHead(path, kHeadLength));
}

bool PNGNormalizer::fixPNGFileAtPathErrorBackup(const std::string& path, foundation::Error* error,
                                                bool backup) {
    if (backup) {
        std::error_code failure;
        std::filesystem::copy_file(path, path + ".bak",
                                   std::filesystem::copy_options::overwrite_existing, failure);
        if (failure) {
            foundation::printToConsole("PNGNormalizer: cannot back up {}: {}\n", path, failure.message());
        }
    }
    std::string reason;
    const auto converted = dataWithContentsOfPNGFile(path);
    if (!converted) {
        reason = "not PNG data that can be converted";
    } else if (foundation::writeFileAtomically(path, *converted, &reason)) {
        return true;
    }
    if (error) *error = foundation::Error{"PNGNormalizer", 1, path + ": " + reason, {}};
    return false;
}
