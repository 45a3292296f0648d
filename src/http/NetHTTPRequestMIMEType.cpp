// The MIME type of a file, as a form's file part announces it.

#include <sys/stat.h>

#include "data/helpers/NSStringHelpers.h"
#include "foundation/PathComponents.h"
#include "http/NetHTTPRequest.h"

std::optional<std::string> NetHTTPRequest::mimeTypeForFileAtPath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    const std::string name = foundation::lastPathComponent(path);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        if (auto type = NSString::MIMETypeForExtension(std::string_view(name).substr(dot + 1)))
            return type;
    }
    return "application/octet-stream";
}
