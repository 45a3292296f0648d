#pragma once

#include <optional>
#include <string>

namespace content {

// Which pages are the application's own: those of the "myapp" scheme that the resource
// pack serves (not "/fetch" answers), and in development mode the pages of the development
// server's origin. Only they reach the bridge and read
// "/fetch"; a page from anywhere else could otherwise read and write the person's files.
class PageOrigins {
public:
    // Set at start-up, before the first page loads; nullopt (the default) allows none.
    static void setDevelopmentServer(std::optional<std::string> url);
    // The page at this URL, or of this origin ("scheme://host[:port]"), is ours.
    static bool isOwnPage(const std::string& urlOrOrigin);
    // The development server's origin ("http://127.0.0.1:8080"), empty when there is none.
    static std::string developmentOrigin();
};

}  // namespace content
