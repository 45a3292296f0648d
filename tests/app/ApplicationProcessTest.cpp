#include <gtest/gtest.h>

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/ProfileInstance.h"
#include "foundation/ScratchFolder.h"
#include "support/MainLoop.h"

// Last: Xlib's macros (None, Status) would meet names of the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#if defined(__SANITIZE_ADDRESS__)
// The leak checker's list for the GTK and WebKitGTK caches (LeakSuppressions.cpp), which
// the program started here needs as much as the tests.
extern "C" const char* __lsan_default_suppressions();
#endif

namespace {

namespace fs = std::filesystem;

std::string contentsOfFilesUnder(const fs::path& folder) {
    std::string all;
    if (!fs::exists(folder)) return all;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path());
        all.append(std::istreambuf_iterator<char>(in), {});
    }
    return all;
}

std::string contentsOf(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The real program's environment: its folders in a scratch home (the profile), a bundle
// without the resource pack (which it logs as an error), and the session bus given, or none.
class Launch {
public:
    Launch(const fs::path& root, const std::string& bus) {
        fs::create_directories(root / "bundle");
        fs::create_directories(root / "run");
        fs::copy_file(fs::path(ORVANDEL_BUNDLE_SOURCE) / "Info.plist", root / "bundle/Info.plist",
                      fs::copy_options::skip_existing);
        launcher_ = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
        const std::pair<const char*, fs::path> folders[] = {
            {"HOME", root},
            {"XDG_CONFIG_HOME", root / "config"},
            {"XDG_DATA_HOME", root / "data"},
            {"XDG_STATE_HOME", root / "state"},
            {"XDG_CACHE_HOME", root / "cache"},
            {"XDG_RUNTIME_DIR", root / "run"},
            {"ORVANDEL_BUNDLE_DIR", root / "bundle"},
        };
        for (const auto& [name, path] : folders)
            g_subprocess_launcher_setenv(launcher_, name, path.c_str(), TRUE);
        // Nothing of the desktop's accessibility services on a bus of the test's own.
        g_subprocess_launcher_setenv(launcher_, "NO_AT_BRIDGE", "1", TRUE);
        if (bus.empty()) {
            g_subprocess_launcher_unsetenv(launcher_, "DBUS_SESSION_BUS_ADDRESS");
        } else {
            g_subprocess_launcher_setenv(launcher_, "DBUS_SESSION_BUS_ADDRESS", bus.c_str(), TRUE);
        }
#if defined(__SANITIZE_ADDRESS__)
        std::ofstream(root / "leaks.supp") << __lsan_default_suppressions();
        const std::string leaks = "suppressions=" + (root / "leaks.supp").string();
        g_subprocess_launcher_setenv(launcher_, "LSAN_OPTIONS", leaks.c_str(), TRUE);
#endif
    }
    ~Launch() { g_object_unref(launcher_); }

    // Starts the program with its standard error going to the file.
    GSubprocess* start(const fs::path& errors) {
        g_subprocess_launcher_set_stderr_file_path(launcher_, errors.c_str());
        GError* error = nullptr;
        GSubprocess* app = g_subprocess_launcher_spawn(launcher_, &error, ORVANDEL_APP, nullptr);
        EXPECT_NE(app, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        return app;
    }

private:
    GSubprocessLauncher* launcher_;
};

// Waits (serving the test's main loop) until the process has ended; its exit status.
int exitStatus(GSubprocess* app) {
    bool ended = false;
    g_subprocess_wait_async(
        app, nullptr, [](GObject*, GAsyncResult*, gpointer done) { *static_cast<bool*>(done) = true; },
        &ended);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return ended; }, std::chrono::seconds(60)));
    if (!ended) {
        g_subprocess_force_exit(app);
        g_subprocess_wait(app, nullptr, nullptr);
        return -1;
    }
    if (!g_subprocess_get_if_exited(app)) return -1;
    return g_subprocess_get_exit_status(app);
}

// The real program, started with its folders in a scratch home and a bundle without the
// resource pack (which it logs as an error), then sent a signal once its page is asked for.
TEST(ApplicationProcess, QuitsInOrderOnSigtermAndSigintKeepingItsLogAndFolders) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        foundationtest::ScratchFolder home;
        const fs::path root(home.path());
        Launch launch(root, "");
        GSubprocess* app = launch.start(root / "errors.txt");
        ASSERT_NE(app, nullptr);
        // The page's first request shows that the main loop runs.
        EXPECT_TRUE(testsupport::runMainLoopUntil(
            [&] { return contentsOf(root / "errors.txt").find("myapp://") != std::string::npos; }));

        g_subprocess_send_signal(app, signal);
        const std::string output = contentsOf(root / "errors.txt");
        EXPECT_EQ(exitStatus(app), 0) << output;
        g_object_unref(app);

        EXPECT_NE(contentsOfFilesUnder(root / "state/Orvandel/Logs").find("[ERROR] Failed to load"),
                  std::string::npos);
        // Browser storage lives in the application's own folders.
        EXPECT_TRUE(fs::exists(root / "data/Orvandel/WebKit"));
        EXPECT_FALSE(fs::exists(root / "data/orvandel"));
        EXPECT_FALSE(fs::exists(root / "cache/orvandel"));
    }
}

