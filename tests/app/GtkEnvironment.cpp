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
        // Preferences written by the tests go to a folder of their own.
        static std::string config = std::string(g_get_tmp_dir()) + "/orvandel-app-XXXXXX";
        ASSERT_NE(g_mkdtemp(config.data()), nullptr);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        int argc = 0;
        char** argv = nullptr;
        ASSERT_TRUE(gtk::Application::initialize(argc, argv)) << "no display: run under xvfb-run";
    }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace
