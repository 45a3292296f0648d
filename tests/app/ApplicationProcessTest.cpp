#include <gtest/gtest.h>

#include <gio/gio.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/file.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ProfileInstance.h"
#include "foundation/ScratchFolder.h"
#include "simdevice/SimUsbmuxServer.h"
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

using Environment = std::vector<std::pair<const char*, std::string>>;

// The real program's environment: its folders in a scratch home (the profile), a bundle of
// its own (without the resource pack, which it then logs as an error, unless asked for), the
// session bus given, or none, and any more variables.
GSubprocessLauncher* launcherFor(const fs::path& root, GSubprocessFlags flags,
                                 const std::string& bus, const Environment& more = {},
                                 bool withPack = false) {
    fs::create_directories(root / "bundle");
    fs::create_directories(root / "run");
    for (const char* file : {"Info.plist", "resource.dat"}) {
        if (withPack || std::string(file) != "resource.dat")
            fs::copy_file(fs::path(ORVANDEL_BUNDLE_SOURCE) / file, root / "bundle" / file,
                          fs::copy_options::skip_existing);
    }
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(flags);
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
        g_subprocess_launcher_setenv(launcher, name, path.c_str(), TRUE);
    // Nothing of the desktop's accessibility services on a bus of the test's own.
    g_subprocess_launcher_setenv(launcher, "NO_AT_BRIDGE", "1", TRUE);
    if (bus.empty()) {
        g_subprocess_launcher_unsetenv(launcher, "DBUS_SESSION_BUS_ADDRESS");
    } else {
        g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", bus.c_str(), TRUE);
    }
    for (const auto& [name, value] : more)
        g_subprocess_launcher_setenv(launcher, name, value.c_str(), TRUE);
#if defined(__SANITIZE_ADDRESS__)
    std::ofstream(root / "leaks.supp") << __lsan_default_suppressions();
    const std::string leaks = "suppressions=" + (root / "leaks.supp").string();
    g_subprocess_launcher_setenv(launcher, "LSAN_OPTIONS", leaks.c_str(), TRUE);
#endif
    return launcher;
}

// Starts of the real program on one profile, each with its standard error in a file.
class Launch {
public:
    Launch(const fs::path& root, const std::string& bus)
        : launcher_(launcherFor(root, G_SUBPROCESS_FLAGS_STDOUT_SILENCE, bus)) {}
    ~Launch() { g_object_unref(launcher_); }
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

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


// The real program on a profile of its own, without a session bus, its standard error read
// line by line.
class RunningApp {
public:
    explicit RunningApp(const fs::path& root, const Environment& more = {}, bool withPack = false) {
        GSubprocessLauncher* launcher =
            launcherFor(root, GSubprocessFlags(G_SUBPROCESS_FLAGS_STDERR_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE),
                        "", more, withPack);
        GError* error = nullptr;
        app_ = g_subprocess_launcher_spawn(launcher, &error, ORVANDEL_APP, nullptr);
        g_object_unref(launcher);
        if (!app_) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        lines_ = g_data_input_stream_new(g_subprocess_get_stderr_pipe(app_));
        // Read all along, so that the program never waits for a full pipe.
        reader_ = std::thread([this] {
            while (char* line = g_data_input_stream_read_line_utf8(lines_, nullptr, nullptr,
                                                                   nullptr)) {
                std::lock_guard lock(mutex_);
                output_ += std::string(line) + "\n";
                g_free(line);
                changed_.notify_all();
            }
            std::lock_guard lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        });
    }
    ~RunningApp() {
        if (app_) g_subprocess_force_exit(app_);
        if (reader_.joinable()) reader_.join();
        if (lines_) g_object_unref(lines_);
        if (app_) {
            g_subprocess_wait(app_, nullptr, nullptr);
            g_object_unref(app_);
        }
    }
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    bool started() const { return app_ != nullptr; }
    // 0 once it has ended.
    pid_t pid() const {
        const char* id = app_ ? g_subprocess_get_identifier(app_) : nullptr;
        return id ? pid_t(std::stol(id)) : 0;
    }
    // Waits until a line of its output holds `text` (false at its end).
    bool readUntil(const std::string& text) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_ || output_.find(text) != std::string::npos; });
        return output_.find(text) != std::string::npos;
    }
    // Signals it and waits for its end: its exit status, or -1 when it did not exit by
    // itself.
    int quitWith(int signal) {
        g_subprocess_send_signal(app_, signal);
        if (reader_.joinable()) reader_.join();
        if (!g_subprocess_wait(app_, nullptr, nullptr) || !g_subprocess_get_if_exited(app_))
            return -1;
        return g_subprocess_get_exit_status(app_);
    }
    std::string output() {
        std::lock_guard lock(mutex_);
        return output_;
    }

