#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gtk/Application.h"

namespace {

// The browser-view tests need a display (xvfb-run gives one) and GTK set up once.
class GtkEnvironment : public testing::Environment {
public:
    void SetUp() override {
        int argc = 0;
        char** argv = nullptr;
        ASSERT_TRUE(gtk::Application::initialize(argc, argv)) << "no display: run under xvfb-run";
    }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace
