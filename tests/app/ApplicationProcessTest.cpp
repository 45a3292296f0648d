#include <gtest/gtest.h>

#include <gio/gio.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/ScratchFolder.h"

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

// The real program, started with its folders in a scratch home and a bundle without the
// resource pack (which it logs as an error), then sent a signal once its page is asked for.
TEST(ApplicationProcess, QuitsInOrderOnSigtermAndSigintKeepingItsLogAndFolders) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        foundationtest::ScratchFolder home;
        const fs::path root(home.path());
        fs::create_directories(root / "bundle");
        fs::copy_file(fs::path(ORVANDEL_BUNDLE_SOURCE) / "Info.plist", root / "bundle/Info.plist");

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
#if defined(__SANITIZE_ADDRESS__)
        std::ofstream(root / "leaks.supp") << __lsan_default_suppressions();
        const std::string leaks = "suppressions=" + (root / "leaks.supp").string();
        g_subprocess_launcher_setenv(launcher, "LSAN_OPTIONS", leaks.c_str(), TRUE);
#endif
        GError* error = nullptr;
        GSubprocess* app = g_subprocess_launcher_spawn(launcher, &error, ORVANDEL_APP, nullptr);
        g_object_unref(launcher);
        ASSERT_NE(app, nullptr) << error->message;

        // The page's first request shows that the main loop runs.
        GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stderr_pipe(app));
        std::string output;
        auto readLine = [&] {
            char* line = g_data_input_stream_read_line_utf8(lines, nullptr, nullptr, nullptr);
            const bool read = line != nullptr;
            output += read ? std::string(line) + "\n" : "";
            g_free(line);
            return read;
        };
        while (output.find("myapp://") == std::string::npos && readLine()) {
        }
        EXPECT_NE(output.find("myapp://"), std::string::npos) << output;

        g_subprocess_send_signal(app, signal);
        while (readLine()) {
        }
        g_object_unref(lines);
        ASSERT_TRUE(g_subprocess_wait(app, nullptr, &error));
        EXPECT_TRUE(g_subprocess_get_if_exited(app)) << output;
        EXPECT_EQ(g_subprocess_get_exit_status(app), 0) << output;
        g_object_unref(app);

        EXPECT_NE(contentsOfFilesUnder(root / "state/Orvandel/Logs").find("[ERROR] Failed to load"),
                  std::string::npos);
        // Browser storage lives in the application's own folders.
        EXPECT_TRUE(fs::exists(root / "data/Orvandel/WebKit"));
        EXPECT_FALSE(fs::exists(root / "data/orvandel"));
        EXPECT_FALSE(fs::exists(root / "cache/orvandel"));
    }
}

}  // namespace
