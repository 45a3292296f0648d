#include <gtest/gtest.h>

#include <glib.h>

#include <cstdlib>
#include <string>

#include "platform/gtk/Application.h"

namespace {

// The browser-view tests need a display (xvfb-run gives one) and GTK set up once.
class GtkEnvironment : public testing::Environment {
public:
    void SetUp() override {
        // Preferences, data, logs and caches of the tests go to a folder of their own.
        static std::string home = std::string(g_get_tmp_dir()) + "/orvandel-app-XXXXXX";
        ASSERT_NE(g_mkdtemp(home.data()), nullptr);
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            setenv(name, (home + "/" + name).c_str(), 1);
        int argc = 0;
        char** argv = nullptr;
        ASSERT_TRUE(gtk::Application::initialize(argc, argv)) << "no display: run under xvfb-run";
    }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace
