// The extension-to-MIME-type table. It is our own, not the system's shared-mime-info, so
// that every machine answers the same.
#include <algorithm>
#include <array>
#include <string_view>

#include "data/helpers/NSStringHelpers.h"

namespace NSString {
namespace {

struct MimeEntry {
    std::string_view extension;  // lower case
    std::string_view type;
};

// Sorted by extension for binary search.
constexpr std::array kMimeTable = std::to_array<MimeEntry>({
    {"3g2", "video/3gpp2"},
    {"3gp", "video/3gpp"},
    {"aac", "audio/aac"},
    {"aif", "audio/aiff"},
    {"aifc", "audio/aiff"},
    {"aiff", "audio/aiff"},
    {"avi", "video/x-msvideo"},
    {"avif", "image/avif"},
    {"bin", "application/octet-stream"},
    {"bmp", "image/bmp"},
    {"caf", "audio/x-caf"},
    {"css", "text/css"},
    {"csv", "text/csv"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"eot", "application/vnd.ms-fontobject"},
    {"epub", "application/epub+zip"},
    {"flac", "audio/flac"},
    {"gif", "image/gif"},
    {"gz", "application/gzip"},
    {"heic", "image/heic"},
    {"heif", "image/heif"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"ico", "image/vnd.microsoft.icon"},
    {"ics", "text/calendar"},
    {"ipa", "application/octet-stream"},
    {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"js", "text/javascript"},
    {"json", "application/json"},
    {"m3u", "audio/x-mpegurl"},
    {"m3u8", "application/vnd.apple.mpegurl"},
    {"m4a", "audio/mp4"},
    {"m4b", "audio/mp4"},
    {"m4p", "audio/mp4"},
    {"m4r", "audio/mp4"},
    {"m4v", "video/x-m4v"},
    {"map", "application/json"},
    {"md", "text/markdown"},
    {"mid", "audio/midi"},
    {"midi", "audio/midi"},
    {"mjs", "text/javascript"},
    {"mkv", "video/x-matroska"},
    {"mov", "video/quicktime"},
    {"mp3", "audio/mpeg"},
    {"mp4", "video/mp4"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"oga", "audio/ogg"},
    {"ogg", "audio/ogg"},
    {"ogv", "video/ogg"},
    {"opus", "audio/opus"},
    {"otf", "font/otf"},
    {"pdf", "application/pdf"},
    {"plist", "application/x-plist"},
    {"png", "image/png"},
    {"rtf", "application/rtf"},
    {"sqlite", "application/vnd.sqlite3"},
    {"svg", "image/svg+xml"},
    {"svgz", "image/svg+xml"},
    {"tar", "application/x-tar"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"ttf", "font/ttf"},
    {"txt", "text/plain"},
    {"vcf", "text/vcard"},
    {"wasm", "application/wasm"},
    {"wav", "audio/wav"},
    {"weba", "audio/webm"},
    {"webm", "video/webm"},
    {"webmanifest", "application/manifest+json"},
    {"webp", "image/webp"},
    {"wma", "audio/x-ms-wma"},
    {"wmv", "video/x-ms-wmv"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"xhtml", "application/xhtml+xml"},
    {"xml", "application/xml"},
    {"zip", "application/zip"},
});
static_assert(std::is_sorted(kMimeTable.begin(), kMimeTable.end(),
                             [](const MimeEntry& a, const MimeEntry& b) {
                                 return a.extension < b.extension;
                             }),
              "the MIME table must stay sorted by extension");

}  // namespace

std::optional<std::string> MIMETypeForExtension(std::string_view extension) {
    constexpr std::size_t kLongestExtension = 16;
    if (extension.empty() || extension.size() > kLongestExtension) return std::nullopt;
    std::string key(extension);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const auto found = std::lower_bound(
        kMimeTable.begin(), kMimeTable.end(), key,
        [](const MimeEntry& entry, const std::string& k) { return entry.extension < k; });
    if (found == kMimeTable.end() || found->extension != key) return std::nullopt;
    return std::string(found->type);
}

}  // namespace NSString
