// Type identifiers and descriptions of file-name extensions from GIO's content types
// (shared-mime-info).
#include <gio/gio.h>

#include "data/helpers/NSStringHelpers.h"

namespace NSString {
namespace {

// The content type GIO guesses from a file name with the extension alone.
std::optional<std::string> contentTypeFor(std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    const std::string name = "file." + std::string(extension);
    gchar* type = g_content_type_guess(name.c_str(), nullptr, 0, nullptr);
    if (!type) return std::nullopt;
    std::string result(type);
    g_free(type);
    return result;
}

}  // namespace

std::optional<std::string> UTITypeForExtension(std::string_view extension) {
    return contentTypeFor(extension);
}

std::optional<std::string> fullDescriptionForExtension(std::string_view extension) {
    const auto type = contentTypeFor(extension);
    if (!type) return std::nullopt;
    gchar* description = g_content_type_get_description(type->c_str());
    if (!description) return std::nullopt;
    std::string result(description);
    g_free(description);
    return result;
}

std::optional<std::string> descriptionForExtension(std::string_view extension) {
    return fullDescriptionForExtension(extension);
}

}  // namespace NSString