private:
    GSubprocess* app_ = nullptr;
    GDataInputStream* lines_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool ended_ = false;
    std::thread reader_;
};


// Sent a signal once its page is asked for, it quits in order.
TEST(ApplicationProcess, QuitsInOrderOnSigtermAndSigintKeepingItsLogAndFolders) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        foundationtest::ScratchFolder home;
        const fs::path root(home.path());
        RunningApp app(root);
        ASSERT_TRUE(app.started());
        // The page's first request shows that the main loop runs.
        EXPECT_TRUE(app.readUntil("myapp://")) << app.output();
        EXPECT_EQ(app.quitWith(signal), 0) << app.output();

        EXPECT_NE(contentsOfFilesUnder(root / "state/Orvandel/Logs").find("[ERROR] Failed to load"),
                  std::string::npos);
        // Browser storage lives in the application's own folders.
        EXPECT_TRUE(fs::exists(root / "data/Orvandel/WebKit"));
        EXPECT_FALSE(fs::exists(root / "data/orvandel"));
        EXPECT_FALSE(fs::exists(root / "cache/orvandel"));
    }
}

// A file of /proc; empty when its process went while it was read (a stream would throw).
std::string procText(const fs::path& file) {
    std::string text;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(got));
    ::close(fd);
    return got < 0 ? std::string() : text;
}

