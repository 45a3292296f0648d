#include <gtest/gtest.h>

#include <gio/gio.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

#include "foundation/ScratchFolder.h"
#include "simdevice/SimUsbmuxServer.h"

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

// The real program, started with its folders in a scratch home and a bundle of its own
// (without the resource pack, which it then logs as an error, unless asked for), its
// standard error read line by line.
class RunningApp {
public:
    explicit RunningApp(const fs::path& root,
                        std::vector<std::pair<const char*, std::string>> more = {},
                        bool withPack = false) {
        fs::create_directories(root / "bundle");
        for (const char* file : {"Info.plist", "resource.dat"}) {
            if (withPack || std::string(file) != "resource.dat")
                fs::copy_file(fs::path(ORVANDEL_BUNDLE_SOURCE) / file, root / "bundle" / file);
        }
        GSubprocessLauncher* launcher = g_subprocess_launcher_new(
            GSubprocessFlags(G_SUBPROCESS_FLAGS_STDERR_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE));
        const std::pair<const char*, fs::path> folders[] = {
            {"HOME", root},
            {"XDG_CONFIG_HOME", root / "config"},
            {"XDG_DATA_HOME", root / "data"},
            {"XDG_STATE_HOME", root / "state"},
            {"XDG_CACHE_HOME", root / "cache"},
            {"ORVANDEL_BUNDLE_DIR", root / "bundle"},
        };
        for (const auto& [name, path] : folders)
            g_subprocess_launcher_setenv(launcher, name, path.c_str(), TRUE);
        for (const auto& [name, value] : more)
            g_subprocess_launcher_setenv(launcher, name, value.c_str(), TRUE);
#if defined(__SANITIZE_ADDRESS__)
        std::ofstream(root / "leaks.supp") << __lsan_default_suppressions();
        const std::string leaks = "suppressions=" + (root / "leaks.supp").string();
        g_subprocess_launcher_setenv(launcher, "LSAN_OPTIONS", leaks.c_str(), TRUE);
#endif
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

}  // namespace
