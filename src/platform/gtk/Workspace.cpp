#include "platform/gtk/Workspace.h"

#include <gio/gio.h>
#include <sys/stat.h>

namespace gtk {

bool Workspace::openURL(const std::string& uri) {
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
    if (error) g_error_free(error);
    return opened;
}

bool Workspace::launchesProgram(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;  // nothing there to launch
    if (S_ISDIR(info.st_mode)) return false;
    if (!S_ISREG(info.st_mode)) return true;  // devices, sockets, pipes: never handed out
    if (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) return true;

    static const char* const kProgramTypes[] = {
        "application/x-desktop",         "application/x-executable",
        "application/x-sharedlib",       "application/x-shellscript",
        "application/x-ms-dos-executable", "application/x-msdownload",
        "application/vnd.appimage",      "application/x-perl",
        "application/x-python",          "text/x-python",
        "application/x-ruby",            "text/x-script",
    };
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* fileInfo = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                            G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    bool program = true;  // a type that cannot be told is not trusted
    if (fileInfo) {
        const char* type = g_file_info_get_content_type(fileInfo);
        program = false;
        for (const char* programType : kProgramTypes) {
            if (type && g_content_type_is_a(type, programType)) program = true;
        }
        g_object_unref(fileInfo);
    }
    g_object_unref(file);
    // A desktop entry is told by its name too, whatever its contents look like.
    const auto dot = path.rfind('.');
    if (dot != std::string::npos && path.substr(dot) == ".desktop") program = true;
    return program;
}

}  // namespace gtk
