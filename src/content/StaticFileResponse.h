#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "content/CustomSchemeHandler.h"

namespace content {

// Serves the web application from the resource pack: every path that names a file of the
// pack, and "/" as "index.html".
class StaticFileResponse : public RequestResponseHandler {
public:
    static ResponderClass responderClass();

    // Reads, checks and indexes a pack. YES replaces the file table; NO keeps the old one.
    static bool initializeWithFileAtPath(const std::string& path, std::string_view password);
    static bool initializeWithData(std::span<const std::uint8_t> pack, std::string_view password);
    // The folder files are served from while no pack is loaded.
    static void setRootPath(std::string path);

    static bool test(std::string_view path);
    // Whether a pack is loaded, and how many files it holds.
    static bool hasTable();
    static std::size_t fileCount();

protected:
    bool answersEveryPage() const override { return true; }
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<HTTPURLResponse> getResponse(const URLRequest& request, SchemeTask&) override;
};

}  // namespace content