// The identifier on the session bus names the bundle and marks the profile's folders: the
// same folders give the same name, others another; a bundle identifier that cannot name an
// application gives way to the application's own.
TEST(ProfileInstance, EachProfileHasANameOfItsOwnOnTheSessionBus) {
    const std::vector<std::string> mine = {"/home/a/.config/Orvandel", "/home/a/.local/share/Orvandel",
                                           "/home/a/.local/state/Orvandel", "/home/a/.cache/Orvandel"};
    auto theirs = mine;
    theirs[3] = "/tmp/cache/Orvandel";
    const std::string id = ProfileInstance::applicationId("com.orvandel.Orvandel", mine);
    EXPECT_TRUE(gtk::SingleInstance::isValidId(id)) << id;
    EXPECT_EQ(id.rfind("com.orvandel.Orvandel.Profile", 0), 0u) << id;
    EXPECT_EQ(ProfileInstance::applicationId("com.orvandel.Orvandel", mine), id);
    EXPECT_NE(ProfileInstance::applicationId("com.orvandel.Orvandel", theirs), id);
    const std::string fallback = ProfileInstance::applicationId("not a name", mine);
    EXPECT_TRUE(gtk::SingleInstance::isValidId(fallback)) << fallback;
    EXPECT_EQ(fallback, id);
}

// A session bus of the test's own.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& folder) {
        GError* error = nullptr;
        daemon_ = g_subprocess_new(
            GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE),
            &error, "dbus-daemon", "--session", "--nofork", "--print-address=1",
            ("--address=unix:path=" + (folder / "bus").string()).c_str(), nullptr);
        EXPECT_NE(daemon_, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        if (!daemon_) return;
        // The address comes once the bus takes connections.
        GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
        char* line = g_data_input_stream_read_line_utf8(lines, nullptr, nullptr, nullptr);
        address_ = line ? line : "";
        g_free(line);
        g_object_unref(lines);
    }
    ~PrivateBus() {
        if (!daemon_) return;
        g_subprocess_send_signal(daemon_, SIGTERM);
        g_subprocess_wait(daemon_, nullptr, nullptr);
        g_object_unref(daemon_);
    }
    const std::string& address() const { return address_; }

private:
    GSubprocess* daemon_ = nullptr;
    std::string address_;
};

// The process whose top-level window has the X input focus, or 0.
long focusedProcess() {
    Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    for (Window window = focus; window > PointerRoot;) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data && count == 1) {
            const long pid = long(*reinterpret_cast<unsigned long*>(data));
            XFree(data);
            return pid;
        }
        if (data) XFree(data);
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &childCount)) break;
        if (children) XFree(children);
        if (parent == root) break;
        window = parent;
    }
    return 0;
}

// One process per profile: a second start on the profile brings the running window forward
// and ends with 0, through the session bus or, out of its reach, as the profile's lock says;
// a start on another profile runs beside it.
TEST(ApplicationProcess, ASecondStartOnTheSameProfileBringsTheRunningWindowForwardAndEnds) {
    foundationtest::ScratchFolder home, other;
    const fs::path root(home.path());
    PrivateBus bus(root);
    ASSERT_FALSE(bus.address().empty());
    Launch onBus(root, bus.address());
    GSubprocess* first = onBus.start(root / "first.txt");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return contentsOf(root / "first.txt").find("myapp://") != std::string::npos; }));
    const long firstPid = std::stol(g_subprocess_get_identifier(first));

    // A window of the test's own takes the focus.
    GtkWidget* mine = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_move(GTK_WINDOW(mine), 300, 300);
    gtk_widget_show(mine);
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return gtk_widget_get_mapped(mine); }));
    gtk_window_present(GTK_WINDOW(mine));
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return focusedProcess() == long(getpid()); }));

    GSubprocess* second = onBus.start(root / "second.txt");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(exitStatus(second), 0);
    g_object_unref(second);
    EXPECT_NE(contentsOf(root / "second.txt")
                  .find("already running on this profile; its window is brought forward"),
              std::string::npos)
        << contentsOf(root / "second.txt");
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return focusedProcess() == firstPid; }));
    gtk_widget_destroy(mine);

    // Out of the bus's reach the profile's lock still tells.
    Launch offBus(root, "");
    GSubprocess* third = offBus.start(root / "third.txt");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(exitStatus(third), 0);
    g_object_unref(third);
    EXPECT_NE(contentsOf(root / "third.txt").find("already running on this profile, in another session"),
              std::string::npos)
        << contentsOf(root / "third.txt");

    // Another profile on the same bus runs on its own.
    const fs::path otherRoot(other.path());
    Launch elsewhere(otherRoot, bus.address());
    GSubprocess* beside = elsewhere.start(otherRoot / "beside.txt");
    ASSERT_NE(beside, nullptr);
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [&] { return contentsOf(otherRoot / "beside.txt").find("myapp://") != std::string::npos; }));
    EXPECT_NE(g_subprocess_get_identifier(beside), nullptr);  // still running

    for (GSubprocess* app : {beside, first}) {
        g_subprocess_send_signal(app, SIGTERM);
        EXPECT_EQ(exitStatus(app), 0);
        g_object_unref(app);
    }
}

}  // namespace