// The parent of a process, from /proc; 0 when it is gone.
pid_t parentOf(pid_t pid) {
    const std::string line = procText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

// The environment of the first web content process below `ancestor` (NUL-separated
// "NAME=value" entries), waiting until there is one; empty when none came.
std::string webProcessEnvironment(pid_t ancestor) {
    std::string found;
    testsupport::runMainLoopUntil(
        [&] {
            // Processes come and go while the list is read.
            std::error_code error;
            for (fs::directory_iterator it("/proc", error), end; !error && it != end;
                 it.increment(error)) {
                const auto& entry = *it;
                const std::string name = entry.path().filename();
                if (name.find_first_not_of("0123456789") != std::string::npos) continue;
                if (procText(entry.path() / "cmdline").find("WebKitWebProcess") == std::string::npos)
                    continue;
                pid_t up = pid_t(std::stol(name));
                while (up > 1 && up != ancestor) up = parentOf(up);
                if (up != ancestor) continue;
                found = procText(entry.path() / "environ");
                if (!found.empty()) return true;
            }
            return false;
        },
        std::chrono::seconds(30));
    return found;
}

bool holds(const std::string& environment, const std::string& entry) {
    return ("\0" + environment).find("\0" + entry + "\0") != std::string::npos;
}

// The program chooses where the browser engine paints before its first view: its web process
// starts with software GL painting on the CPU (the test's display has no GPU), and with the
// person's own value when they set one.
TEST(ApplicationProcess, ItsWebProcessPaintsOnTheCpuWithSoftwareGlUnlessThePersonChose) {
    const std::string variable = "WEBKIT_SKIA_ENABLE_CPU_RENDERING";
    bool renderNode = false;
    if (fs::exists("/dev/dri")) {
        for (const auto& node : fs::directory_iterator("/dev/dri"))
            renderNode = renderNode || node.path().filename().string().rfind("renderD", 0) == 0;
    }
    for (const char* chosen : {"", "0"}) {
        SCOPED_TRACE(chosen);
        if (!*chosen && std::getenv(variable.c_str())) continue;  // the test's own value goes on
        foundationtest::ScratchFolder home;
        Environment environment;
        if (*chosen) environment.push_back({variable.c_str(), chosen});
        RunningApp app(fs::path(home.path()), environment, true);
        ASSERT_TRUE(app.started());
        ASSERT_NE(app.pid(), 0) << app.output();
        const std::string web = webProcessEnvironment(app.pid());
        ASSERT_FALSE(web.empty()) << app.output();
        if (*chosen) {
            EXPECT_TRUE(holds(web, variable + "=" + chosen));
        } else if (!renderNode) {
            EXPECT_TRUE(holds(web, variable + "=1"));
        }
        EXPECT_EQ(app.quitWith(SIGTERM), 0) << app.output();
    }
}

// A phone that never answers its session's handshake holds the application up in nothing:
// SIGTERM quits it while the phone is being made.
TEST(ApplicationProcess, QuitsOnSigtermWhileAPhoneNeverAnswersItsHandshake) {
    ::signal(SIGPIPE, SIG_IGN);
    foundationtest::ScratchFolder home;
    const fs::path root(home.path());
    simdevice::SimUsbmuxServer server(root / "usbmux.sock");
    ASSERT_TRUE(server.start());
    auto silent = server.attach({});
    server.pairHost(silent);
    silent->setHandshakeAnswers(false);
    RunningApp app(root, {{"USBMUXD_SOCKET_ADDRESS", server.socketAddress()}}, true);
    ASSERT_TRUE(app.started());
    // The phone is being made once the page is up: its session has been asked for.
    for (int i = 0; i < 300 && silent->sessionsStarted() == 0; ++i) ::usleep(100000);
    ASSERT_GT(silent->sessionsStarted(), 0) << app.output();
    EXPECT_EQ(app.quitWith(SIGTERM), 0) << app.output();
    server.stop();
}

// A start removes the library loads' folders that instances cut off left in the temporary
// folder, and keeps one that a running instance holds locked.
TEST(ApplicationProcess, AStartRemovesTheLoadFoldersEndedInstancesLeft) {
    foundationtest::ScratchFolder home;
    const fs::path root(home.path());
    const fs::path temporary = root / "tmp";
    const fs::path stale = temporary / "orvandel-media-Stale1";
    const fs::path live = temporary / "orvandel-media-Live01";
    fs::create_directories(stale);
    fs::create_directories(live);
    std::ofstream(stale / "iTunesDB.sqlite") << "left behind";
    std::ofstream(live / "iTunesDB.sqlite") << "in use";
    const int held = ::open(live.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    RunningApp app(root, {{"TMPDIR", temporary.string()}});
    ASSERT_TRUE(app.started());
    EXPECT_TRUE(app.readUntil("myapp://")) << app.output();
    EXPECT_TRUE(testsupport::runMainLoopUntil([&] { return !fs::exists(stale); }));
    EXPECT_EQ(app.quitWith(SIGTERM), 0) << app.output();
    EXPECT_TRUE(fs::exists(live / "iTunesDB.sqlite"));
    ::close(held);
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

// A later start names the process that holds the profile only from a lock file that holds
// exactly a process id.
TEST(ProfileInstance, TheLockFileNamesItsHolderOnlyWhenItHoldsAProcessId) {
    foundationtest::ScratchFolder folder;
    const std::pair<std::string, std::optional<long>> cases[] = {
        {"4242\n", 4242}, {"17", 17}, {"", std::nullopt}, {"\n", std::nullopt},
        {"12x\n", std::nullopt}, {"-5\n", std::nullopt}, {"0\n", std::nullopt},
        {" 12\n", std::nullopt}, {"12\n13\n", std::nullopt},
        {std::string(40, '9') + "\n", std::nullopt},
    };
    for (const auto& [contents, pid] : cases) {
        SCOPED_TRACE(contents);
        std::ofstream(folder / "instance.lock", std::ios::trunc) << contents;
        EXPECT_EQ(gtk::SingleInstance::lockHolder(folder / "instance.lock"), pid);
    }
    EXPECT_EQ(gtk::SingleInstance::lockHolder(folder / "none.lock"), std::nullopt);
    EXPECT_EQ(ProfileInstance::inUseMessage(4242),
              "orvandel: this profile is in use by a running Orvandel (process 4242)\n");
    EXPECT_EQ(ProfileInstance::inUseMessage(std::nullopt),
              "orvandel: this profile is in use by a running Orvandel\n");
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
    // It names the running process, as the lock files tell.
    EXPECT_NE(contentsOf(root / "third.txt")
                  .find("this profile is in use by a running Orvandel (process " +
                        std::to_string(firstPid) + ")\n"),
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
