#include "platform/gtk/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gio/gio.h>

#include <charconv>
#include <string>
#include <system_error>

namespace gtk {
namespace {

// What the one instance keeps for as long as it runs.
struct Instance {
    GApplication* application = nullptr;
    std::vector<int> locks;
    std::function<void()> activated;
};

Instance& instance() {
    static Instance* const kept = new Instance;  // lives until the process ends
    return *kept;
}

// A session bus this process can reach without starting one of its own (GIO would start a
// private bus daemon for the display when no address is known).
bool sessionBusKnown() {
    if (const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return true;
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return false;
    gchar* socket = g_build_filename(runtime, "bus", nullptr);
    const bool present = g_file_test(socket, G_FILE_TEST_EXISTS);
    g_free(socket);
    return present;
}

// Takes the lock file, made if need be; false when another process holds it. A file that
// cannot be opened at all holds nothing: the folder's own failures show later, where the
// folder is used.
bool lock(const std::string& path, std::vector<int>& held) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    held.push_back(fd);
    // Who holds the profile, for a later start to say; the lock works without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size()))
        (void)::ftruncate(fd, 0);  // a part of a number would name another process
    return true;
}

}  // namespace

std::optional<long> SingleInstance::lockHolder(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[32];
    const ssize_t length = ::pread(fd, text, sizeof text, 0);
    ::close(fd);
    if (length <= 0) return std::nullopt;
    // Digits and a line feed, nothing else: anything more is not a file we wrote.
    long pid = 0;
    const char* end = text + length;
    const auto [stop, error] = std::from_chars(text, end, pid);
    if (error != std::errc() || stop == text || pid <= 0) return std::nullopt;
    if (stop != end && !(*stop == '\n' && stop + 1 == end)) return std::nullopt;
    return pid;
}

bool SingleInstance::isValidId(const std::string& applicationId) {
    return g_application_id_is_valid(applicationId.c_str());
}

SingleInstance::Claim SingleInstance::claim(const std::string& applicationId,
                                            const std::vector<std::string>& lockPaths,
                                            std::function<void()> activated) {
    auto& kept = instance();
    kept.activated = std::move(activated);
    if (sessionBusKnown() && isValidId(applicationId) && !kept.application) {
        GApplication* application =
            g_application_new(applicationId.c_str(), G_APPLICATION_DEFAULT_FLAGS);
        GError* error = nullptr;
        if (!g_application_register(application, nullptr, &error)) {
            g_printerr("%s: the session bus refused the application: %s\n", g_get_prgname(),
                       error ? error->message : "no reason given");
            g_clear_error(&error);
            g_object_unref(application);
        } else if (g_application_get_is_remote(application)) {
            g_application_activate(application);
            if (GDBusConnection* bus = g_application_get_dbus_connection(application))
                g_dbus_connection_flush_sync(bus, nullptr, nullptr);
            g_object_unref(application);
            return Claim::Shown;
        } else {
            g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication*, gpointer) {
                                 if (instance().activated) instance().activated();
                             }),
                             nullptr);
            kept.application = application;
        }
    }
    for (const auto& path : lockPaths) {
        if (!lock(path, kept.locks)) return Claim::Running;
    }
    return Claim::First;
}

}  // namespace gtk
